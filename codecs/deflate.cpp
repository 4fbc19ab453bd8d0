// The deflate compressor, the zlib and gzip wrappers around it, and the
// method words. The compressed bytes are a function of the input alone:
// the hash, the bucket and slot choice and the first-fit match rule below
// are the format's contract with anything that compares our output, so a
// change to any of them changes every stream written.
#include <array>
#include <cstring>

#include "codecs/deflate.hpp"
#include "codecs/deflate_tables.hpp"
#include "codecs/checksum.hpp"
#include "runtime/symbols.hpp"

namespace qel::deflate {

namespace {

using namespace tables;

// Bits go out least significant first. A byte past the capacity is
// counted, not stored, so the final count is the size needed.
struct BitWriter {
    uint8_t* out;
    size_t capacity;
    size_t used = 0;
    uint64_t bits = 0;
    unsigned count = 0;

    void byte(uint8_t b) {
        if (used < capacity) out[used] = b;
        used++;
    }
    // n is at most 32.
    void put(uint32_t value, unsigned n) {
        bits |= static_cast<uint64_t>(value) << count;
        count += n;
        if (count >= 32) {
            if (used + 4 <= capacity) {
                out[used] = uint8_t(bits);
                out[used + 1] = uint8_t(bits >> 8);
                out[used + 2] = uint8_t(bits >> 16);
                out[used + 3] = uint8_t(bits >> 24);
                used += 4;
            } else {
                for (int k = 0; k < 4; k++) byte(uint8_t(bits >> (8 * k)));
            }
            bits >>= 32;
            count -= 32;
        }
    }
    // Pads the last byte with zero bits.
    void finish() {
        while (count > 0) {
            byte(uint8_t(bits));
            bits >>= 8;
            count = count > 8 ? count - 8 : 0;
        }
    }
};

constexpr uint32_t reverse_bits(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++) r |= ((code >> i) & 1) << (length - 1 - i);
    return r;
}

// The fixed literal/length code of each symbol, bit-reversed for output,
// in the low 16 bits; its length above.
constexpr std::array<uint32_t, 288> make_fixed_codes() {
    std::array<uint32_t, 288> table{};
    for (uint32_t s = 0; s < 288; s++) {
        uint32_t code;
        if (s < 144) code = 0x30 + s;
        else if (s < 256) code = 0x190 + (s - 144);
        else if (s < 280) code = s - 256;
        else code = 0xC0 + (s - 280);
        const unsigned len = fixed_length(s);
        table[s] = reverse_bits(code, len) | len << 16;
    }
    return table;
}
constexpr std::array<uint32_t, 288> FIXED_CODES = make_fixed_codes();

// For each match length 3 to 258: its length code - 257.
constexpr std::array<uint8_t, 259> make_length_codes() {
    std::array<uint8_t, 259> table{};
    for (uint32_t code = 0; code < 29; code++) {
        // Code 27 would reach 258, which code 28, written after it, takes.
        const uint32_t last = LENGTH_BASE[code] + (1u << LENGTH_EXTRA[code]) - 1;
        for (uint32_t len = LENGTH_BASE[code]; len <= last && len <= 258; len++) table[len] = uint8_t(code);
    }
    return table;
}
constexpr std::array<uint8_t, 259> LENGTH_CODES = make_length_codes();

void put_symbol(BitWriter& w, uint32_t symbol) {
    const uint32_t entry = FIXED_CODES[symbol];
    w.put(entry & 0xFFFF, entry >> 16);
}

void put_match(BitWriter& w, uint32_t length, uint32_t distance) {
    const uint32_t lcode = LENGTH_CODES[length];
    put_symbol(w, 257 + lcode);
    if (LENGTH_EXTRA[lcode]) w.put(length - LENGTH_BASE[lcode], LENGTH_EXTRA[lcode]);
    // Distance codes pair up by powers of two: code 2n or 2n + 1 covers
    // distances with n + 1 significant bits (less one) beyond the first four.
    const uint32_t x = distance - 1;
    uint32_t dcode;
    if (x < 4) {
        dcode = x;
    } else {
        const uint32_t n = 31u - static_cast<uint32_t>(__builtin_clz(x));
        dcode = 2 * n + ((x >> (n - 1)) & 1);
    }
    w.put(reverse_bits(dcode, 5), 5);
    if (DIST_EXTRA[dcode]) w.put(distance - DIST_BASE[dcode], DIST_EXTRA[dcode]);
}

constexpr uint32_t BUCKETS = 1024;
constexpr uint32_t SLOTS = 4;

uint32_t bucket_of(const uint8_t* p) {
    const uint32_t b0 = p[0], b1 = p[1], b2 = p[2];
    uint32_t x = (b0 ^ (b0 << 16 | b1 << 8 | b2)) * 0x7FEB352Du;
    x ^= x >> 15;
    x *= 0x846CA68Bu;
    x ^= x >> 16;
    return x & (BUCKETS - 1);
}

// The deflate stream of the input through a bit writer: one final block
// with the fixed codes.
void write_stream(BitWriter& w, const uint8_t* in, size_t length) {
    // Positions below 3 are never stored, so 0 marks an empty slot.
    uint32_t table[BUCKETS][SLOTS];
    std::memset(table, 0, sizeof table);
    w.put(1, 1);  // final block
    w.put(1, 2);  // fixed codes
    size_t p = 0;
    while (p < length) {
        if (p < 3 || length - p < 3) {
            put_symbol(w, in[p]);
            p++;
            continue;
        }
        const uint32_t bucket = bucket_of(in + p);
        size_t q = p + 1;
        bool matched = false;
        for (uint32_t s = 0; s < SLOTS; s++) {
            const size_t e = table[bucket][s];
            if (e == 0 || e >= p || p - e >= WINDOW) continue;
            if (in[e] != in[p] || in[e + 1] != in[p + 1] || in[e + 2] != in[p + 2]) continue;
            const size_t limit = length - p < MAX_MATCH ? length - p : MAX_MATCH;
            size_t len = 3;
            while (len < limit && in[e + len] == in[p + len]) len++;
            put_match(w, static_cast<uint32_t>(len), static_cast<uint32_t>(p - e));
            q = p + len;
            matched = true;
            break;
        }
        if (!matched) put_symbol(w, in[p]);
        const int32_t next1 = q + 1 < length ? in[q + 1] : 0;
        const int32_t next2 = q + 2 < length ? in[q + 2] : 0;
        table[bucket][((next1 >> 6) - next2) & 3] = static_cast<uint32_t>(p);
        p = q;
    }
    put_symbol(w, 256);
    w.finish();
}

// Streams beyond 4 GiB less a little do not fit the 32-bit positions of
// the match table (nor any series); refused as malformed input.
constexpr size_t MAX_INPUT = 0xFFFFFF00u;

void put_be32(BitWriter& w, uint32_t v) {
    for (int k = 3; k >= 0; k--) w.byte(uint8_t(v >> (8 * k)));
}

void put_le32(BitWriter& w, uint32_t v) {
    for (int k = 0; k < 4; k++) w.byte(uint8_t(v >> (8 * k)));
}

int finish(const BitWriter& w, size_t* size) {
    *size = w.used;
    return w.used > w.capacity ? TOO_SMALL : DONE;
}

const char* const METHOD_NAMES[] = {"zlib", "deflate", "gzip"};

bool same_name_any_case(const char* a, uint32_t a_length, const char* b) {
    if (a_length != std::strlen(b)) return false;
    for (uint32_t i = 0; i < a_length; i++) {
        char c = a[i];
        if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
        if (c != b[i]) return false;
    }
    return true;
}

}  // namespace

int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    if (length > MAX_INPUT) return MALFORMED;
    BitWriter w{out, *size};
    write_stream(w, in, length);
    return finish(w, size);
}

void init_method_words() {
    for (const char* name : METHOD_NAMES) symbol::intern_any_case(name);
}

// By name rather than by ids kept from start-up: nothing to go stale when
// the symbol table is made anew, and a case variant's canonical symbol
// differs from the method's spelling only in ASCII letter case.
Method method_of(int32_t canonical_symbol) {
    const char* name = symbol::name(canonical_symbol);
    const uint32_t length = symbol::name_length(canonical_symbol);
    for (int m = 0; m < 3; m++)
        if (same_name_any_case(name, length, METHOD_NAMES[m])) return static_cast<Method>(m);
    return NO_METHOD;
}

}  // namespace qel::deflate

namespace qel::zlib {

int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    using namespace deflate;
    if (length > MAX_INPUT) return MALFORMED;
    BitWriter w{out, *size};
    w.byte(0x78);
    w.byte(0x01);
    write_stream(w, in, length);
    put_be32(w, checksum::adler32(in, length));
    return finish(w, size);
}

}  // namespace qel::zlib

namespace qel::gzip {

int compress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    using namespace deflate;
    if (length > MAX_INPUT) return MALFORMED;
    BitWriter w{out, *size};
    static constexpr uint8_t header[10] = {0x1F, 0x8B, 0x08, 0, 0, 0, 0, 0, 4, 4};
    for (uint8_t b : header) w.byte(b);
    write_stream(w, in, length);
    put_le32(w, checksum::crc32(in, length));
    put_le32(w, static_cast<uint32_t>(length));
    return finish(w, size);
}

}  // namespace qel::gzip

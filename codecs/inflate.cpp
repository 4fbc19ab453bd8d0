// The inflater (stored, fixed and dynamic blocks) and the zlib and gzip
// readers on top of it.
//
// Codes are decoded through two-level tables: a root table indexed by the
// next ROOT bits of input, whose entries either give a symbol and its
// length or point to a sub-table for the codes longer than ROOT. A code
// set that is over-subscribed, or incomplete beyond the one case the
// format allows (a single code of one bit), is refused when the table is
// built; the holes of an allowed incomplete set stay invalid entries that
// fail when read. The fixed code's tables are built once and kept; a
// dynamic block's live on the stack.
//
// Reading runs ahead of the decoder by whole bytes but never past the
// input: near the end the bit buffer is filled one byte at a time, and a
// code or field that needs more bits than are left fails as malformed.
#include <cstring>
#include <initializer_list>

#include "codecs/deflate.hpp"
#include "codecs/deflate_tables.hpp"
#include "codecs/checksum.hpp"

namespace qel::deflate {

namespace {

using namespace tables;

// ---- bit reader --------------------------------------------------------------

struct BitReader {
    const uint8_t* in;
    size_t length;
    size_t pos = 0;       // next byte not yet in the buffer
    uint64_t bits = 0;    // least significant bit is the next one
    unsigned count = 0;   // bits in the buffer

    void refill() {
        if (length - pos >= 8) {
            // Eight bytes at once: the bytes beyond the ones counted land
            // where the next refill puts them again, so they do no harm.
            uint64_t v = 0;
            for (int k = 7; k >= 0; k--) v = v << 8 | in[pos + k];
            bits |= v << count;
            pos += (63 - count) >> 3;
            count |= 56;
        } else {
            while (count <= 56 && pos < length) {
                bits |= static_cast<uint64_t>(in[pos++]) << count;
                count += 8;
            }
        }
    }
    bool need(unsigned n) {
        if (count < n) refill();
        return count >= n;
    }
    uint32_t take(unsigned n) {
        const uint32_t v = static_cast<uint32_t>(bits & ((uint64_t{1} << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    // Drops the bits up to the next byte boundary and gives the whole bytes
    // still buffered back to the input, so that pos is the next byte.
    void align_to_byte() {
        count -= count & 7;
        pos -= count >> 3;
        bits = 0;
        count = 0;
    }
};

// ---- output ------------------------------------------------------------------

// Bytes past the capacity are counted and not stored. A copy's source lies
// before its destination, so a destination inside the capacity always
// reads stored bytes.
struct Output {
    uint8_t* out;
    size_t capacity;
    size_t total = 0;

    void literal(uint8_t b) {
        if (total < capacity) out[total] = b;
        total++;
    }
    void copy(size_t distance, size_t length) {
        if (total + length <= capacity) {
            uint8_t* dst = out + total;
            const uint8_t* src = dst - distance;
            if (distance >= length) {
                std::memcpy(dst, src, length);
            } else {
                for (size_t i = 0; i < length; i++) dst[i] = src[i];
            }
        } else if (total < capacity) {
            const size_t stored = capacity - total;
            for (size_t i = 0; i < stored; i++) out[total + i] = out[total + i - distance];
        }
        total += length;
    }
    void bytes(const uint8_t* src, size_t length) {
        if (total < capacity) {
            const size_t room = capacity - total;
            std::memcpy(out + total, src, length < room ? length : room);
        }
        total += length;
    }
};

// ---- code tables ---------------------------------------------------------------

// Entry: bits 0-15 the symbol (or the offset of a sub-table), bits 16-19 the
// bits the entry consumes (or the index width of the sub-table), LINK for a
// sub-table pointer, VALID for a symbol. 0 is a hole.
constexpr uint32_t VALID = 1u << 20;
constexpr uint32_t LINK = 1u << 21;

constexpr unsigned LIT_ROOT = 10;
constexpr unsigned DIST_ROOT = 8;
constexpr unsigned CODES_ROOT = 7;
constexpr unsigned MAX_BITS = 15;

// At most one sub-table per symbol longer than the root, each of at most
// 2^(15 - root) entries.
constexpr size_t LIT_TABLE_SIZE = (1u << LIT_ROOT) + 288 * (1u << (MAX_BITS - LIT_ROOT));
constexpr size_t DIST_TABLE_SIZE = (1u << DIST_ROOT) + 32 * (1u << (MAX_BITS - DIST_ROOT));
constexpr size_t CODES_TABLE_SIZE = 1u << CODES_ROOT;

enum class CodeKind { CODE_LENGTHS, LITERALS, DISTANCES };

uint32_t reverse(uint32_t code, unsigned length) {
    uint32_t r = 0;
    for (unsigned i = 0; i < length; i++, code >>= 1) r = r << 1 | (code & 1);
    return r;
}

// Builds the canonical code of n code lengths (0 for an unused symbol).
// Refuses an over-subscribed set, and an incomplete one except a single
// one-bit code of literals or distances. A set with no code at all is
// allowed for those two; its table is all holes.
bool build_table(const uint8_t* lengths, unsigned n, unsigned root, CodeKind kind, uint32_t* table,
                 size_t capacity) {
    unsigned count[MAX_BITS + 1] = {};
    for (unsigned s = 0; s < n; s++) count[lengths[s]]++;
    count[0] = 0;
    unsigned max = MAX_BITS;
    while (max > 0 && count[max] == 0) max--;
    const size_t root_size = size_t{1} << root;
    std::memset(table, 0, root_size * sizeof(uint32_t));
    if (max == 0) return kind != CodeKind::CODE_LENGTHS;

    int left = 1;
    for (unsigned len = 1; len <= MAX_BITS; len++) {
        left = left * 2 - static_cast<int>(count[len]);
        if (left < 0) return false;
    }
    if (left > 0 && (kind == CodeKind::CODE_LENGTHS || max != 1)) return false;

    uint32_t next[MAX_BITS + 2] = {};
    for (unsigned len = 1; len < MAX_BITS; len++) next[len + 1] = (next[len] + count[len]) << 1;

    const unsigned sub_bits = max > root ? max - root : 0;
    const size_t sub_size = size_t{1} << sub_bits;
    size_t used = root_size;
    for (unsigned s = 0; s < n; s++) {
        const unsigned len = lengths[s];
        if (len == 0) continue;
        const uint32_t r = reverse(next[len]++, len);
        if (len <= root) {
            const uint32_t e = VALID | len << 16 | s;
            for (size_t k = r; k < root_size; k += size_t{1} << len) table[k] = e;
            continue;
        }
        const uint32_t low = r & static_cast<uint32_t>(root_size - 1);
        if (!(table[low] & LINK)) {
            if (used + sub_size > capacity) return false;
            table[low] = LINK | sub_bits << 16 | static_cast<uint32_t>(used);
            std::memset(table + used, 0, sub_size * sizeof(uint32_t));
            used += sub_size;
        }
        uint32_t* sub = table + (table[low] & 0xFFFF);
        const uint32_t e = VALID | (len - root) << 16 | s;
        for (size_t k = r >> root; k < sub_size; k += size_t{1} << (len - root)) sub[k] = e;
    }
    return true;
}

// Decodes one symbol; -1 for a hole or for input that ends inside the code.
inline int decode(BitReader& br, const uint32_t* table, unsigned root) {
    br.need(MAX_BITS);
    uint32_t e = table[br.bits & ((1u << root) - 1)];
    unsigned consumed = 0;
    if (e & LINK) {
        const unsigned sub_bits = (e >> 16) & 0xF;
        e = table[(e & 0xFFFF) + ((br.bits >> root) & ((1u << sub_bits) - 1))];
        consumed = root;
    }
    if (!(e & VALID)) return -1;
    consumed += (e >> 16) & 0xF;
    if (consumed > br.count) return -1;
    br.take(consumed);
    return static_cast<int>(e & 0xFFFF);
}

struct Tables {
    uint32_t lit[LIT_TABLE_SIZE];
    uint32_t dist[DIST_TABLE_SIZE];
};

// The tables of the fixed code, built once. Distance codes 30 and 31 have
// codes here, as the format gives them, and are refused when read.
const Tables& fixed_tables() {
    static const Tables* const fixed = [] {
        static Tables t;
        uint8_t lengths[288];
        for (unsigned s = 0; s < 288; s++) lengths[s] = fixed_length(s);
        build_table(lengths, 288, LIT_ROOT, CodeKind::LITERALS, t.lit, LIT_TABLE_SIZE);
        uint8_t dist_lengths[32];
        std::memset(dist_lengths, 5, sizeof dist_lengths);
        build_table(dist_lengths, 32, DIST_ROOT, CodeKind::DISTANCES, t.dist, DIST_TABLE_SIZE);
        return &t;
    }();
    return *fixed;
}

// Reads a dynamic block's code description into the tables.
int read_dynamic_tables(BitReader& br, Tables& t) {
    if (!br.need(14)) return MALFORMED;
    const unsigned hlit = br.take(5) + 257;
    const unsigned hdist = br.take(5) + 1;
    const unsigned hclen = br.take(4) + 4;
    if (hlit > 286) return MALFORMED;

    uint8_t cl_lengths[19] = {};
    for (unsigned i = 0; i < hclen; i++) {
        if (!br.need(3)) return MALFORMED;
        cl_lengths[CODE_LENGTH_ORDER[i]] = static_cast<uint8_t>(br.take(3));
    }
    uint32_t cl_table[CODES_TABLE_SIZE];
    if (!build_table(cl_lengths, 19, CODES_ROOT, CodeKind::CODE_LENGTHS, cl_table, CODES_TABLE_SIZE))
        return MALFORMED;

    uint8_t lengths[286 + 32];
    const unsigned n = hlit + hdist;
    unsigned i = 0;
    while (i < n) {
        const int sym = decode(br, cl_table, CODES_ROOT);
        if (sym < 0) return MALFORMED;
        if (sym < 16) {
            lengths[i++] = static_cast<uint8_t>(sym);
            continue;
        }
        uint8_t value = 0;
        unsigned repeat;
        if (sym == 16) {
            if (i == 0 || !br.need(2)) return MALFORMED;
            value = lengths[i - 1];
            repeat = 3 + br.take(2);
        } else if (sym == 17) {
            if (!br.need(3)) return MALFORMED;
            repeat = 3 + br.take(3);
        } else {
            if (!br.need(7)) return MALFORMED;
            repeat = 11 + br.take(7);
        }
        if (repeat > n - i) return MALFORMED;
        std::memset(lengths + i, value, repeat);
        i += repeat;
    }
    // A block that cannot end is refused before it is read.
    if (lengths[256] == 0) return MALFORMED;
    if (!build_table(lengths, hlit, LIT_ROOT, CodeKind::LITERALS, t.lit, LIT_TABLE_SIZE)) return MALFORMED;
    if (!build_table(lengths + hlit, hdist, DIST_ROOT, CodeKind::DISTANCES, t.dist, DIST_TABLE_SIZE))
        return MALFORMED;
    return DONE;
}

int inflate_codes(BitReader& br, Output& o, const Tables& t) {
    for (;;) {
        const int sym = decode(br, t.lit, LIT_ROOT);
        if (sym < 0) return MALFORMED;
        if (sym < 256) {
            o.literal(static_cast<uint8_t>(sym));
            continue;
        }
        if (sym == 256) return DONE;
        const unsigned lcode = static_cast<unsigned>(sym) - 257;
        if (lcode >= 29) return MALFORMED;  // 286 and 287
        size_t length = LENGTH_BASE[lcode];
        if (LENGTH_EXTRA[lcode]) {
            if (!br.need(LENGTH_EXTRA[lcode])) return MALFORMED;
            length += br.take(LENGTH_EXTRA[lcode]);
        }
        const int dcode = decode(br, t.dist, DIST_ROOT);
        if (dcode < 0 || dcode >= 30) return MALFORMED;
        size_t distance = DIST_BASE[dcode];
        if (DIST_EXTRA[dcode]) {
            if (!br.need(DIST_EXTRA[dcode])) return MALFORMED;
            distance += br.take(DIST_EXTRA[dcode]);
        }
        if (distance > o.total) return TOO_FAR_BACK;
        o.copy(distance, length);
    }
}

int inflate_stored(BitReader& br, Output& o) {
    br.align_to_byte();
    if (br.length - br.pos < 4) return MALFORMED;
    const uint8_t* p = br.in + br.pos;
    const uint32_t len = p[0] | p[1] << 8;
    const uint32_t nlen = p[2] | p[3] << 8;
    // The one check a stored block carries: without it a damaged header
    // copies the wrong bytes and reports success.
    if ((len ^ 0xFFFF) != nlen) return MALFORMED;
    br.pos += 4;
    if (len > br.length - br.pos) return STORED_PAST_INPUT;
    o.bytes(br.in + br.pos, len);
    br.pos += len;
    return DONE;
}

}  // namespace

int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    BitReader br{in, length};
    Output o{out, *size};
    Tables dynamic;
    for (;;) {
        // Input that ends before the final block is cut short, not done.
        if (!br.need(3)) return MALFORMED;
        const bool last = br.take(1);
        int r;
        switch (br.take(2)) {
        case 0:
            r = inflate_stored(br, o);
            break;
        case 1:
            r = inflate_codes(br, o, fixed_tables());
            break;
        case 2:
            r = read_dynamic_tables(br, dynamic);
            if (r == DONE) r = inflate_codes(br, o, dynamic);
            break;
        default:
            return RESERVED_BLOCK;
        }
        if (r != DONE) return r;
        if (last) break;
    }
    *size = o.total;
    return o.total > o.capacity ? TOO_SMALL : DONE;
}

}  // namespace qel::deflate

namespace qel::zlib {

int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    using namespace deflate;
    // Two header bytes and the checksum at the least.
    if (length < 6) return MALFORMED;
    const uint32_t cmf = in[0], flg = in[1];
    if ((cmf * 256 + flg) % 31 != 0 || (cmf & 0x0F) != 8 || (cmf & 0x80) || (flg & 0x20)) return MALFORMED;
    const int r = deflate::decompress(out, size, in + 2, length - 6);
    if (r != DONE) return r;
    const uint8_t* t = in + length - 4;
    const uint32_t expected = uint32_t(t[0]) << 24 | uint32_t(t[1]) << 16 | uint32_t(t[2]) << 8 | t[3];
    return checksum::adler32(out, *size) == expected ? DONE : MALFORMED;
}

}  // namespace qel::zlib

namespace qel::gzip {

namespace {

constexpr uint8_t FHCRC = 2, FEXTRA = 4, FNAME = 8, FCOMMENT = 16;

uint32_t le32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

}  // namespace

int decompress(uint8_t* out, size_t* size, const uint8_t* in, size_t length) {
    using namespace deflate;
    // Header, the shortest deflate data and the trailer take 20 bytes; less
    // than 18 cannot even hold header and trailer.
    if (length < 18) return MALFORMED;
    if (in[0] != 0x1F || in[1] != 0x8B || in[2] != 8 || in[3] >= 32) return MALFORMED;
    const uint8_t flags = in[3];
    // The header's fields may not run into the trailer.
    const size_t end = length - 8;
    size_t pos = 10;
    if (flags & FEXTRA) {
        if (end - pos < 2) return MALFORMED;
        const size_t xlen = in[pos] | in[pos + 1] << 8;
        pos += 2;
        if (end - pos < xlen) return MALFORMED;
        pos += xlen;
    }
    for (uint8_t field : {FNAME, FCOMMENT}) {
        if (!(flags & field)) continue;
        const void* zero = std::memchr(in + pos, 0, end - pos);
        if (!zero) return MALFORMED;
        pos = static_cast<const uint8_t*>(zero) - in + 1;
    }
    if (flags & FHCRC) {
        if (end - pos < 2) return MALFORMED;
        const uint32_t stored = in[pos] | in[pos + 1] << 8;
        if ((checksum::crc32(in, pos) & 0xFFFF) != stored) return MALFORMED;
        pos += 2;
    }

    const int r = deflate::decompress(out, size, in + pos, end - pos);
    if (r != DONE && r != TOO_SMALL) return r;
    // The trailer's length is only believed once the data agrees with it,
    // so that no caller sizes a buffer by an unchecked field.
    if ((*size & 0xFFFFFFFFu) != le32(in + length - 4)) return MALFORMED;
    if (r == TOO_SMALL) return TOO_SMALL;
    return checksum::crc32(out, *size) == le32(in + length - 8) ? DONE : MALFORMED;
}

}  // namespace qel::gzip

// Base 2, 16, 58 and 64 codecs (see base_n.hpp).
//
// Every character at or above 128 is invalid in every base: none of the
// alphabets has one, and taking such a code modulo 128 (or stopping at it)
// would read text that is not in the base as if it were.
#include "runtime/base_n.hpp"

#include <cstring>

namespace qel::binary {

namespace {

constexpr char BASE64_ALPHABET[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";
constexpr char BASE58_ALPHABET[] = "123456789ABCDEFGHJKLMNPQRSTUVWXYZabcdefghijkmnopqrstuvwxyz";
constexpr char HEX_DIGITS[] = "0123456789ABCDEF";
constexpr uint64_t BASE58_CHUNK = 58ull * 58 * 58 * 58 * 58;  // five digits, below 2^32

// Class tables of the codes 0-127: a digit's value, SKIP for a character
// that is ignored, BAD for one that makes the text invalid.
constexpr uint8_t SKIP = 64;
constexpr uint8_t BAD = 128;
constexpr uint8_t PAD = 65;  // "=" in base 64

struct ClassTable {
    uint8_t of[128];
};

constexpr bool is_skipped(int c) { return c == 8 || c == 9 || c == 10 || c == 12 || c == 13 || c == ' ' || c == '\''; }

constexpr ClassTable make_table(const char* alphabet, bool padding) {
    ClassTable t{};
    for (int c = 0; c < 128; c++) t.of[c] = is_skipped(c) ? SKIP : BAD;
    for (int i = 0; alphabet[i]; i++) t.of[static_cast<uint8_t>(alphabet[i])] = static_cast<uint8_t>(i);
    if (padding) t.of[static_cast<uint8_t>('=')] = PAD;
    return t;
}

constexpr ClassTable BASE64 = make_table(BASE64_ALPHABET, true);
constexpr ClassTable BASE58 = make_table(BASE58_ALPHABET, false);

// Walks the characters of a text, stepping over ";" comments (the line
// feed that ends one goes with it).
class Reader {
public:
    explicit Reader(const Units& t) : t_(t) {}
    bool next(uint32_t& c) {
        while (i_ < t_.count) {
            c = t_.at(i_++);
            if (c != ';') return true;
            while (i_ < t_.count && t_.at(i_) != '\n') i_++;
            if (i_ < t_.count) i_++;
        }
        return false;
    }

private:
    const Units& t_;
    size_t i_ = 0;
};

}  // namespace

uint32_t Units::at(size_t i) const {
    switch (width) {
        case 1: return data[i];
        case 2: {
            uint16_t u;
            std::memcpy(&u, data + 2 * i, 2);
            return u;
        }
        default: {
            uint32_t u;
            std::memcpy(&u, data + 4 * i, 4);
            return u;
        }
    }
}

// ---- encoders ----------------------------------------------------------------------

void encode_base2(const uint8_t* bytes, size_t n, std::string& out) {
    for (size_t i = 0; i < n; i++)
        for (int bit = 7; bit >= 0; bit--) out.push_back((bytes[i] >> bit) & 1 ? '1' : '0');
}

void encode_base16(const uint8_t* bytes, size_t n, std::string& out) {
    for (size_t i = 0; i < n; i++) {
        out.push_back(HEX_DIGITS[bytes[i] >> 4]);
        out.push_back(HEX_DIGITS[bytes[i] & 15]);
    }
}

void encode_base64(const uint8_t* bytes, size_t n, std::string& out) {
    size_t i = 0;
    for (; i + 3 <= n; i += 3) {
        const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8 | bytes[i + 2];
        for (int k = 18; k >= 0; k -= 6) out.push_back(BASE64_ALPHABET[(v >> k) & 63]);
    }
    if (n - i == 2) {
        const uint32_t v = uint32_t{bytes[i]} << 16 | uint32_t{bytes[i + 1]} << 8;
        out.push_back(BASE64_ALPHABET[(v >> 18) & 63]);
        out.push_back(BASE64_ALPHABET[(v >> 12) & 63]);
        out.push_back(BASE64_ALPHABET[(v >> 6) & 63]);
        out.push_back('=');
    } else if (n - i == 1) {
        const uint32_t v = uint32_t{bytes[i]} << 16;
        out.push_back(BASE64_ALPHABET[(v >> 18) & 63]);
        out.push_back(BASE64_ALPHABET[(v >> 12) & 63]);
        out.append("==");
    }
}

void encode_base58(const uint8_t* bytes, size_t n, std::string& out) {
    size_t zeros = 0;
    while (zeros < n && bytes[zeros] == 0) zeros++;
    // The number from the first non-zero byte in 32-bit limbs, most
    // significant first, divided in place by 58^5 until nothing is left:
    // each remainder gives five digits, least significant first.
    std::vector<uint32_t> limbs;
    for (size_t i = zeros; i < n; i++) {
        if ((n - i) % 4 == 0 || limbs.empty()) limbs.push_back(0);
        limbs.back() = limbs.back() << 8 | bytes[i];
    }
    std::string digits;
    size_t first = 0;
    while (first < limbs.size()) {
        uint64_t rest = 0;
        for (size_t k = first; k < limbs.size(); k++) {
            const uint64_t v = rest << 32 | limbs[k];
            limbs[k] = static_cast<uint32_t>(v / BASE58_CHUNK);
            rest = v % BASE58_CHUNK;
        }
        for (int j = 0; j < 5; j++) {
            digits.push_back(BASE58_ALPHABET[rest % 58]);
            rest /= 58;
        }
        while (first < limbs.size() && limbs[first] == 0) first++;
    }
    // The last chunk's zero digits stand before the number's first digit.
    while (!digits.empty() && digits.back() == '1') digits.pop_back();
    out.append(zeros, '1');
    out.append(digits.rbegin(), digits.rend());
}

// ---- decoders ----------------------------------------------------------------------

bool decode_base2(const Units& text, std::vector<uint8_t>& out) {
    Reader r(text);
    uint32_t c;
    uint32_t bits = 0, acc = 0;
    while (r.next(c)) {
        if (c <= ' ') continue;
        if (c != '0' && c != '1') return false;
        acc = acc << 1 | (c - '0');
        if (++bits == 8) {
            out.push_back(static_cast<uint8_t>(acc));
            bits = acc = 0;
        }
    }
    return bits == 0;
}

bool decode_base16(const Units& text, std::vector<uint8_t>& out, bool strict) {
    Reader r(text);
    uint32_t c;
    bool high = true;
    int hi = 0;
    while (r.next(c)) {
        if (c <= ' ') continue;
        const int v = hex_value(c);
        if (v < 0) return false;
        if (high) {
            hi = v;
        } else {
            out.push_back(static_cast<uint8_t>(hi << 4 | v));
        }
        high = !high;
    }
    return high || !strict;
}

bool decode_base64(const Units& text, std::vector<uint8_t>& out, bool strict) {
    Reader r(text);
    uint32_t c;
    uint32_t acc = 0, pending = 0;
    while (r.next(c)) {
        if (c >= 128) return false;
        const uint8_t k = BASE64.of[c];
        if (k == BAD) return false;
        if (k == SKIP) continue;
        if (k == PAD) {
            if (pending == 3) {
                out.push_back(static_cast<uint8_t>(acc >> 10));
                out.push_back(static_cast<uint8_t>(acc >> 2));
            } else if (pending == 2) {
                out.push_back(static_cast<uint8_t>(acc >> 4));
            } else {
                return false;
            }
            if (!strict) return true;
            // A literal holds nothing after its padding but more of it.
            while (r.next(c))
                if (c >= 128 || (BASE64.of[c] != SKIP && BASE64.of[c] != PAD)) return false;
            return true;
        }
        acc = acc << 6 | k;
        if (++pending == 4) {
            out.push_back(static_cast<uint8_t>(acc >> 16));
            out.push_back(static_cast<uint8_t>(acc >> 8));
            out.push_back(static_cast<uint8_t>(acc));
            acc = pending = 0;
        }
    }
    // Digits still pending at the end stand for the bytes they complete,
    // as if the padding were there.
    if (pending == 0) return true;
    if (strict || pending == 1) return false;
    if (pending == 3) {
        out.push_back(static_cast<uint8_t>(acc >> 10));
        out.push_back(static_cast<uint8_t>(acc >> 2));
    } else {
        out.push_back(static_cast<uint8_t>(acc >> 4));
    }
    return true;
}

bool decode_base58(const Units& text, std::vector<uint8_t>& out) {
    Reader r(text);
    uint32_t c;
    std::vector<uint8_t> digits;
    while (r.next(c)) {
        if (c >= 128) return false;
        const uint8_t k = BASE58.of[c];
        if (k == BAD) return false;
        if (k != SKIP) digits.push_back(k);
    }
    size_t zeros = 0;
    while (zeros < digits.size() && digits[zeros] == 0) zeros++;
    // The digits after the leading zeros, five at a time, multiplied into
    // 32-bit limbs (least significant first).
    std::vector<uint32_t> limbs;
    for (size_t i = zeros; i < digits.size();) {
        const size_t take = i == zeros && (digits.size() - zeros) % 5 ? (digits.size() - zeros) % 5 : 5;
        uint64_t chunk = 0, scale = 1;
        for (size_t k = 0; k < take; k++, i++) {
            chunk = chunk * 58 + digits[i];
            scale *= 58;
        }
        uint64_t carry = chunk;
        for (uint32_t& limb : limbs) {
            const uint64_t v = uint64_t{limb} * scale + carry;
            limb = static_cast<uint32_t>(v);
            carry = v >> 32;
        }
        if (carry) limbs.push_back(static_cast<uint32_t>(carry));
    }
    out.insert(out.end(), zeros, 0);
    bool leading = true;
    for (size_t k = limbs.size(); k-- > 0;)
        for (int shift = 24; shift >= 0; shift -= 8) {
            const auto b = static_cast<uint8_t>(limbs[k] >> shift);
            if (leading && b == 0) continue;
            leading = false;
            out.push_back(b);
        }
    return true;
}

// ---- by base ---------------------------------------------------------------------------

bool supported_base(int32_t base) { return base == 2 || base == 16 || base == 58 || base == 64; }

bool decode_base(int32_t base, const Units& text, std::vector<uint8_t>& out, bool strict) {
    switch (base) {
        case 2: return decode_base2(text, out);
        case 16: return decode_base16(text, out, strict);
        case 58: return decode_base58(text, out);
        case 64: return decode_base64(text, out, strict);
        default: return false;
    }
}

void encode_base(int32_t base, const uint8_t* bytes, size_t n, std::string& out) {
    switch (base) {
        case 2: encode_base2(bytes, n, out); break;
        case 16: encode_base16(bytes, n, out); break;
        case 58: encode_base58(bytes, n, out); break;
        case 64: encode_base64(bytes, n, out); break;
        default: break;
    }
}

uint64_t encoded_size(int32_t base, uint64_t n) {
    switch (base) {
        case 2: return n * 8;
        case 16: return n * 2;
        case 58: return n * 2 + 1;
        case 64: return (n + 2) / 3 * 4;
        default: return 0;
    }
}

}  // namespace qel::binary

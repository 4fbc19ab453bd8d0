// The percent codec of URLs; see percent_codec.hpp.
#include "datatypes/percent_codec.hpp"

#include "datatypes/string.hpp"
#include "runtime/unicode.hpp"

namespace qel::url {

namespace {

constexpr uint8_t NO = 255;

constexpr auto make_hex_table() {
    struct Table {
        uint8_t v[128];
    } t{};
    for (int i = 0; i < 128; i++) t.v[i] = NO;
    for (int i = 0; i < 10; i++) t.v['0' + i] = static_cast<uint8_t>(i);
    for (int i = 0; i < 6; i++) {
        t.v['A' + i] = static_cast<uint8_t>(10 + i);
        t.v['a' + i] = static_cast<uint8_t>(10 + i);
    }
    return t;
}
constexpr auto HEX = make_hex_table();

bool alnum(uint8_t c) { return (c >= '0' && c <= '9') || (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z'); }

const char UPPER_DIGITS[] = "0123456789ABCDEF";

// Bytes a UTF-8 sequence with this lead needs.
uint32_t sequence_length(uint8_t lead) { return lead < 0xE0 ? 2 : lead < 0xF0 ? 3 : 4; }

}  // namespace

const uint8_t hex_digit[128] = {
#define Q(i) HEX.v[i]
#define R8(i) Q(i), Q(i + 1), Q(i + 2), Q(i + 3), Q(i + 4), Q(i + 5), Q(i + 6), Q(i + 7)
    R8(0), R8(8), R8(16), R8(24), R8(32), R8(40), R8(48), R8(56),
    R8(64), R8(72), R8(80), R8(88), R8(96), R8(104), R8(112), R8(120),
#undef R8
#undef Q
};

bool url_literal(uint8_t c) {
    if (c >= 128) return false;
    if (alnum(c)) return true;
    switch (c) {
        case '!': case '#': case '$': case '&': case '\'': case '(': case ')': case '*': case '+': case ',':
        case '-': case '.': case '/': case ':': case '=': case '?': case '@': case '_': case '~':
            return true;
        default:
            return false;
    }
}

bool strict_literal(uint8_t c) { return c < 128 && (alnum(c) || c == '-' || c == '.' || c == '_' || c == '~'); }

bool decode_escape(const uint8_t* p, const uint8_t* end, uint8_t& out) {
    if (end - p < 3 || p[0] != '%' || p[1] >= 128 || p[2] >= 128) return false;
    const uint8_t hi = hex_digit[p[1]], lo = hex_digit[p[2]];
    if (hi == NO || lo == NO) return false;
    out = static_cast<uint8_t>(hi << 4 | lo);
    return true;
}

uint32_t encode_byte(uint32_t selector, uint8_t byte, char out[3]) {
    const bool literal = selector == STRICT_TABLE ? strict_literal(byte) : url_literal(byte);
    if (literal) {
        out[0] = static_cast<char>(byte);
        return 1;
    }
    out[0] = '%';
    out[1] = UPPER_DIGITS[byte >> 4];
    out[2] = UPPER_DIGITS[byte & 15];
    return 3;
}

void decode_bytes(const uint8_t* p, size_t n, std::vector<uint32_t>& out) {
    const uint8_t* end = p + n;
    while (p < end) {
        uint8_t b;
        if (decode_escape(p, end, b)) {
            if (b < 0xC0) {
                out.push_back(b);
                p += 3;
                continue;
            }
            // A lead byte: its continuation bytes must follow as escapes
            // and the whole must be one valid sequence.
            const uint32_t need = sequence_length(b);
            uint8_t seq[4] = {b, 0, 0, 0};
            bool complete = true;
            for (uint32_t k = 1; k < need && complete; k++) complete = decode_escape(p + 3 * k, end, seq[k]);
            if (complete) {
                uint32_t size;
                const int32_t cp = unicode::decode_one(seq, seq + need, size);
                if (cp >= 0 && size == need) {
                    out.push_back(static_cast<uint32_t>(cp));
                    p += 3 * need;
                    continue;
                }
            }
        }
        // Plain text, one character (the percent sign of an escape that
        // did not decode stands for itself).
        uint32_t size;
        const int32_t cp = unicode::decode_one(p, end, size);
        out.push_back(cp >= 0 ? static_cast<uint32_t>(cp) : 0xFFFDu);
        p += size ? size : 1;
    }
}

void encode_bytes(const uint8_t* p, size_t n, uint32_t selector, std::string& out) {
    char text[3];
    for (size_t i = 0; i < n; i++) out.append(text, encode_byte(selector, p[i], text));
}

namespace {

std::vector<uint8_t> utf8_of(const Cell* value) {
    std::vector<uint8_t> bytes(unicode::utf8_length(value, -1) + 1);
    bytes.resize(unicode::write_utf8(value, -1, bytes.data(), false));
    return bytes;
}

}  // namespace

void decode(const Cell* value, node_t out) {
    const std::vector<uint8_t> bytes = utf8_of(value);
    std::vector<uint32_t> cps;
    cps.reserve(bytes.size());
    decode_bytes(bytes.data(), bytes.size(), cps);
    for (uint32_t cp : cps) string::append_char(out, cp);
}

void encode(const Cell* value, node_t out, uint32_t selector) {
    const std::vector<uint8_t> bytes = utf8_of(value);
    std::string text;
    text.reserve(bytes.size());
    encode_bytes(bytes.data(), bytes.size(), selector, text);
    // Escapes and literal characters are all ASCII: every unit holds them.
    unicode::append_latin1(out, text.data(), text.size());
}

}  // namespace qel::url

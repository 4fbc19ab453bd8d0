// Checksums computed here (CRC-32, Adler-32, the internet checksum), the
// digests and HMAC through libcrypto, and the checksum method words.
#include "codecs/checksum.hpp"

#include <openssl/evp.h>
#include <openssl/hmac.h>

#include <array>

#include "platform/dynlib.hpp"
#include "runtime/errors.hpp"
#include "runtime/lowprint.hpp"
#include "runtime/symbols.hpp"

namespace qel::crypto {

namespace {

// The libcrypto functions called here, loaded on the first digest.
struct Crypto {
    decltype(&::EVP_MD_fetch) EVP_MD_fetch;
    decltype(&::EVP_Digest) EVP_Digest;
    decltype(&::HMAC) HMAC;

    explicit Crypto(dynlib::Binder& b) {
        b.bind(EVP_MD_fetch, "EVP_MD_fetch");
        b.bind(EVP_Digest, "EVP_Digest");
        b.bind(HMAC, "HMAC");
    }
};

// The library and the provider's algorithms, fetched once and kept for the
// life of the process: an explicit fetch spares libcrypto a name lookup on
// every digest.
struct Algorithms {
    const Crypto* library = dynlib::load<Crypto>(dynlib::Library::Crypto);
    EVP_MD* md[7] = {};
    Algorithms() {
        if (!library) return;
        md[checksum::MD5] = library->EVP_MD_fetch(nullptr, "MD5", nullptr);
        md[checksum::SHA1] = library->EVP_MD_fetch(nullptr, "SHA1", nullptr);
        md[checksum::SHA256] = library->EVP_MD_fetch(nullptr, "SHA256", nullptr);
        md[checksum::SHA384] = library->EVP_MD_fetch(nullptr, "SHA384", nullptr);
        md[checksum::SHA512] = library->EVP_MD_fetch(nullptr, "SHA512", nullptr);
    }
};

struct Bound {
    const Crypto& library;
    const EVP_MD* md;
};

// The library and the algorithm of a method code md5 to sha512;
// invalid-arg for the other codes, not-here when the library is missing or
// the provider refused the algorithm (MD5 under a FIPS-only setup).
Bound algorithm(int code) {
    if (checksum::digest_size(code) == 0) err::raise(err::INVALID_ARG);
    static const Algorithms algorithms;
    const EVP_MD* md = algorithms.md[code];
    if (!md) err::raise(err::NOT_HERE);
    return {*algorithms.library, md};
}

// libcrypto reads a null key as "keep the previous key", and a null data
// pointer is not defined even for no bytes, so empty ranges get this.
const uint8_t nothing = 0;

}  // namespace

}  // namespace qel::crypto

namespace qel::checksum {

namespace {

// CRC tables for sixteen bytes at a time. Row 0, entry n: n run through
// eight steps of the reflected polynomial, the effect of one byte on the
// register. Row k, entry n: the same byte followed by k zero bytes, so a
// byte k places before the end of a sixteen-byte group is looked up in row
// k and the sixteen lookups of a group do not wait for each other. 16 KB
// in all; eight rows run at about two thirds of the speed.
// Built by the compiler: a table made on first use would need a guard on
// every call and an allocation that the end-of-process heap release could
// pull out from under a later caller.
constexpr int CRC_SLICES = 16;
using CrcTables = std::array<std::array<uint32_t, 256>, CRC_SLICES>;

constexpr CrcTables make_crc_tables() {
    CrcTables t{};
    for (uint32_t n = 0; n < 256; n++) {
        uint32_t c = n;
        for (int k = 0; k < 8; k++) c = (c & 1) ? 0xEDB88320u ^ (c >> 1) : c >> 1;
        t[0][n] = c;
    }
    for (int k = 1; k < CRC_SLICES; k++)
        for (uint32_t n = 0; n < 256; n++) t[k][n] = (t[k - 1][n] >> 8) ^ t[0][t[k - 1][n] & 0xFF];
    return t;
}
constexpr CrcTables crc_tables = make_crc_tables();

// Four bytes as the register sees them: the first byte in the low bits,
// whatever the byte order of the host (compilers make this one load where
// the host is little-endian).
inline uint32_t le32(const uint8_t* p) {
    return uint32_t{p[0]} | uint32_t{p[1]} << 8 | uint32_t{p[2]} << 16 | uint32_t{p[3]} << 24;
}

// Adler-32 sums may run this many bytes before the modulo is due: the
// largest n with 255 n (n + 1) / 2 + (n + 1) (65521 - 1) below 2^32, so an
// unsigned 32-bit b cannot wrap inside a chunk.
constexpr size_t ADLER_CHUNK = 5552;
constexpr uint32_t ADLER_MOD = 65521;

const char* const method_names[] = {"tcp", "md5", "sha1", "crc32", "adler32", "sha256", "sha384", "sha512", "hash"};
constexpr int method_codes[] = {TCP, MD5, SHA1, CRC32, -1, SHA256, SHA384, SHA512, -1};
constexpr int METHOD_COUNT = 9;
int32_t method_symbols[METHOD_COUNT] = {};

}  // namespace

uint32_t digest_size(int code) {
    switch (code) {
        case MD5: return 16;
        case SHA1: return 20;
        case SHA256: return 32;
        case SHA384: return 48;
        case SHA512: return 64;
        default: return 0;
    }
}

uint32_t crc32(const void* data, size_t length, uint32_t crc) {
    const auto* p = static_cast<const uint8_t*>(data);
    const auto& t = crc_tables;
    uint32_t reg = ~crc;
    // Sixteen bytes per step: the register is folded into the first four,
    // and each byte's lookup already carries the shifts of the bytes after
    // it. What is left over goes a byte at a time through row 0.
    for (; length >= 16; length -= 16, p += 16) {
        const uint32_t w0 = le32(p) ^ reg;
        const uint32_t w1 = le32(p + 4);
        const uint32_t w2 = le32(p + 8);
        const uint32_t w3 = le32(p + 12);
        reg = t[15][w0 & 0xFF] ^ t[14][(w0 >> 8) & 0xFF] ^ t[13][(w0 >> 16) & 0xFF] ^ t[12][w0 >> 24] ^
              t[11][w1 & 0xFF] ^ t[10][(w1 >> 8) & 0xFF] ^ t[9][(w1 >> 16) & 0xFF] ^ t[8][w1 >> 24] ^
              t[7][w2 & 0xFF] ^ t[6][(w2 >> 8) & 0xFF] ^ t[5][(w2 >> 16) & 0xFF] ^ t[4][w2 >> 24] ^
              t[3][w3 & 0xFF] ^ t[2][(w3 >> 8) & 0xFF] ^ t[1][(w3 >> 16) & 0xFF] ^ t[0][w3 >> 24];
    }
    for (; length > 0; length--, p++) reg = t[0][(reg ^ *p) & 0xFF] ^ (reg >> 8);
    return ~reg;
}

uint32_t adler32(const void* data, size_t length, uint32_t adler) {
    const auto* p = static_cast<const uint8_t*>(data);
    uint32_t a = adler & 0xFFFF;
    uint32_t b = adler >> 16;
    while (length > 0) {
        size_t chunk = length < ADLER_CHUNK ? length : ADLER_CHUNK;
        length -= chunk;
        // Sixteen bytes at once: byte k of the group enters b 16 - k times,
        // and a enters it 16 times. The sums of a group do not depend on
        // each other, so they need not wait on b byte by byte (and the
        // compiler can put them in vector registers); a and b come out as
        // they would a byte at a time, so the chunk bound still holds.
        for (; chunk >= 16; chunk -= 16, p += 16) {
            uint32_t sum = 0, weighted = 0;
            for (int k = 0; k < 16; k++) {
                sum += p[k];
                weighted += (16 - k) * uint32_t{p[k]};
            }
            b += 16 * a + weighted;
            a += sum;
        }
        for (; chunk > 0; chunk--, p++) {
            a += *p;
            b += a;
        }
        a %= ADLER_MOD;
        b %= ADLER_MOD;
    }
    return b << 16 | a;
}

uint32_t tcp(const void* data, size_t length) {
    const auto* p = static_cast<const uint8_t*>(data);
    // 64 bits wide so that no input a process can hold overflows the sum
    // before the carries are folded back (a 32-bit sum would wrap past
    // about 128 KB of 0xFF bytes).
    uint64_t sum = 0;
    size_t i = 0;
    for (; i + 1 < length; i += 2) sum += static_cast<uint32_t>(p[i]) << 8 | p[i + 1];
    if (i < length) sum += static_cast<uint32_t>(p[i]) << 8;
    while (sum >> 16) sum = (sum & 0xFFFF) + (sum >> 16);
    return ~static_cast<uint32_t>(sum) & 0xFFFF;
}

Digest hmac_digest(const void* message, size_t length, const void* key, size_t key_length, int code) {
    const crypto::Bound bound = crypto::algorithm(code);
    const size_t block = (code == SHA384 || code == SHA512) ? 128 : 64;

    // A key longer than the digest's block is replaced by its digest. Done
    // here rather than left to libcrypto, whose key length is an int.
    Digest short_key;
    if (key_length > block) {
        short_key = crypto::digest(key, key_length, code);
        key = short_key.bytes;
        key_length = short_key.size;
    }
    Digest out{};
    unsigned int written = 0;
    const uint8_t* nothing = &crypto::nothing;
    if (!bound.library.HMAC(bound.md, key_length ? key : nothing, static_cast<int>(key_length),
              length ? static_cast<const uint8_t*>(message) : nothing, length, out.bytes, &written) ||
        written != digest_size(code))
        err::raise(err::NOT_HERE);
    out.size = written;
    return out;
}

int32_t hash_not_implemented(const void*, size_t, int32_t) {
    rt::print_values_line({rt::PrintItem::cstr("** /hash support not yet implemented; algorithm TBD.")});
    return 0;
}

void init_methods() {
    for (int i = 0; i < METHOD_COUNT; i++) method_symbols[i] = symbol::intern_any_case(method_names[i]);
}

bool is_method(int32_t canonical_symbol) {
    for (int32_t s : method_symbols)
        if (s != 0 && s == canonical_symbol) return true;
    return false;
}

int method_code(int32_t canonical_symbol) {
    for (int i = 0; i < METHOD_COUNT; i++)
        if (method_symbols[i] != 0 && method_symbols[i] == canonical_symbol) return method_codes[i];
    return -1;
}

}  // namespace qel::checksum

namespace qel::crypto {

checksum::Digest digest(const void* data, size_t length, int code) {
    const Bound bound = algorithm(code);
    checksum::Digest out{};
    unsigned int written = 0;
    if (!bound.library.EVP_Digest(length ? data : &nothing, length, out.bytes, &written, bound.md, nullptr) ||
        written != checksum::digest_size(code))
        err::raise(err::NOT_HERE);
    out.size = written;
    return out;
}

}  // namespace qel::crypto

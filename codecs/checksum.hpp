// Checksums and message digests behind the `checksum` native, and the
// CRC-32 and Adler-32 that the gzip and zlib wrappers share.
//
// CRC-32, Adler-32 and the internet checksum are our own code; MD5 and the
// SHA family (and HMAC over them) come from OpenSSL's libcrypto, the
// platform's crypto provider here, opened on the first digest. Every routine works on a byte range, so
// callers decide how a value becomes bytes (strings as UTF-8, files read in).
// Nothing here allocates series or touches the collector; the method words
// are symbols, made once at start-up.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::checksum {

// Method codes of the digest routines; adler32 and hash have none.
enum Method : int {
    TCP = 0,
    CRC32 = 1,
    MD5 = 2,
    SHA1 = 3,
    SHA256 = 4,
    SHA384 = 5,
    SHA512 = 6,
};

// Digest length in bytes for a method code, 0 for codes without a digest.
uint32_t digest_size(int code);

// A digest or HMAC: the first `size` bytes hold it. Returned by value so
// that an error raised on the way leaves nothing to free.
struct Digest {
    uint8_t bytes[64];
    uint32_t size;
};

// CRC-32 of ISO-HDLC (zlib, gzip). `crc` is the checksum of the bytes that
// came before, so a stream can be summed piece by piece; 0 to start.
uint32_t crc32(const void* data, size_t length, uint32_t crc = 0);
// Adler-32 (RFC 1950); `adler` continues an earlier sum, 1 to start.
uint32_t adler32(const void* data, size_t length, uint32_t adler = 1);
// Internet checksum (RFC 1071), 0 to 65535.
uint32_t tcp(const void* data, size_t length);

// HMAC (RFC 2104) over the digest of a method code. Codes outside md5 to
// sha512 raise the script error invalid-arg.
Digest hmac_digest(const void* message, size_t length, const void* key, size_t key_length, int code);

// `checksum/method 'hash` with an integer: prints the notice that it is not
// available and answers 0.
int32_t hash_not_implemented(const void* data, size_t length, int32_t with);

// Method words: "tcp", "md5", "sha1", "crc32", "adler32", "sha256",
// "sha384", "sha512", "hash", interned once (needs the symbol table).
void init_methods();
// True for the canonical symbol of one of the nine method words.
bool is_method(int32_t canonical_symbol);
// The method code of tcp to sha512; -1 for adler32, hash and other symbols.
int method_code(int32_t canonical_symbol);

}  // namespace qel::checksum

namespace qel::crypto {

// The digest of a byte range for a method code md5 to sha512; any other
// code raises the script error invalid-arg. A provider that refuses the
// algorithm (a FIPS-only configuration refusing MD5), or a system without
// libcrypto, raises the internal error not-here.
checksum::Digest digest(const void* data, size_t length, int code);

}  // namespace qel::crypto

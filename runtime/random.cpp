// The seeded generator (signed-arithmetic Mersenne twister) and the kernel's
// secure source.
#include "runtime/random.hpp"

#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/random.h>
#include <unistd.h>

#include "runtime/errors.hpp"
#include "runtime/murmur3.hpp"

namespace qel::random {

namespace {

constexpr int WORDS = 624;
constexpr int SHIFT = 397;

// Held in static storage rather than on the tracked heap: the state must
// outlive any release of tracked blocks, and its size never changes. The
// words are kept unsigned so that products and sums wrap without undefined
// behaviour; sar() gives the sign-copying shift the sequence depends on.
uint32_t words[WORDS];
int read_index = WORDS;

constexpr uint32_t sar(uint32_t x, int n) { return static_cast<uint32_t>(static_cast<int32_t>(x) >> n); }

void regenerate() {
    for (int k = 0; k < WORDS; k++) {
        const uint32_t y = (words[k] & 0x80000000u) | (words[(k + 1) % WORDS] & 0x7FFFFFFFu);
        words[k] = words[(k + SHIFT) % WORDS] ^ sar(y, 1) ^ ((y & 1) ? 0x9908B0DFu : 0u);
    }
    read_index = 0;
}

// The stand-in for kernels without getrandom, or sandboxes that refuse it.
bool read_urandom(uint8_t* p, size_t length) {
    const int fd = ::open("/dev/urandom", O_RDONLY | O_CLOEXEC);
    if (fd < 0) return false;
    while (length > 0) {
        const ssize_t got = ::read(fd, p, length);
        if (got < 0 && errno == EINTR) continue;
        if (got <= 0) {
            ::close(fd);
            return false;
        }
        p += got;
        length -= static_cast<size_t>(got);
    }
    ::close(fd);
    return true;
}

}  // namespace

void init() {
    seed(START_SEED);
    // The murmur default itself: any fixed nonzero value serves, and this
    // one keeps a second start-up (tools, tests) from re-keying tables that
    // were built before it.
    hashtab::seed = hashtab::DEFAULT_SEED;
}

void seed(int32_t s) {
    words[0] = static_cast<uint32_t>(s);
    for (uint32_t k = 1; k < WORDS; k++) {
        const uint32_t w = words[k - 1];
        words[k] = 1812433253u * (w ^ sar(w, 30)) + k;
    }
    read_index = 0;
}

int32_t next() {
    if (read_index >= WORDS) regenerate();
    uint32_t y = words[read_index++];
    y ^= sar(y, 11);
    y ^= (y << 7) & 0x9D2C5680u;
    y ^= (y << 15) & 0xEFC60000u;
    // The sign-copying shift makes this step clear bit 31 whenever it is
    // set: outputs are never negative.
    y ^= sar(y, 18);
    return static_cast<int32_t>(y);
}

void secure_bytes(void* buffer, size_t length) {
    auto* p = static_cast<uint8_t*>(buffer);
    while (length > 0) {
        // Large requests come back in pieces, and a signal may cut any
        // request short or make it fail with EINTR.
        const ssize_t got = ::getrandom(p, length, 0);
        if (got > 0) {
            p += got;
            length -= static_cast<size_t>(got);
            continue;
        }
        if (got < 0 && errno == EINTR) continue;
        if (got < 0 && (errno == ENOSYS || errno == EPERM) && read_urandom(p, length)) return;
        err::raise(err::NOT_HERE);
    }
}

int32_t secure_next() {
    uint32_t v;
    secure_bytes(&v, sizeof v);
    return static_cast<int32_t>(v & 0x7FFFFFFFu);
}

int32_t integer(bool secure, int32_t n) {
    return secure ? int_from(secure_next, n) : int_from(next, n);
}

}  // namespace qel::random

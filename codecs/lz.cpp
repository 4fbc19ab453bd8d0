// The LZ codec of serialized value data. The stream is fixed by the data
// already written with it (boot images, saved QELBIN files), so the
// compressor's choices are part of the format: the same hashes, the same
// candidate order, the same chain bound and the same distance penalty, or
// the bytes would differ. The decompressor trusts nothing it reads: it is
// told how long its input is and checks every field against that and
// against the length the header declares before it touches memory.
#include "codecs/lz.hpp"

#include <algorithm>
#include <bit>
#include <cstring>
#include <memory>
#include <new>

#include "runtime/heap.hpp"

namespace qel::lzcomp {

namespace {

constexpr uint32_t H3_MASK = (1u << 19) - 1;
constexpr uint32_t H4_MASK = (1u << 20) - 1;
constexpr uint32_t LINK_MASK = WINDOW - 1;
constexpr int CHAIN_STEPS = 256;
// A 3-byte match far away costs more bits than the three literals it
// replaces.
constexpr uint32_t SHORT_MATCH_REACH = 65536;

uint32_t read_u32(const uint8_t* p) {
    return uint32_t(p[0]) | uint32_t(p[1]) << 8 | uint32_t(p[2]) << 16 | uint32_t(p[3]) << 24;
}

void write_u32(uint8_t* p, uint32_t v) {
    p[0] = uint8_t(v);
    p[1] = uint8_t(v >> 8);
    p[2] = uint8_t(v >> 16);
    p[3] = uint8_t(v >> 24);
}

// Output side of the bit-stream record. Running out of room only raises a
// flag: the caller gives up at the next token.
struct BitWriter {
    uint8_t* out;
    size_t capacity;
    size_t used = 0;
    uint64_t bits = 0;
    unsigned count = 0;
    bool overflow = false;

    void byte(uint8_t b) {
        if (used >= capacity) {
            overflow = true;
            return;
        }
        out[used++] = b;
    }
    // Fields go in least significant bit first; n is at most 17.
    void put(uint32_t value, unsigned n) {
        bits |= uint64_t(value) << count;
        count += n;
        while (count >= 8) {
            byte(uint8_t(bits));
            bits >>= 8;
            count -= 8;
        }
    }
    void align() {
        if (count) byte(uint8_t(bits));
        bits = 0;
        count = 0;
    }
    void u32(uint32_t v) {
        for (int i = 0; i < 4; ++i) byte(uint8_t(v >> (8 * i)));
    }
};

// The prefixes are unary (a 1 after k zeros), written here as the number
// whose low bits come out in stream order.
void put_length(BitWriter& w, uint32_t length) {
    const uint32_t n = length - MIN_MATCH;
    if (n < 4) {
        w.put(0b1, 1);
        w.put(n, 2);
    } else if (n < 8) {
        w.put(0b10, 2);
        w.put(n - 4, 2);
    } else if (n < 12) {
        w.put(0b100, 3);
        w.put(n - 8, 2);
    } else if (n < 20) {
        w.put(0b1000, 4);
        w.put(n - 12, 3);
    } else if (n < 52) {
        w.put(0b10000, 5);
        w.put(n - 20, 5);
    } else {
        w.put(0, 5);
        w.put(n - 52, 9);
    }
}

void put_distance(BitWriter& w, uint32_t distance) {
    const uint32_t d = distance - 1;
    if (d < 8) {
        w.put(0, 4);
        w.put(d, 3);
        return;
    }
    const unsigned j = unsigned(std::bit_width(d)) - 1;  // 2^j <= d < 2^(j+1)
    w.put(j - 2, 4);
    w.put(d - (1u << j), j);
}

// Tables of one compression, taken once per call: hash heads, chain links
// and a work buffer whose slack lets the hashes and the match probes read
// past the chunk's end without a test.
struct Tables {
    std::unique_ptr<int32_t[]> head3, head4, link;
    std::unique_ptr<uint8_t[]> work;

    bool take(size_t work_size) {
        head3.reset(new (std::nothrow) int32_t[H3_MASK + 1]);
        head4.reset(new (std::nothrow) int32_t[H4_MASK + 1]);
        link.reset(new (std::nothrow) int32_t[WINDOW]);
        work.reset(new (std::nothrow) uint8_t[work_size]);
        return head3 && head4 && link && work;
    }
};

uint32_t match_length(const uint8_t* work, uint32_t candidate, uint32_t p, uint32_t limit) {
    uint32_t n = 0;
    while (n < limit && work[candidate + n] == work[p + n]) ++n;
    return n;
}

// A far candidate must beat the current best by more bytes the further it
// lies beyond the current best distance: each factor of 8 costs one byte.
uint32_t distance_penalty(uint32_t distance, uint32_t best_distance) {
    uint32_t x = distance >> 4, penalty = 0;
    while (x > best_distance) {
        x >>= 3;
        ++penalty;
    }
    return penalty;
}

void pack_chunk(Tables& t, const uint8_t* src, uint32_t len, BitWriter& w) {
    uint8_t* work = t.work.get();
    int32_t* head3 = t.head3.get();
    int32_t* head4 = t.head4.get();
    int32_t* link = t.link.get();
    std::memcpy(work, src, len);
    // Zero slack keeps the hashes of the last positions, and so the output,
    // independent of what an earlier chunk left in the buffer.
    std::memset(work + len, 0, MAX_MATCH);
    w.u32(len);
    std::fill_n(head3, H3_MASK + 1, -1);
    std::fill_n(head4, H4_MASK + 1, -1);

    uint32_t h3 = 0, h4 = 0;
    for (int i = 0; i < 3; ++i) h3 = ((h3 << 7) + work[i]) & H3_MASK;
    for (int i = 0; i < 4; ++i) h4 = ((h4 << 5) + work[i]) & H4_MASK;

    uint32_t p = 0;
    while (p < len && !w.overflow) {
        const uint32_t limit = std::min(MAX_MATCH, len - p);
        const uint32_t window_start = p > WINDOW ? p - WINDOW : 0;
        uint32_t best = 2, best_distance = WINDOW;

        // The 3-byte head is one probe of the most recent occurrence: it
        // catches runs and near repeats without walking a chain.
        int32_t c = head3[h3];
        if (c >= 0 && uint32_t(c) >= window_start && work[c] == work[p]) {
            const uint32_t n = match_length(work, uint32_t(c), p, limit);
            if (n > best) {
                best = n;
                best_distance = p - uint32_t(c);
            }
        }
        if (best < limit) {
            c = head4[h4];
            for (int steps = 0; steps < CHAIN_STEPS && c >= 0 && uint32_t(c) >= window_start; ++steps) {
                const uint32_t cand = uint32_t(c);
                // The byte just past the best so far must match for the
                // candidate to be longer; testing it first skips most.
                if (work[cand + best] == work[p + best] && work[cand] == work[p]) {
                    const uint32_t n = match_length(work, cand, p, limit);
                    if (n > best + distance_penalty(p - cand, best_distance)) {
                        best = n;
                        best_distance = p - cand;
                        if (best >= limit) break;
                    }
                }
                c = link[cand & LINK_MASK];
            }
        }
        if (best == MIN_MATCH && best_distance > SHORT_MATCH_REACH) best = 2;

        uint32_t covered;
        if (best < MIN_MATCH) {
            w.put(0, 1);
            w.put(work[p], 8);
            covered = 1;
        } else {
            w.put(1, 1);
            put_length(w, best);
            put_distance(w, best_distance);
            covered = best;
        }
        for (; covered; --covered, ++p) {
            head3[h3] = int32_t(p);
            link[p & LINK_MASK] = head4[h4];
            head4[h4] = int32_t(p);
            h3 = ((h3 << 7) + work[p + 3]) & H3_MASK;
            h4 = ((h4 << 5) + work[p + 4]) & H4_MASK;
        }
    }
    w.align();
}

// Input side of the bit-stream record. Bytes are loaded only when a field
// needs them, so the bits left over after a field always belong to the last
// byte loaded, and a chunk's end is found by dropping them.
struct BitReader {
    const uint8_t* data;
    size_t end;
    size_t pos;
    uint64_t bits = 0;
    unsigned count = 0;
    bool error = false;

    // n is at most 17; a field past the end answers 0 and raises the flag.
    uint32_t get(unsigned n) {
        while (count < n) {
            if (pos >= end) {
                error = true;
                return 0;
            }
            bits |= uint64_t(data[pos++]) << count;
            count += 8;
        }
        const uint32_t v = uint32_t(bits & ((uint64_t(1) << n) - 1));
        bits >>= n;
        count -= n;
        return v;
    }
    void align() {
        bits = 0;
        count = 0;
    }
};

uint32_t get_length(BitReader& r) {
    if (r.get(1)) return MIN_MATCH + r.get(2);
    if (r.get(1)) return MIN_MATCH + 4 + r.get(2);
    if (r.get(1)) return MIN_MATCH + 8 + r.get(2);
    if (r.get(1)) return MIN_MATCH + 12 + r.get(3);
    if (r.get(1)) return MIN_MATCH + 20 + r.get(5);
    return MIN_MATCH + 52 + r.get(9);
}

uint32_t get_distance(BitReader& r) {
    const unsigned j = r.get(4) + 2;
    if (j == 2) return r.get(3) + 1;
    return (1u << j) + r.get(j) + 1;
}

// The most bytes a stream of `packed` bytes can describe: every token of
// 22 bits yields at most MAX_MATCH bytes. A header claiming more is corrupt,
// and refusing it up front keeps a forged length from taking gigabytes.
uint64_t most_unpacked(uint64_t packed) { return packed * 8 * MAX_MATCH / 22 + MAX_MATCH; }

// Decodes the chunks of data[0 .. size) into out[0 .. unpacked); false on
// anything that does not fill out exactly.
bool unpack(const uint8_t* data, uint32_t size, uint8_t* out, uint32_t unpacked) {
    BitReader r{data, size, 0};
    uint32_t used = 0;
    while (r.pos < r.end) {
        if (r.end - r.pos < 4) return false;
        const uint32_t chunk = read_u32(r.data + r.pos);
        r.pos += 4;
        if (chunk == 0 || chunk > CHUNK_SIZE || chunk > unpacked - used) return false;
        const uint32_t start = used, stop = used + chunk;
        while (used < stop) {
            if (!r.get(1)) {
                const uint32_t b = r.get(8);
                if (r.error) return false;
                out[used++] = uint8_t(b);
                continue;
            }
            const uint32_t length = get_length(r);
            const uint32_t distance = get_distance(r);
            // Back-references stay inside their own chunk, so each chunk
            // can be checked (and decoded) on its own.
            if (r.error || distance > used - start || length > stop - used) return false;
            // Byte by byte: an overlapping source repeats what was just
            // written, which is how runs are encoded.
            const uint8_t* from = out + (used - distance);
            uint8_t* to = out + used;
            for (uint32_t i = 0; i < length; ++i) to[i] = from[i];
            used += length;
        }
        r.align();
    }
    return used == unpacked;
}

}  // namespace

int64_t pack(const uint8_t* src, size_t n, uint8_t* dst, size_t dst_capacity) {
    if (n > UINT32_MAX || dst_capacity < HEADER_SIZE || (n && !src) || !dst) return -1;
    Tables t;
    if (!t.take(std::min<size_t>(n, CHUNK_SIZE) + MAX_MATCH)) return -1;
    BitWriter w{dst + HEADER_SIZE, dst_capacity - HEADER_SIZE};
    for (size_t off = 0; off < n && !w.overflow; off += CHUNK_SIZE)
        pack_chunk(t, src + off, uint32_t(std::min<size_t>(CHUNK_SIZE, n - off)), w);
    if (w.overflow) return -1;
    write_u32(dst, uint32_t(w.used));
    write_u32(dst + 4, uint32_t(n));
    return int64_t(w.used + HEADER_SIZE);
}

uint8_t* decompress(const uint8_t* src, size_t src_len, uint32_t* out_len) {
    if (out_len) *out_len = 0;
    if (!src || src_len < HEADER_SIZE) return nullptr;
    const uint32_t packed = read_u32(src);
    const uint32_t unpacked = read_u32(src + 4);
    if (packed > src_len - HEADER_SIZE || unpacked > most_unpacked(packed)) return nullptr;

    // Eight zeroed bytes past the data: the readers of unpacked data may
    // look one word ahead of their position without a test.
    auto* out = static_cast<uint8_t*>(heap::realloc(nullptr, size_t(unpacked) + 8));
    if (!out) return nullptr;
    std::memset(out + unpacked, 0, 8);

    if (!unpack(src + HEADER_SIZE, packed, out, unpacked)) {
        heap::free(out);
        return nullptr;
    }
    if (out_len) *out_len = unpacked;
    return out;
}

}  // namespace qel::lzcomp

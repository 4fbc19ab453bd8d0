// The compress, decompress and checksum natives: they turn their arguments
// into a byte range, pick the routine by the method word and make the
// answer a value. The codecs and checksums themselves live in
// codecs/deflate.* and evaluator/checksum.*; nothing here raises on their
// behalf except to turn a result code into an error.
//
// Every byte range is re-read through its node right before a codec runs:
// making the output binary! may move the input's buffer. Buffers made here
// wait on the argument stack, where the collector sees them.
#include <fcntl.h>
#include <unistd.h>

#include <strings.h>

#include <cerrno>
#include <cstring>
#include <string>

#include "codecs/deflate.hpp"
#include "codecs/checksum.hpp"
#include "datatypes/file.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "runtime/errors.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::natives {

namespace {

// A byte range held by a node: the value's own buffer, or one made here
// and kept on the stack.
struct Bytes {
    node_t node;
    uint32_t offset;  // bytes from the buffer's head
    uint32_t length;

    const uint8_t* data() const { return series::head_ptr(series::buffer_of(node)) + offset; }
};

// A binary! from its index; past its tail it has no bytes.
Bytes binary_bytes(const Cell* value) {
    const int32_t length = series::length_of(value);
    return Bytes{series_node(value), series_index(value), length > 0 ? static_cast<uint32_t>(length) : 0};
}

// The UTF-8 form of a text from its index, in a new buffer pushed on the
// stack.
Bytes utf8_bytes(const Cell* value) {
    const node_t n = unicode::to_utf8(value, -1);
    *stack::push_slot() = Cell{TYPE_BINARY, 0, n, 0};
    return Bytes{n, 0, series::buffer_length(n)};
}

int32_t canonical_of(const Cell* word) { return symbol::canonical(word_symbol(word)); }

deflate::Method method_of(const Cell* word) {
    const deflate::Method m = deflate::method_of(canonical_of(word));
    if (m == deflate::NO_METHOD) err::raise(err::INVALID_ARG, word);
    return m;
}

using Codec = int (*)(uint8_t*, size_t*, const uint8_t*, size_t);

Codec compressor(deflate::Method m) {
    return m == deflate::ZLIB ? zlib::compress : m == deflate::GZIP ? gzip::compress : deflate::compress;
}

Codec decompressor(deflate::Method m) {
    return m == deflate::ZLIB ? zlib::decompress : m == deflate::GZIP ? gzip::decompress : deflate::decompress;
}

// A series holds at most this many bytes; larger answers are refused
// before anything is allocated.
constexpr size_t MAX_BYTES = INT32_MAX - 64;

uint32_t checked_capacity(size_t n) {
    if (n > MAX_BYTES) err::raise(err::NO_MEMORY);
    return static_cast<uint32_t>(n);
}

// Runs the codec into a new binary! of the given capacity, pushed on the
// stack. Answers the codec's result; size then holds the length written or
// needed.
int run_into_binary(Codec codec, const Bytes& in, uint32_t capacity, size_t* size, node_t* made) {
    const node_t out = memory::alloc_bytes(capacity);
    *stack::push_slot() = Cell{TYPE_BINARY, 0, out, 0};
    SeriesBuffer* s = series::buffer_of(out);
    *size = capacity;
    const int r = codec(series::head_ptr(s), size, in.data(), in.length);
    if (r == deflate::DONE) s->tail = s->head + static_cast<uint32_t>(*size);
    *made = out;
    return r;
}

[[noreturn]] void bad_data(const Cell* method) { err::raise(err::INVALID_DATA, method); }

void answer_binary(node_t n) {
    const Cell result{TYPE_BINARY, 0, n, 0};
    stack::set_last_reset(&result);
}

}  // namespace

void native_compress(const int32_t*) {
    const Cell method = stack::arg_base[1];
    const Codec codec = compressor(method_of(&method));
    const Cell* data = stack::arg_base;
    const Bytes in = cell::type_of(data) == TYPE_BINARY ? binary_bytes(data) : utf8_bytes(data);

    // Room for the usual case; a stream that grows past it (fixed codes
    // spend nine bits on some bytes) is written again at the size the
    // first pass counted.
    size_t size = 0;
    node_t out = 0;
    int r = run_into_binary(codec, in, checked_capacity(size_t{in.length} + 32), &size, &out);
    if (r == deflate::TOO_SMALL) r = run_into_binary(codec, in, checked_capacity(size), &size, &out);
    if (r != deflate::DONE) bad_data(&method);
    answer_binary(out);
}

void native_decompress(const int32_t* refinements) {
    const Cell method = stack::arg_base[1];
    const deflate::Method m = method_of(&method);
    const Codec codec = decompressor(m);
    const Bytes in = binary_bytes(stack::arg_base);

    // The size to try first: what /size says when the input could decode to
    // it, else what a counting pass without a buffer finds. gzip always
    // counts; its trailer's length is checked against the data there.
    int64_t expected = 0;
    if (refinements[0] >= 0) {
        const Cell* sz = stack::arg_base + refinements[0];
        expected = integer_value(sz);
        if (expected < 0) {
            Cell w = *word::make_from_cstr("size");
            cell::set_type(&w, TYPE_REFINEMENT);
            const Cell value = *sz;
            err::raise(err::INVALID_REFINE_ARG, &w, &value);
        }
    }
    // Deflate expands at most 1032 times (258 bytes from two bits: a one-bit
    // length code and a one-bit distance code); a hint beyond what the
    // input can give is not worth a buffer.
    size_t size = static_cast<size_t>(expected);
    if (m == deflate::GZIP || in.length >= expected || expected / 1032 > in.length) {
        size = 0;
        const int r = codec(nullptr, &size, in.data(), in.length);
        if (r != deflate::DONE && r != deflate::TOO_SMALL) bad_data(&method);
    }
    node_t out = 0;
    int r = run_into_binary(codec, in, checked_capacity(size), &size, &out);
    if (r == deflate::TOO_SMALL) r = run_into_binary(codec, in, checked_capacity(size), &size, &out);
    if (r != deflate::DONE) bad_data(&method);
    answer_binary(out);
}

namespace {

// A file's bytes, read whole into a new buffer pushed on the stack. A file
// that cannot be opened or read (a directory, say) raises cannot-open.
Bytes file_bytes(const Cell* file) {
    const std::string path = file::to_os_path(file);
    const Cell value = *file;
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0) err::raise(err::CANNOT_OPEN, &value);

    // Closed on every way out, errors included.
    struct Closer {
        int fd;
        ~Closer() { ::close(fd); }
    } closer{fd};

    // Read in pieces into a binary that grows; the buffer is re-read
    // through its node after each growth.
    const node_t out = memory::alloc_bytes(64 * 1024);
    *stack::push_slot() = Cell{TYPE_BINARY, 0, out, 0};
    for (;;) {
        SeriesBuffer* s = series::buffer_of(out);
        if (s->size - s->tail < 4096) {
            if (s->size > MAX_BYTES / 2) err::raise(err::NO_MEMORY);
            s = memory::expand_series(s, s->size * 2);
        }
        const ssize_t got = ::read(fd, series::tail_ptr(s), s->size - s->tail);
        if (got < 0 && errno == EINTR) continue;
        if (got < 0) err::raise(err::CANNOT_OPEN, &value);
        if (got == 0) break;
        s->tail += static_cast<uint32_t>(got);
    }
    return Bytes{out, 0, series::buffer_length(out)};
}

[[noreturn]] void bad_with(const Cell* value) {
    Cell w = *word::make_from_cstr("with");
    cell::set_type(&w, TYPE_REFINEMENT);
    const Cell v = *value;
    err::raise(err::INVALID_REFINE_ARG, &w, &v);
}

Cell integer_cell(uint32_t v) { return Cell{TYPE_INTEGER, 0, v, 0}; }

}  // namespace

void native_checksum(const int32_t* refinements) {
    const Cell method = stack::arg_base[1];
    const int32_t symbol = canonical_of(&method);
    if (!checksum::is_method(symbol)) err::raise(err::INVALID_ARG, &method);
    const int code = checksum::method_code(symbol);
    const Cell* with = refinements[0] >= 0 ? stack::arg_base + refinements[0] : nullptr;

    // adler32 and hash share the code -1; the name tells them apart.
    const bool adler = code < 0 && strcasecmp(symbol::name(symbol), "adler32") == 0;
    const bool integer_method = code == checksum::CRC32 || code == checksum::TCP || adler;
    const uint32_t with_type = with ? cell::type_of(with) : 0;
    const bool with_key = with_type == TYPE_STRING || with_type == TYPE_BINARY;
    if (integer_method) {
        if (with) bad_with(with);
    } else if (with && !with_key && with_type != TYPE_INTEGER) {
        const Cell v = *with;
        err::raise(err::INVALID_ARG, &v);
    } else if (code < 0 && !(with && with_type == TYPE_INTEGER)) {
        // hash: only a table size makes sense.
        bad_with(with ? with : &shared::none);
    }

    const Cell* data = stack::arg_base;
    const uint32_t dt = cell::type_of(data);
    const Bytes in = dt == TYPE_BINARY ? binary_bytes(data) : dt == TYPE_FILE ? file_bytes(data) : utf8_bytes(data);

    if (with && with_type == TYPE_INTEGER) {
        const Cell r = integer_cell(static_cast<uint32_t>(
            checksum::hash_not_implemented(in.data(), in.length, integer_value(with))));
        stack::set_last_reset(&r);
        return;
    }
    if (integer_method) {
        uint32_t sum;
        if (code == checksum::CRC32) sum = checksum::crc32(in.data(), in.length);
        else if (code == checksum::TCP) sum = checksum::tcp(in.data(), in.length);
        else sum = checksum::adler32(in.data(), in.length);
        const Cell r = integer_cell(sum);
        stack::set_last_reset(&r);
        return;
    }

    // A digest, or an HMAC keyed by the /with text (as UTF-8) or bytes.
    checksum::Digest d;
    if (with) {
        const Bytes key = with_type == TYPE_BINARY ? binary_bytes(with) : utf8_bytes(with);
        // The key's buffer may have been made after the data's: both are
        // read now, with nothing allocated in between.
        d = checksum::hmac_digest(in.data(), in.length, key.data(), key.length, code);
    } else {
        d = crypto::digest(in.data(), in.length, code);
    }
    const node_t out = memory::alloc_bytes(d.size);
    SeriesBuffer* s = series::buffer_of(out);
    std::memcpy(series::head_ptr(s), d.bytes, d.size);
    s->tail = s->head + d.size;
    answer_binary(out);
}

}  // namespace qel::natives

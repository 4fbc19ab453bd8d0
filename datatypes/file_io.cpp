// The file! actions over the platform's file layer (see file_io.hpp).
// Values become bytes here and bytes values again; the platform layer does
// the system calls without touching values.
//
// New series are put on the argument stack as soon as they are made, so
// that a collection started by the next allocation keeps them.
#include "datatypes/file_io.hpp"

#include <algorithm>
#include <optional>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/date.hpp"
#include "datatypes/file.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "platform/files.hpp"
#include "runtime/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/stack.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel::file_io {

namespace {

// The most bytes a binary! or a decoded text can be made from.
constexpr size_t MAX_BYTES = 0x7FFFFF00;

// Refinements of the read and write actions, in their spec order.
enum ReadRefinement { R_PART, R_SEEK, R_BINARY, R_LINES, R_INFO, R_AS };
enum WriteRefinement { W_BINARY, W_LINES, W_INFO, W_APPEND, W_PART, W_SEEK, W_ALLOW, W_AS };

bool has(const int32_t* r, int k) { return r[k] >= 0; }
const Cell* ref_arg(const int32_t* r, int k) { return r[k] < 0 ? nullptr : stack::arg_base + r[k]; }

[[noreturn]] void cannot_open(const Cell* file) {
    const Cell v = *file;
    err::raise(err::CANNOT_OPEN, &v);
}

// The UTF-8 bytes of n code points of a text from its index (all when n is
// negative), copied out before anything else allocates.
std::string utf8_text(const Cell* value, int32_t n) {
    const node_t u = unicode::to_utf8(value, n);
    SeriesBuffer* s = series::buffer_of(u);
    return std::string(reinterpret_cast<const char*>(series::head_ptr(s)), series::buffer_length(u));
}

// A refinement's integer argument: -1 when absent, the script error
// invalid-refine-arg when it is not an integer!.
int64_t count_of(const Cell* arg, const char* refinement) {
    if (!arg) return -1;
    if (cell::type_of(arg) != TYPE_INTEGER) {
        Cell w = *word::make_from_cstr(refinement);
        cell::set_type(&w, TYPE_REFINEMENT);
        const Cell v = *arg;
        err::raise(err::INVALID_REFINE_ARG, &w, &v);
    }
    return integer_value(arg);
}


// Appends a copy of the cell on top of the stack to the block, then drops
// it from the stack.
void append_top(const Cell* block) {
    block::append_copy(block, stack::top());
    stack::pop_n(1);
}

// ---- read ----------------------------------------------------------------------

}  // namespace

Cell* push_text(const uint8_t* bytes, size_t n, bool crlf) {
    if (n > MAX_BYTES) err::raise(err::NO_MEMORY);
    const unicode::Loaded l = unicode::load_utf8(bytes, static_cast<uint32_t>(n), 0, crlf);
    const Cell text{TYPE_STRING, 0, l.node, 0};
    return stack::push(&text);
}

Cell* push_lines(const std::vector<uint8_t>& bytes) {
    Cell* lines = block::push_new(16);
    size_t start = 0;
    // A leading byte order mark belongs to no line.
    if (unicode::starts_with_bom(bytes.data(), bytes.size())) start = 3;
    while (start < bytes.size()) {
        const auto lf = std::find(bytes.begin() + static_cast<ptrdiff_t>(start), bytes.end(), '\n');
        const size_t end = static_cast<size_t>(lf - bytes.begin());
        size_t stop = end;
        if (lf != bytes.end() && stop > start && bytes[stop - 1] == '\r') stop--;
        push_text(bytes.data() + start, stop - start, false);
        append_top(lines);
        start = end + 1;
    }
    return lines;
}

namespace {

Cell* push_listing(const Cell* dir) {
    const std::optional<std::vector<files::Entry>> entries = files::list_dir(file::to_os_path(dir));
    if (!entries) cannot_open(dir);
    Cell* listing = block::push_new(static_cast<int32_t>(std::min<size_t>(entries->size(), INT32_MAX)));
    for (const files::Entry& e : *entries) {
        const std::string name = e.directory ? e.name + "/" : e.name;
        Cell* f = push_text(reinterpret_cast<const uint8_t*>(name.data()), name.size(), false);
        cell::set_type(f, TYPE_FILE);
        append_top(listing);
    }
    return listing;
}

Cell* read(Cell* file, Cell*, const int32_t* r) {
    if (has(r, R_AS)) err::raise(err::NOT_DONE);
    const int64_t part = count_of(ref_arg(r, R_PART), "part");
    const int64_t seek = count_of(ref_arg(r, R_SEEK), "seek");
    if (dir_path(file)) return push_listing(file);

    files::ReadRequest rq;
    rq.seek = seek;
    rq.part = part;
    rq.limit = MAX_BYTES;
    const files::ReadResult got = files::read_file(file::to_os_path(file), rq);
    if (got.status == files::ReadStatus::TooLarge) err::raise(err::NO_MEMORY);
    if (got.status != files::ReadStatus::Done) cannot_open(file);
    if (has(r, R_BINARY)) return binary::load(got.bytes.data(), got.bytes.size());
    // Text that is not UTF-8 is an error that names the file.
    if (unicode::find_invalid_utf8(got.bytes.data(), got.bytes.data() + got.bytes.size())) {
        const Cell v = *file;
        err::raise(err::INVALID_UTF8, &v);
    }
    if (has(r, R_LINES)) return push_lines(got.bytes);
    return push_text(got.bytes.data(), got.bytes.size(), true);
}

// ---- write ---------------------------------------------------------------------

// The bytes a value is written as: a string! its UTF-8 text, a binary! its
// bytes, anything else its molded text; at most part characters (bytes of
// a binary!) from the index when part is 0 or more.
void append_bytes_of(const Cell* value, int64_t part, std::vector<uint8_t>& out) {
    const int32_t n = part < 0 ? -1 : static_cast<int32_t>(std::min<int64_t>(part, INT32_MAX));
    const uint32_t t = cell::type_of(value);
    if (t == TYPE_BINARY) {
        Cell v = *value;
        const uint32_t length = binary::length(&v);
        const uint32_t take = n < 0 ? length : std::min<uint32_t>(length, static_cast<uint32_t>(n));
        const uint8_t* p = binary::head_ptr(&v);
        out.insert(out.end(), p, p + take);
        return;
    }
    std::string text;
    if (t == TYPE_STRING) {
        text = utf8_text(value, n);
    } else {
        const stack::Saved saved;
        const Cell made{TYPE_STRING, 0, text::make_buffer(64), 0};
        const Cell* buffer = stack::push(&made);
        actions::mold(value, series_node(buffer), datatype::MoldOptions{}, 0, 0);
        text = utf8_text(buffer, n);
    }
    out.insert(out.end(), text.begin(), text.end());
}

Cell* write(Cell* file, Cell* data, const int32_t* r) {
    if (has(r, W_ALLOW) || has(r, W_AS)) err::raise(err::NOT_DONE);
    const int64_t part = count_of(ref_arg(r, W_PART), "part");
    const int64_t seek = count_of(ref_arg(r, W_SEEK), "seek");
    const std::string path = file::to_os_path(file);
    // A negative count writes nothing at all.
    if (part < 0 && ref_arg(r, W_PART)) return &shared::unset;

    std::vector<uint8_t> bytes;
    if (has(r, W_LINES) && cell::type_of(data) == TYPE_BLOCK) {
        const int32_t count = block::length(data);
        for (int32_t i = 0; i < count; i++) {
            // Re-read after each value: molding may move the block.
            const Cell v = *block::cell_at(data, series_index(data) + static_cast<uint32_t>(i));
            append_bytes_of(&v, -1, bytes);
            bytes.push_back('\n');
        }
    } else {
        append_bytes_of(data, part, bytes);
        if (has(r, W_LINES)) bytes.push_back('\n');
    }

    files::WriteRequest rq;
    rq.append = has(r, W_APPEND);
    rq.seek = seek;
    if (!files::write_file(path, bytes.data(), bytes.size(), rq)) cannot_open(file);
    return &shared::unset;
}

// ---- delete, query, rename -----------------------------------------------------

Cell* remove(Cell* file, Cell*, const int32_t*) {
    const std::string path = file::to_os_path(file);
    const bool ok = dir_path(file) ? files::remove_dir(path) : files::remove_file(path);
    return ok ? &shared::true_value : &shared::false_value;
}

// The time of the last change, as a UTC date!.
Cell* query(Cell* file, Cell*, const int32_t*) {
    const std::string path = file::to_os_path(file);
    const std::optional<files::Info> info = files::info(path);
    if (!info) return &shared::none;
    // A name spelled as a directory must name one.
    if (!path.empty() && path.back() == '/' && info->kind != files::Kind::Directory) return &shared::none;
    constexpr int64_t DAY = 86400;
    const int64_t s = info->modified_seconds;
    const int64_t days = (s >= 0 ? s / DAY : -((-s + DAY - 1) / DAY));
    const int64_t in_day = s - days * DAY;
    int32_t year, month, day;
    date::from_days(date::days_of(1970, 1, 1) + days, year, month, day);
    const double seconds = static_cast<double>(in_day) + info->modified_nanoseconds / 1e9;
    Cell* result = stack::push(&shared::none);
    date::make_at(result, date::pack(year, month, day) | date::TIME_FLAG, seconds);
    return result;
}

Cell* rename(Cell* from, Cell* to, const int32_t*) {
    if (!is_any_string(cell::type_of(to))) {
        const Cell v = *to;
        err::raise(err::INVALID_ARG, &v);
    }
    const std::string old_path = file::to_os_path(from);
    const std::string new_path = file::to_os_path(to);
    return files::rename(old_path, new_path) ? &shared::true_value : &shared::false_value;
}

}  // namespace

bool dir_path(const Cell* file) {
    const std::string path = utf8_text(file, -1);
    auto ends_with = [&](const char* tail) {
        const std::string t(tail);
        return path.size() >= t.size() && path.compare(path.size() - t.size(), t.size(), t) == 0;
    };
    return ends_with("/") || path == "." || path == ".." || ends_with("/.") || ends_with("/..");
}

std::vector<uint8_t> read_bytes(const Cell* file) {
    files::ReadRequest rq;
    rq.limit = MAX_BYTES;
    files::ReadResult got = files::read_file(file::to_os_path(file), rq);
    if (got.status == files::ReadStatus::TooLarge) err::raise(err::NO_MEMORY);
    if (got.status != files::ReadStatus::Done) cannot_open(file);
    return std::move(got.bytes);
}

void fill_actions(datatype::Record& r) {
    datatype::set_slot<datatype::READ>(r, &read);
    datatype::set_slot<datatype::WRITE>(r, &write);
    datatype::set_slot<datatype::DELETE>(r, &remove);
    datatype::set_slot<datatype::QUERY>(r, &query);
    datatype::set_slot<datatype::RENAME>(r, &rename);
}

}  // namespace qel::file_io

// url!: a URL held as its decoded text. The lexer decodes the escapes of a
// URL literal when it loads it, and mold writes them back through the
// percent codec (datatypes/percent_codec.hpp), so a character that a URL
// cannot hold as it is survives a round trip through text. A block of
// parts makes a URL; a path element joins a URL (and a file!, which
// inherits the join) to one more part.
//
// read and write of a URL that starts with "http" go over HTTP
// (url_http.hpp); any other URL becomes a port (url-parser/parse-url
// splits it into the parts object that make port! takes) whose actor does
// the work. open makes such a port and opens it.
#include <algorithm>

#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/object.hpp"
#include "datatypes/percent_codec.hpp"
#include "datatypes/port.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "datatypes/url_http.hpp"
#include "runtime/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/stack.hpp"

namespace qel::url {

namespace {

// The URL of a block of parts, each formed: the scheme, "://", the host,
// ":" and the port when the third part is an integer!, then "/" before
// each further part ("#" before an issue!, which forms without its sign).
Cell* from_parts(Cell* spec) {
    const Cell parts = *spec;
    const uint32_t total = series::cell_count(series_node(parts));
    const uint32_t first = std::min(series_index(parts), total);
    if (first == total) {
        const Cell t = datatype_cell(TYPE_URL);
        err::raise(err::BAD_TO_ARG, &t, &parts);
    }
    Cell* r = stack::push(&shared::unset);
    string::make_at(r, 32, TYPE_URL);
    const node_t out = series_node(r);
    for (uint32_t i = 0; first + i < total; i++) {
        // Forming may allocate: each part is copied out before it is used.
        const Cell part = series::cells_of(series_node(parts))[first + i];
        const uint32_t pt = cell::type_of(&part);
        if (i == 2 && pt == TYPE_INTEGER) text::append_cstr(out, ":");
        else if (i >= 2) text::append_cstr(out, pt == TYPE_ISSUE ? "#" : "/");
        actions::form(&part, out, false, INT32_MAX);
        if (i == 0) text::append_cstr(out, "://");
    }
    return r;
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    if (type == TYPE_URL && is_block_paren_or_hash(cell::type_of(spec))) return from_parts(spec);
    return string::make(proto, spec, type);
}

Cell* to(Cell* proto, Cell* spec, uint32_t type) {
    if (type == TYPE_URL && is_block_paren_or_hash(cell::type_of(spec))) return from_parts(spec);
    return string::to(proto, spec, type);
}

// The encoded text: every byte of the UTF-8 form that the URL table does
// not pass is written as its escape. /part stops at the limit.
int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    const uint32_t before = text::length(out);
    encode(value, out, URL_TABLE);
    uint32_t written = text::length(out) - before;
    if (options.part && static_cast<int64_t>(written) > std::max(limit, 0)) {
        written = static_cast<uint32_t>(std::max(limit, 0));
        string::truncate(out, before + written);
    }
    return mold::spend(limit, written);
}

// base/element: a new value of the base's type holding the base's text,
// one "/" and the formed element. The base itself does not change.
Cell* eval_path(Cell* value, const datatype::PathStep& step) {
    if (step.new_value) err::raise(err::BAD_PATH_SET, step.path ? step.path : value, step.element);
    Cell* r = stack::push(&shared::unset);
    string::make_at(r, string::length(value) + 16, cell::type_of(value));
    Cell* part = stack::push(&shared::unset);
    string::make_at(part, 16);
    actions::form(step.element, series_node(part), false, INT32_MAX);

    const uint32_t base_length = string::length(value);
    const bool base_slash = base_length > 0 && string::char_at(value, string::length_whole(value) - 1) == '/';
    const bool part_slash = !string::is_tail(part) && string::char_at(part, 0) == '/';
    string::concatenate(r, value, -1, 0, true, string::APPEND);
    if (base_slash && part_slash) series_index(part) = 1;
    else if (!base_slash && !part_slash) string::append_char(series_node(r), '/');
    string::concatenate(r, part, -1, 0, true, string::APPEND);
    stack::pop_n(1);
    return r;
}

// The parts object of url-parser/parse-url, or none when the URL does not
// parse (or the parser is missing).
Cell parse_url(const Cell* url) {
    Cell parts = shared::none;
    object::call_global_field("url-parser", "parse-url", url, 1, &parts);
    return parts;
}

// The port of a URL (pushed), opened with the flags when they are given.
// A URL that does not parse raises script invalid-arg with the URL.
Cell* to_port(const Cell* url, const port::OpenFlags* open) {
    const Cell u = *url;
    const Cell parts = parse_url(&u);
    if (cell::type_of(&parts) != TYPE_OBJECT) err::raise(err::INVALID_ARG, &u);
    Cell* held = stack::push(&parts);
    Cell* p = port::make_from(held);
    if (open) port::open(p, *open);
    return p;
}

Cell* open(Cell* url, Cell*, const int32_t* r) {
    const port::OpenFlags flags = port::open_flags(r);
    return to_port(url, &flags);
}

Cell* read(Cell* url, Cell*, const int32_t* r) {
    if (url_http::is_http(url)) return url_http::read(url, r);
    return port::read(to_port(url, nullptr), nullptr, r);
}

Cell* write(Cell* url, Cell* data, const int32_t* r) {
    if (url_http::is_http(url)) return url_http::write(url, data, r);
    Cell* held = stack::push(data);
    return port::write(to_port(url, nullptr), held, r);
}

}  // namespace

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MAKE>(r, &make);
    datatype::set_slot<datatype::TO>(r, &to);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &eval_path);
    datatype::set_slot<datatype::OPEN>(r, &open);
    datatype::set_slot<datatype::READ>(r, &read);
    datatype::set_slot<datatype::WRITE>(r, &write);
    // Not URL operations; file! inherits the same gaps (and sets its own
    // read and write, and no open).
    datatype::clear_slot<datatype::SORT>(r);
    datatype::clear_slot<datatype::TRIM>(r);
}

}  // namespace qel::url

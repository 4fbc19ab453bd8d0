// The HTTP road of url! read and write (see url_http.hpp). Values become
// the request's strings and bytes first; the platform layer makes the
// request without touching values; the answer becomes values, each pushed
// as soon as it is made.
#include "datatypes/url_http.hpp"

#include <optional>
#include <string_view>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file_io.hpp"
#include "datatypes/map.hpp"
#include "datatypes/percent_codec.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "platform/http.hpp"
#include "runtime/actions.hpp"
#include "runtime/errors.hpp"
#include "runtime/stack.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace qel::url_http {

namespace {

// Refinements of the read and write actions, in their spec order.
enum ReadRefinement { R_PART, R_SEEK, R_BINARY, R_LINES, R_INFO, R_AS };
enum WriteRefinement { W_BINARY, W_LINES, W_INFO, W_APPEND, W_PART, W_SEEK, W_ALLOW, W_AS };

bool has(const int32_t* r, int k) { return r[k] >= 0; }

// How the answer is given back.
struct AnswerForm {
    bool binary = false;
    bool lines = false;
    bool info = false;
};

// The UTF-8 bytes of a text from its index.
std::string utf8_of(const Cell* text) {
    const node_t u = unicode::to_utf8(text, -1);
    SeriesBuffer* s = series::buffer_of(u);
    return std::string(reinterpret_cast<const char*>(series::head_ptr(s)), series::buffer_length(u));
}

// The text form or mold writes of a value, as UTF-8.
std::string text_of(const Cell* value_in, bool molded) {
    const stack::Saved saved;
    const Cell value = *value_in;
    const Cell made{TYPE_STRING, 0, text::make_buffer(64), 0};
    const Cell* buffer = stack::push(&made);
    if (molded) actions::mold(&value, series_node(buffer), datatype::MoldOptions{}, INT32_MAX, 0);
    else actions::form(&value, series_node(buffer), false, INT32_MAX);
    return utf8_of(buffer);
}

// A header name: a word's spelling, anything else formed. A value: a
// string!'s text, anything else formed.
std::string header_name(const Cell* name) {
    if (is_any_word(cell::type_of(name))) return symbol::name(word_symbol(name));
    return text_of(name, false);
}
std::string header_value(const Cell* value) {
    return cell::type_of(value) == TYPE_STRING ? utf8_of(value) : text_of(value, false);
}

// The method's text: the word's canonical spelling in upper case.
std::string method_text(const Cell* word) {
    std::string m = symbol::name(symbol::canonical(word_symbol(word)));
    for (char& c : m)
        if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 32);
    return m;
}

// The URL as it goes on the wire: its text with the escapes mold writes.
std::string wire_url(const Cell* url) {
    const stack::Saved saved;
    const Cell value = *url;
    const Cell made{TYPE_STRING, 0, text::make_buffer(64), 0};
    const Cell* buffer = stack::push(&made);
    url::encode(&value, series_node(buffer), url::URL_TABLE);
    return utf8_of(buffer);
}

std::vector<uint8_t> body_bytes(const Cell* body) {
    switch (cell::type_of(body)) {
        case TYPE_BINARY: {
            const uint8_t* p = binary::head_ptr(body);
            return std::vector<uint8_t>(p, p + binary::length(body));
        }
        case TYPE_STRING: {
            const std::string s = utf8_of(body);
            return std::vector<uint8_t>(s.begin(), s.end());
        }
        default: {
            const std::string s = text_of(body, true);
            return std::vector<uint8_t>(s.begin(), s.end());
        }
    }
}

// The request of a method word, a header block (or none) and a body (or
// none), made; the answer as values, pushed.
Cell* exchange(const Cell* url, const Cell* method, const Cell* headers, const Cell* body, const AnswerForm& form) {
    http::Request rq;
    rq.method = method_text(method);
    rq.url = wire_url(url);
    if (cell::type_of(headers) == TYPE_BLOCK) {
        const Cell list = *headers;
        const uint32_t total = series::cell_count(series_node(list));
        for (uint32_t i = series_index(list); i + 1 < total; i += 2) {
            // Forming may allocate: each cell is copied out first.
            const Cell name = *block::cell_at(&list, i);
            const Cell value = *block::cell_at(&list, i + 1);
            std::string n = header_name(&name);
            rq.headers.emplace_back(std::move(n), header_value(&value));
        }
    } else {
        rq.headers = {{"Content-Type", "application/x-www-form-urlencoded"},
                      {"Accept-Charset", "UTF-8"},
                      {"User-Agent", "Mozilla/5.0 (Windows NT 6.1; Win64; x64)"}};
    }
    if (rq.method != "GET" && rq.method != "HEAD" && cell::type_of(body) != TYPE_NONE) rq.body = body_bytes(body);

    const std::optional<http::Response> got = http::request(rq);
    if (!got) {
        const Cell v = *url;
        err::raise(err::NO_CONNECT, &v);
    }
    Cell* result = form.info ? block::push_new(3) : nullptr;
    if (form.info) {
        const Cell status{TYPE_INTEGER, 0, static_cast<uint32_t>(got->status), 0};
        block::append_copy(result, &status);
        block::append_copy(result, push_header_map(got->headers));
    }
    Cell* value;
    if (form.binary) value = binary::load(got->body.data(), got->body.size());
    else if (form.lines) value = file_io::push_lines(got->body);
    else value = file_io::push_text(got->body.data(), got->body.size(), true);
    if (!form.info) return value;
    block::append_copy(result, value);
    return result;
}

}  // namespace

bool is_http(const Cell* url) {
    if (string::length(url) < 4) return false;
    const char* http = "http";
    for (uint32_t i = 0; i < 4; i++)
        if (string::char_at(url, series_index(url) + i) != static_cast<uint8_t>(http[i])) return false;
    return true;
}

Cell* push_header_map(const std::string& text) {
    Cell* map_cell = stack::push(&shared::none);
    map::make_at(map_cell, nullptr, 8);
    size_t at = 0;
    while (at < text.size()) {
        size_t end = text.find('\n', at);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + at, end - at);
        at = end + 1;
        if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
        const size_t colon = line.find(':');
        if (colon == std::string_view::npos || colon == 0) continue;
        std::string_view value = line.substr(colon + 1);
        while (!value.empty() && (value.front() == ' ' || value.front() == '\t')) value.remove_prefix(1);

        Cell* const mark = stack::arg_top;
        const Cell key_word{TYPE_SET_WORD, 0, static_cast<uint32_t>(symbol::intern(line.data(), colon)), UINT32_MAX};
        Cell* key = stack::push(&key_word);
        Cell* given = file_io::push_text(reinterpret_cast<const uint8_t*>(value.data()), value.size(), false);
        const Cell* pair = map::find_pair(map_cell, key, CompareOp::Equal);
        if (!pair || pair[1].header == 0) {
            map::set(map_cell, key, given, false, nullptr);
        } else if (cell::type_of(&pair[1]) == TYPE_BLOCK) {
            const Cell values = pair[1];
            block::append_copy(&values, given);
        } else {
            const Cell first = pair[1];
            Cell* values = block::push_new(4);
            block::append_copy(values, &first);
            block::append_copy(values, given);
            map::set(map_cell, key, values, false, nullptr);
        }
        stack::arg_top = mark;
    }
    return map_cell;
}

Cell* read(Cell* url, const int32_t* r) {
    if (has(r, R_PART) || has(r, R_SEEK) || has(r, R_AS)) err::raise(err::NOT_DONE);
    const Cell get{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr("get")), UINT32_MAX};
    return exchange(url, &get, &shared::none, &shared::none,
                    AnswerForm{.binary = has(r, R_BINARY), .lines = has(r, R_LINES), .info = has(r, R_INFO)});
}

// The data gives the method, headers and body: a block [method headers
// body] (each part optional; an empty block is a get), anything else the
// body of a post.
Cell* write(Cell* url, Cell* data, const int32_t* r) {
    if (has(r, W_SEEK) || has(r, W_ALLOW) || has(r, W_AS)) err::raise(err::NOT_DONE);
    Cell method{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr("post")), UINT32_MAX};
    Cell headers = shared::none;
    Cell body = *data;
    if (cell::type_of(data) == TYPE_BLOCK) {
        const uint32_t n = static_cast<uint32_t>(std::max(block::length(data), 0));
        const uint32_t first = series_index(data);
        method = Cell{TYPE_WORD, 0, static_cast<uint32_t>(symbol::intern_cstr("get")), UINT32_MAX};
        body = shared::none;
        if (n > 0) {
            method = *block::cell_at(data, first);
            if (cell::type_of(&method) != TYPE_WORD) err::raise(err::INVALID_ARG, &method);
        }
        if (n > 1) {
            headers = *block::cell_at(data, first + 1);
            if (cell::type_of(&headers) != TYPE_BLOCK) err::raise(err::INVALID_ARG, &headers);
        }
        if (n > 2) body = *block::cell_at(data, first + 2);
    }
    const uint32_t bt = cell::type_of(&body);
    if (bt != TYPE_NONE && bt != TYPE_BLOCK && bt != TYPE_STRING && bt != TYPE_BINARY) {
        const Cell v = *data;
        err::raise(err::INVALID_ARG, &v);
    }
    Cell* held = stack::push(&body);
    return exchange(url, &method, &headers, held,
                    AnswerForm{.binary = has(r, W_BINARY), .lines = has(r, W_LINES), .info = has(r, W_INFO)});
}

}  // namespace qel::url_http

// file!: the molded form and the local names of files (see file.hpp).
#include "datatypes/file.hpp"

#include <algorithm>

#include "datatypes/file_io.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/mold.hpp"
#include "datatypes/percent_codec.hpp"
#include "datatypes/string.hpp"
#include "datatypes/text.hpp"
#include "platform/os.hpp"
#include "runtime/errors.hpp"
#include "runtime/unicode.hpp"

namespace qel::file {

namespace {

void append_utf8(node_t out, const std::string& text) {
    const uint8_t* p = reinterpret_cast<const uint8_t*>(text.data());
    const uint8_t* end = p + text.size();
    while (p < end) {
        const int32_t cp = unicode::decode_utf8(p, end);
        string::append_char(out, cp < 0 ? 0xFFFDu : static_cast<uint32_t>(cp));
    }
}

void refuse_nul(const Cell* value) {
    const Cell v = *value;
    const node_t n = series_node(v);
    const uint32_t first = std::min(series_index(v), string::length_whole(&v));
    const uint32_t count = string::length(&v);
    for (uint32_t i = 0; i < count; i++)
        if (unicode::codepoint_at(n, first + i) == 0) err::raise(err::INVALID_ARG, &v);
}

// Whether a molded name needs its double quotes: a character the lexer
// would not keep inside an unquoted file name. The colon and "@" are URL
// characters, but they end an unquoted file token.
bool needs_quotes(uint32_t cp) { return cp < 128 && (!url::url_literal(static_cast<uint8_t>(cp)) || cp == ':' || cp == '@'); }

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t) {
    Cell v = *value;
    const uint32_t first = string::clamp_index(&v);
    const node_t n = series_node(v);
    const uint32_t full = string::length(&v);
    uint32_t run = full;
    if (options.part) run = limit < 0 ? 0 : std::min<uint32_t>(full, static_cast<uint32_t>(limit));
    const uint32_t before = text::length(out);
    string::append_char(out, '%');
    bool quoted = full == 0;
    for (uint32_t i = 0; i < run && !quoted; i++) quoted = needs_quotes(unicode::codepoint_at(n, first + i));
    if (quoted) string::append_char(out, '"');
    for (uint32_t i = 0; i < run; i++) {
        const uint32_t cp = unicode::codepoint_at(n, first + i);
        // Quoted, the name is read back with the escapes of a string.
        if (quoted) string::mold_char(out, cp, true, options.all);
        else string::append_char(out, cp);
    }
    if (quoted) string::append_char(out, '"');
    return mold::spend(limit, text::length(out) - before);
}

}  // namespace

void to_local(const Cell* value, node_t out, bool full) {
    refuse_nul(value);
    const Cell v = *value;
    const bool relative = string::is_tail(&v) || string::char_at(&v, series_index(v)) != '/';
    if (full && relative) {
        std::string dir = os::get_current_dir();
        if (dir.empty() || dir.back() != '/') dir += '/';
        append_utf8(out, dir);
    }
    const Cell target{TYPE_STRING, 0, out, 0};
    string::concatenate(&target, &v, -1, 0, true, string::APPEND);
}

std::string to_os_path(const Cell* value) {
    refuse_nul(value);
    const node_t bytes = unicode::to_utf8(value, -1);
    const SeriesBuffer* s = series::buffer_of(bytes);
    return std::string(reinterpret_cast<const char*>(series::head_ptr(const_cast<SeriesBuffer*>(s))),
                       series::buffer_length(bytes));
}

void fill(datatype::Record& r) {
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::clear_slot<datatype::OPEN>(r);
    file_io::fill_actions(r);
}

}  // namespace qel::file

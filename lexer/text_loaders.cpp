// The loaders of the string-like literals beyond string!: files (%name and
// %"name"), URLs (scheme:rest), tags (<...>), e-mail addresses (name@host)
// and refs (@name). Only a quoted file name reads caret escapes; the
// others take their text as written. An unquoted file name and a URL are
// percent-decoded, as their molded forms are percent-encoded.
#include <algorithm>
#include <vector>

#include "datatypes/percent_codec.hpp"
#include "datatypes/string.hpp"
#include "lexer/loaders.hpp"
#include "lexer/tables.hpp"
#include "runtime/memory.hpp"
#include "runtime/unicode.hpp"

namespace qel::lexer::loaders {

namespace {

// The text in [start, end) with its "%XX" escapes decoded, as a value of
// the type. Ill-formed UTF-8 is invalid.
void load_decoded(State& s, const uint8_t* start, const uint8_t* end, uint32_t type, bool load) {
    if (unicode::find_invalid_utf8(start, end)) error_invalid(s, type, s.token_start);
    if (!load) return;
    std::vector<uint32_t> cps;
    url::decode_bytes(start, static_cast<size_t>(end - start), cps);
    uint32_t width = 1;
    for (uint32_t cp : cps) width = std::max(width, unicode::unit_for(cp));
    const auto count = static_cast<uint32_t>(cps.size());
    const node_t n = memory::alloc_codepoints(count, width);
    SeriesBuffer* buf = series::buffer_of(n);
    uint8_t* out = series::data(buf);
    for (uint32_t i = 0; i < count; i++) string::write_unit(out + static_cast<size_t>(i) * width, width, cps[i]);
    buf->tail = buf->head + count * width;
    push_value(s, Cell{type, 0, n, 0});
}

// The text in [start, end) as written, as a value of the type.
void load_plain(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, uint32_t type, bool load) {
    const node_t n = decode_text(s, start, end, flags & ~tables::flag::CARET, type, load);
    if (load) push_value(s, Cell{type, 0, n, 0});
}

}  // namespace

void load_file(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // The token starts with "%"; a quoted name ends with its closing quote.
    if (end - start >= 2 && start[1] == '"') {
        const node_t n = decode_text(s, start + 2, end - 1, flags, TYPE_FILE, load);
        if (load) push_value(s, Cell{TYPE_FILE, 0, n, 0});
        return;
    }
    load_decoded(s, start + 1, end, TYPE_FILE, load);
}

void load_url(State& s, const uint8_t* start, const uint8_t* end, uint32_t, bool load) {
    if (*start == ':') error_invalid(s, TYPE_GET_WORD, start);
    if (*start == '\'') error_invalid(s, TYPE_LIT_WORD, start);
    load_decoded(s, start, end, TYPE_URL, load);
}

void load_tag(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_plain(s, start + 1, end - 1, flags, TYPE_TAG, load);
}

void load_email(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    load_plain(s, start, end, flags, TYPE_EMAIL, load);
}

void load_ref(State& s, const uint8_t* start, const uint8_t* end, uint32_t flags, bool load) {
    // "@" alone names nothing.
    if (end - start < 2) error_invalid(s, TYPE_REF, start);
    load_plain(s, start + 1, end, flags, TYPE_REF, load);
}

}  // namespace qel::lexer::loaders

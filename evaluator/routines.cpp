// The routine table and the call of a routine (see routines.hpp).
//
// Arguments are converted by the first word of their type block, read from
// the spec at each call: the spec is the routine's own and never changes,
// and walking a few cells costs less than keeping a second table in step.
#include "evaluator/routines.hpp"

#include <algorithm>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string_view>
#include <vector>
#include <unistd.h>

#include "codecs/qelbin.hpp"
#include "datatypes/binary.hpp"
#include "datatypes/block.hpp"
#include "datatypes/file.hpp"
#include "datatypes/file_io.hpp"
#include "datatypes/function.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "datatypes/tuple.hpp"
#include "datatypes/typeset.hpp"
#include "datatypes/url_http.hpp"
#include "evaluator/clipboard_routines.hpp"
#include "evaluator/console_routines.hpp"
#include "evaluator/image_routines.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/native_fns.hpp"
#include "evaluator/trace.hpp"
#include "runtime/stack.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/os.hpp"
#include "runtime/actions.hpp"
#include "runtime/block_code.hpp"
#include "runtime/collector.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/exits.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/unicode.hpp"
#include "runtime/words.hpp"

namespace qel {
namespace natives {
extern uint32_t last_new_line;  // set by print and prin
}  // namespace natives

namespace routines {

namespace {

using series::cells_of;

Arg last_lf(const Arg*) { return Arg{static_cast<int32_t>(natives::last_new_line)}; }

// Ends the process at once: what print staged is sent first, nothing is
// freed (the operating system takes it all back).
Arg quit_return(const Arg* args) {
    console::flush();
    _exit(args[0].i & 0xFF);
}

// A file or a directory at the path.
const Cell* exists_q(Cell* const* args) {
    return files::exists(file::to_os_path(args[0])) ? &shared::true_value : &shared::false_value;
}

const Cell* create_dir(Cell* const* args) {
    if (!files::make_dir(file::to_os_path(args[0]))) {
        const Cell v = *args[0];
        err::raise(err::NO_CREATE, &v);
    }
    return &shared::unset;
}

bool is_name(uint32_t t) {
    return t == TYPE_WORD || t == TYPE_GET_WORD || t == TYPE_LIT_WORD || t == TYPE_REFINEMENT;
}

const Cell* logic(bool b) { return b ? &shared::true_value : &shared::false_value; }

const Cell* set_quiet(Cell* const* args) {
    const uint32_t t = cell::type_of(args[0]);
    if (t != TYPE_WORD && t != TYPE_SET_WORD && t != TYPE_LIT_WORD && t != TYPE_GET_WORD)
        natives::expect_arg("set-quiet", args[0], "word");
    Cell w = *args[0];
    Cell* slot = word::get(&w);
    block_code::word_value_changes(slot, args[1]);
    *slot = *args[1];
    return args[1];
}

const Cell* set_slot_quiet(Cell* const* args) {
    const Cell series = *args[0];
    if (!is_block_like(cell::type_of(&series))) {
        const Cell name = *word::make_from_cstr("set-slot-quiet");
        const Cell type{TYPE_DATATYPE, TYPE_BLOCK, 0, 0};
        const Cell arg_word = *word::make_from_cstr("series");
        err::raise(err::EXPECT_ARG, &name, &type, &arg_word);
    }
    const node_t n = series_node(series);
    if (series_index(series) < series::cell_count(n)) {
        cells_of(n)[series_index(series)] = *args[1];
        block_code::changed(n);
    }
    return &shared::unset;
}

Arg shift_right(const Arg* a) { return Arg{natives::shift_bits(a[0].i, a[1].i, false, false)}; }
Arg shift_left(const Arg* a) { return Arg{natives::shift_bits(a[0].i, a[1].i, true, false)}; }
Arg shift_logical(const Arg* a) { return Arg{natives::shift_bits(a[0].i, a[1].i, false, true)}; }

// A string of the type made from UTF-8 text, pushed.
Cell* push_text(const std::string& text, uint32_t type) {
    const unicode::Loaded loaded =
        unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
    const Cell c{type, 0, loaded.node, 0};
    return stack::push(&c);
}

const Cell* get_current_dir(Cell* const*) {
    std::string dir = os::get_current_dir();
    if (dir.empty() || dir.back() != '/') dir += '/';
    return push_text(dir, TYPE_FILE);
}

const Cell* set_current_dir(Cell* const* args) {
    if (!os::set_current_dir(file::to_os_path(args[0]))) {
        const Cell v = *args[0];
        err::raise(err::CANNOT_OPEN, &v);
    }
    return &shared::unset;
}

const Cell* os_info(Cell* const*) {
    const os::Info info = os::info();
    const std::pair<const char*, const std::string*> fields[] = {
        {"name", &info.name}, {"arch", &info.arch}, {"version", &info.version}, {"build", &info.build}};
    Cell* spec = block::push_new(8);
    for (const auto& [key, value] : fields) {
        Cell k = *word::make_from_cstr(key);
        cell::set_type(&k, TYPE_SET_WORD);
        block::append_copy(spec, &k);
        const stack::TopSaved held;
        block::append_copy(spec, push_text(*value, TYPE_STRING));
    }
    Cell* result = stack::push(&shared::none);
    map::make_at(result, spec, 4);
    return result;
}

[[noreturn]] void negative(int32_t v) {
    const Cell c{TYPE_INTEGER, 0, static_cast<uint32_t>(v), 0};
    err::raise(err::INVALID_ARG, &c);
}

// A tuple routine's result: converting routines answer plain values, so
// these write their tuple into the argument base themselves.
const Cell* tuple_of(const uint8_t* bytes, uint32_t n) {
    Cell* result = stack::push(&shared::none);
    tuple::make_at(result, bytes, n);
    return result;
}

const Cell* as_color(Cell* const* args) {
    uint8_t bytes[3];
    for (int i = 0; i < 3; i++) {
        const int32_t v = integer_value(*args[i]);
        if (v < 0) negative(v);
        bytes[i] = static_cast<uint8_t>(v & 0xFF);
    }
    return tuple_of(bytes, 3);
}

// The little-endian bytes of d << 24 | c << 16 | b << 8 | a: a component
// above 255 reaches into the next byte.
const Cell* as_ipv4(Cell* const* args) {
    uint32_t packed = 0;
    for (int i = 0; i < 4; i++) {
        const int32_t v = integer_value(*args[i]);
        if (v < 0) negative(v);
        packed |= static_cast<uint32_t>(v) << (8 * i);
    }
    const uint8_t bytes[4] = {static_cast<uint8_t>(packed), static_cast<uint8_t>(packed >> 8),
                              static_cast<uint8_t>(packed >> 16), static_cast<uint8_t>(packed >> 24)};
    return tuple_of(bytes, 4);
}

const Cell* count_chars(Cell* const* args) {
    const node_t n = series_node(*args[0]);
    const uint32_t length = series::buffer_length(n);
    const uint32_t from = std::min(series_index(*args[0]), length);
    const uint32_t to = std::min(series_index(*args[1]), length);
    const uint8_t* head = series::head_ptr(series::buffer_of(n));
    const auto count = to > from ? unicode::count_utf8(head + from, head + to) : 0;
    const Cell c{TYPE_INTEGER, 0, static_cast<uint32_t>(count), 0};
    return stack::push(&c);
}

Arg stack_size(const Arg*) { return Arg{static_cast<int32_t>(stack::arg_top - stack::arg_bottom)}; }
Arg frame_index(const Arg*) { return Arg{static_cast<int32_t>(stack::arg_base - stack::arg_bottom)}; }

const Cell* pick_stack(Cell* const* args) {
    const int64_t i = integer_value(*args[0]);
    if (i <= 0 || i >= stack::arg_top - stack::arg_bottom) return &shared::none;
    return stack::push(stack::arg_bottom + (i - 1));
}

const Cell* collect_calls(Cell* const* args) {
    const Cell blk = *args[0];
    for (const Cell& w : stack::call_words()) block::append_copy(&blk, &w);
    return args[0];
}

Arg tracing_q(const Arg*) { return Arg{trace::caller_tracing() ? 1 : 0}; }

const Cell* set_tracing(Cell* const* args) {
    trace::set_tracing(is_truthy(args[0]));
    return &shared::unset;
}

const Cell* write_stdout(Cell* const* args) {
    console::flush();
    const Cell data = *args[0];
    std::string bytes;
    if (cell::type_of(&data) == TYPE_BINARY) {
        const std::vector<uint8_t> b = binary::copy_bytes(&data);
        bytes.assign(b.begin(), b.end());
    } else {
        const node_t out = text::make_buffer(64);
        const Cell holder{TYPE_STRING, 0, out, 0};
        stack::push(&holder);
        actions::form(&data, out, false, 0);
        bytes = text::to_utf8(out);
    }
    files::write_all(1, reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    return &shared::unset;
}

// Decodes the backslash escapes of a JSON string literal's text, from the
// string's index to its tail, in place: the text only shrinks, so each
// decoded character is written at or before the one being read. Storing a
// character that needs wider units widens the buffer; positions are unit
// indexes, which stay valid across that. A bad escape, a hexadecimal digit
// missing or a high surrogate without its low half raises invalid-data.
[[noreturn]] void bad_escape(const Cell str) { err::raise(err::INVALID_DATA, &str); }

const Cell* json_unescape(Cell* const* args) {
    if (cell::type_of(args[0]) != TYPE_STRING) natives::expect_arg("unescape", args[0], "str");
    const Cell str = *args[0];
    const node_t n = series_node(str);
    const uint32_t end = series::buffer_length(n);
    // Four hexadecimal digits from unit index at.
    auto hex4 = [&](uint32_t at) {
        if (at + 4 > end) bad_escape(str);
        uint32_t code = 0;
        for (uint32_t k = 0; k < 4; k++) {
            const uint32_t c = string::char_at(&str, at + k);
            uint32_t digit;
            if (c >= '0' && c <= '9') digit = c - '0';
            else if (c >= 'A' && c <= 'F') digit = c - 'A' + 10;
            else if (c >= 'a' && c <= 'f') digit = c - 'a' + 10;
            else bad_escape(str);
            code = code << 4 | digit;
        }
        return code;
    };
    uint32_t in = std::min(series_index(str), end);
    uint32_t out = in;
    while (in < end) {
        uint32_t c = string::char_at(&str, in++);
        if (c == '\\') {
            if (in >= end) bad_escape(str);
            switch (string::char_at(&str, in++)) {
                case '"': c = '"'; break;
                case '\\': c = '\\'; break;
                case '/': c = '/'; break;
                case 'b': c = 8; break;
                case 'f': c = 12; break;
                case 'n': c = 10; break;
                case 'r': c = 13; break;
                case 't': c = 9; break;
                case 'u': {
                    c = hex4(in);
                    in += 4;
                    if (c >= 0xD800 && c <= 0xDBFF) {
                        if (in + 6 > end || string::char_at(&str, in) != '\\' || string::char_at(&str, in + 1) != 'u')
                            bad_escape(str);
                        const uint32_t low = hex4(in + 2);
                        if (low < 0xDC00 || low > 0xDFFF) bad_escape(str);
                        c = 0x10000 + ((c - 0xD800) << 10) + (low - 0xDC00);
                        in += 6;
                    }
                    break;
                }
                default: bad_escape(str);
            }
        }
        string::poke_char(n, out++, c);
    }
    string::truncate(n, out);
    return args[0];
}

// The type tests read the type byte alone.
template <uint32_t Type>
const Cell* type_test(Cell* const* args) {
    return logic(cell::type_of(args[0]) == Type);
}

// The typeset tests read their typeset word at every call, so that a
// redefined typeset changes them.
const char* const TYPESET_WORDS[] = {"any-list!",   "any-block!", "any-function!", "any-object!", "any-path!",
                                     "any-string!", "any-word!",  "series!",       "number!",     "immediate!",
                                     "scalar!",     "all-word!",  "any-point!",    "planar!"};

template <int Index>
const Cell* typeset_test(Cell* const* args) {
    Cell w = *word::make_from_cstr(TYPESET_WORDS[Index]);
    const Cell* ts = word::get(&w);
    if (cell::type_of(ts) == TYPE_UNSET) err::raise(err::NO_VALUE, &w);
    return logic(typeset::has(ts, cell::type_of(args[0])));
}

// Whether block holds the node n, at any depth.
bool holds_block(const Cell& block, node_t n, uint32_t depth) {
    const node_t b = series_node(block);
    if (b == n) return true;
    if (depth == 0) return false;
    for (uint32_t i = 0; i < series::cell_count(b); i++) {
        const Cell c = cells_of(b)[i];
        if (is_block_like(cell::type_of(&c)) && holds_block(c, n, depth - 1)) return true;
    }
    return false;
}

// Whether the code that called is interpreted: false only for code of a
// library function's own body, true for the top level, for the functions
// of the program and for the blocks that a library function evaluates for
// its caller (the code given to attempt). The frames from the top: this
// routine's own call, the innermost function body and, below it, that
// function's call.
const Cell* interpreted_q(Cell* const*) {
    for (const Frame* f = stack::frame_top; f-- > stack::frame_bottom;) {
        if (!stack::has_flag(f, stack::frame_flag::BODY)) continue;
        for (const Frame* c = f; c-- > stack::frame_bottom;) {
            if (stack::kind_of(c) != stack::FrameKind::Call || !c->ctx) continue;
            const Cell fn = *context::self_of(c->ctx);
            if (!(fn.header & function::FN_BUILT_IN)) return logic(true);
            const Cell code = interp::current_position;
            if (!is_block_like(cell::type_of(&code))) return logic(true);
            return logic(!holds_block(function::body_of(fn), series_node(code), 64));
        }
        break;
    }
    return logic(true);
}

Arg gc_active(const Arg*) { return Arg{collector_enabled ? 1 : 0}; }
Arg gc_series_cycles(const Arg*) { return Arg{static_cast<int32_t>(collector::cycles)}; }
Arg gc_nodes_cycles(const Arg*) { return Arg{static_cast<int32_t>(collector::node_compactions)}; }

const Cell* qelbin_encode(Cell* const* args) {
    const node_t n = qelbin::encode(args[0], logic_value(*args[1]) != 0);
    const Cell c{TYPE_BINARY, 0, n, 0};
    return stack::push(&c);
}

// A file or a URL is read whole first. The bytes are copied out of the
// binary: the reader allocates, which may move its buffer.
const Cell* qelbin_decode(Cell* const* args) {
    const Cell payload = *args[0];
    std::vector<uint8_t> bytes;
    switch (cell::type_of(&payload)) {
        case TYPE_FILE: bytes = file_io::read_bytes(&payload); break;
        case TYPE_URL: {
            if (!url_http::is_http(&payload)) err::raise(err::INVALID_DATA, &payload);
            const int32_t refinements[] = {-1, -1, 0, -1, -1, -1};  // /binary
            const stack::TopSaved held;
            Cell url = payload;
            bytes = binary::copy_bytes(url_http::read(&url, refinements));
            break;
        }
        case TYPE_BINARY: bytes = binary::copy_bytes(&payload); break;
        default: err::raise(err::INVALID_DATA, &payload);
    }
    if (bytes.size() <= 10) err::raise(err::INVALID_DATA, &payload);
    const Cell value = qelbin::decode(bytes.data(), bytes.size());
    return stack::push(&value);
}

// Routines that live in fields of the system object rather than in words.
constexpr std::string_view FIELD_ROOT = "system/";
bool is_field(const char* name) { return std::string_view(name).substr(0, FIELD_ROOT.size()) == FIELD_ROOT; }

}  // namespace

#define TYPE_TEST(name, type) \
    {name, "\"Returns true if the value is this type\" value [any-type!] return: [logic!]", WRITES_RESULT, nullptr, \
     &type_test<type>}
#define TYPESET_TEST(name, index)                                                                                  \
    {name "?", "\"Returns true if the value is any type of " name "\" value [any-type!] return: [logic!]",          \
     WRITES_RESULT, nullptr, &typeset_test<index>}
#define IMAGE_ENCODE_SPEC(format)                                                                    \
    "\"Encodes an image as a " format " file\" img [image!] where [none! binary! file!] \"Where to put the " \
    "bytes; none for a new binary\" return: [binary! file!]"

const Entry table[] = {
    {"last-lf?", "\"Internal Use Only\" return: [logic!]", TYPE_LOGIC, &last_lf, nullptr},
    {"quit-return", "\"Stops evaluation and exits the program with a given status\" status [integer!] \"Process termination value to return\"", WRITES_RESULT,
     &quit_return, nullptr},
    TYPESET_TEST("any-function", 2),
    {"exists?", "\"Returns TRUE if the file exists\" path [file!] return: [logic!]", WRITES_RESULT, nullptr,
     &exists_q},
    {"create-dir", "\"Create the given directory\" path [file!]", WRITES_RESULT, nullptr, &create_dir},
    {"set-quiet", "\"Set an object's field to a value without triggering eventual object's events\" word [any-type!] value [any-type!] return: [any-type!]", WRITES_RESULT, nullptr, &set_quiet},
    {"set-slot-quiet", "\"Set a value in series without triggering eventual owner's events\" series [any-type!] value [any-type!]", WRITES_RESULT, nullptr, &set_slot_quiet},
    {"shift-right", "\"Shift bits to the right\" data [integer!] bits [integer!]", TYPE_INTEGER, &shift_right, nullptr},
    {"shift-left", "\"Shift bits to the left\" data [integer!] bits [integer!]", TYPE_INTEGER, &shift_left, nullptr},
    {"shift-logical", "\"Shift bits to the right (unsigned)\" data [integer!] bits [integer!]", TYPE_INTEGER, &shift_logical, nullptr},
    {"get-current-dir", "\"Returns the platform's current directory for the process\"", WRITES_RESULT, nullptr, &get_current_dir},
    {"set-current-dir", "\"Sets the platform's current process directory\" path [file!]", WRITES_RESULT, nullptr, &set_current_dir},
    {"os-info", "\"Returns detailed operating system version information\"", WRITES_RESULT, nullptr, &os_info},
    {"as-color", "\"Combine R, G and B values into a tuple\" r [integer!] g [integer!] b [integer!]", WRITES_RESULT, nullptr, &as_color},
    {"as-ipv4", "\"Combine a, b, c and d values into a tuple\" a [integer!] b [integer!] c [integer!] d [integer!]", WRITES_RESULT, nullptr, &as_ipv4},
    {"as-rgba", "\"Combine R, G, B and A color components into a tuple\" r [integer!] g [integer!] b [integer!] a [integer!]", WRITES_RESULT, nullptr, &as_ipv4},
    {"count-chars", "\"Count UTF-8 encoded characters between two positions in a binary series\" start [binary!] pos [binary!] return: [integer!]", WRITES_RESULT, nullptr, &count_chars},
    {"stack-size?", "return: [integer!]", TYPE_INTEGER, &stack_size, nullptr},
    {"pick-stack", "idx [integer!]", WRITES_RESULT, nullptr, &pick_stack},
    {"frame-index?", "return: [integer!]", TYPE_INTEGER, &frame_index, nullptr},
    {"collect-calls", "blk [block!]", WRITES_RESULT, nullptr, &collect_calls},
    {"tracing?", "", TYPE_LOGIC, &tracing_q, nullptr},
    {"_set-tracing", "\"Internal Use Only\" on [logic!]", WRITES_RESULT, nullptr, &set_tracing},
    {"write-stdout", "\"Write data to STDOUT\" data [any-type!]", WRITES_RESULT, nullptr, &write_stdout},
    TYPE_TEST("bitset?", TYPE_BITSET), TYPE_TEST("binary?", TYPE_BINARY), TYPE_TEST("block?", TYPE_BLOCK),
    TYPE_TEST("char?", TYPE_CHAR), TYPE_TEST("email?", TYPE_EMAIL), TYPE_TEST("file?", TYPE_FILE),
    TYPE_TEST("float?", TYPE_FLOAT), TYPE_TEST("get-path?", TYPE_GET_PATH), TYPE_TEST("get-word?", TYPE_GET_WORD),
    TYPE_TEST("hash?", TYPE_HASH), TYPE_TEST("integer?", TYPE_INTEGER), TYPE_TEST("issue?", TYPE_ISSUE),
    TYPE_TEST("lit-path?", TYPE_LIT_PATH), TYPE_TEST("lit-word?", TYPE_LIT_WORD), TYPE_TEST("logic?", TYPE_LOGIC),
    TYPE_TEST("map?", TYPE_MAP), TYPE_TEST("none?", TYPE_NONE), TYPE_TEST("pair?", TYPE_PAIR),
    TYPE_TEST("paren?", TYPE_PAREN), TYPE_TEST("path?", TYPE_PATH), TYPE_TEST("percent?", TYPE_PERCENT),
    TYPE_TEST("refinement?", TYPE_REFINEMENT), TYPE_TEST("set-path?", TYPE_SET_PATH),
    TYPE_TEST("set-word?", TYPE_SET_WORD), TYPE_TEST("string?", TYPE_STRING), TYPE_TEST("tag?", TYPE_TAG),
    TYPE_TEST("time?", TYPE_TIME), TYPE_TEST("typeset?", TYPE_TYPESET), TYPE_TEST("tuple?", TYPE_TUPLE),
    TYPE_TEST("unset?", TYPE_UNSET), TYPE_TEST("url?", TYPE_URL), TYPE_TEST("word?", TYPE_WORD),
    TYPE_TEST("image?", TYPE_IMAGE), TYPE_TEST("date?", TYPE_DATE), TYPE_TEST("money?", TYPE_MONEY),
    TYPE_TEST("ref?", TYPE_REF), TYPE_TEST("point2D?", TYPE_POINT2D), TYPE_TEST("point3D?", TYPE_POINT3D),
    TYPE_TEST("handle?", TYPE_HANDLE), TYPE_TEST("error?", TYPE_ERROR), TYPE_TEST("action?", TYPE_ACTION),
    TYPE_TEST("native?", TYPE_NATIVE), TYPE_TEST("datatype?", TYPE_DATATYPE), TYPE_TEST("function?", TYPE_FUNCTION),
    TYPE_TEST("object?", TYPE_OBJECT), TYPE_TEST("op?", TYPE_OP), TYPE_TEST("routine?", TYPE_ROUTINE),
    TYPE_TEST("vector?", TYPE_VECTOR),
    TYPESET_TEST("any-list", 0), TYPESET_TEST("any-block", 1), TYPESET_TEST("any-object", 3),
    TYPESET_TEST("any-path", 4), TYPESET_TEST("any-string", 5), TYPESET_TEST("any-word", 6),
    TYPESET_TEST("series", 7), TYPESET_TEST("number", 8), TYPESET_TEST("immediate", 9), TYPESET_TEST("scalar", 10),
    TYPESET_TEST("all-word", 11), TYPESET_TEST("any-point", 12), TYPESET_TEST("planar", 13),
    {"read-clipboard",
     "\"Return the contents of the system clipboard\" return: [any-type!] \"false on failure, none if empty, "
     "otherwise: string!, block! of files!, or an image!\"",
     WRITES_RESULT, nullptr, &clipboard_io::read_routine},
    {"write-clipboard",
     "\"Write content to the system clipboard\" data [any-type!] \"string!, block! of files!, an image! or none!\" "
     "return: [logic!] \"indicates success\"",
     WRITES_RESULT, nullptr, &clipboard_io::write_routine},
    {"decode-image", "\"Decodes a BMP, PNG, GIF, JPEG or TIFF file\" data [binary! file!] return: [image! none!]",
     WRITES_RESULT, nullptr, &image_io::decode_routine},
    {"encode-png", IMAGE_ENCODE_SPEC("PNG"), WRITES_RESULT, nullptr, &image_io::encode_routine<image_codec::Format::Png>},
    {"encode-jpeg", IMAGE_ENCODE_SPEC("JPEG"), WRITES_RESULT, nullptr, &image_io::encode_routine<image_codec::Format::Jpeg>},
    {"encode-bmp", IMAGE_ENCODE_SPEC("BMP"), WRITES_RESULT, nullptr, &image_io::encode_routine<image_codec::Format::Bmp>},
    {"encode-gif", IMAGE_ENCODE_SPEC("GIF"), WRITES_RESULT, nullptr, &image_io::encode_routine<image_codec::Format::Gif>},
    {"encode-tiff", IMAGE_ENCODE_SPEC("TIFF"), WRITES_RESULT, nullptr, &image_io::encode_routine<image_codec::Format::Tiff>},
    {"system/state/interpreted?", "\"Return TRUE if called from the interpreter\" return: [logic!]", WRITES_RESULT,
     nullptr, &interpreted_q},
    {"system/state/GC/active?", "return: [logic!]", TYPE_LOGIC, &gc_active, nullptr},
    {"system/state/GC/series-cycles", "return: [integer!]", TYPE_INTEGER, &gc_series_cycles, nullptr},
    {"system/state/GC/nodes-cycles", "return: [integer!]", TYPE_INTEGER, &gc_nodes_cycles, nullptr},
    {"system/codecs/qelbin/encode*", "data [any-type!] compact? [logic!] return: [binary!]", WRITES_RESULT, nullptr,
     &qelbin_encode},
    {"system/codecs/qelbin/decode", "payload [any-type!]", WRITES_RESULT, nullptr, &qelbin_decode},
    {"_set-buffer-history", "\"Internal Use Only\" line [string!] hist [block!]", WRITES_RESULT, nullptr,
     &console_io::set_buffer_history},
    {"_read-input", "\"Internal Use Only\" prompt [string!] hidden? [logic!]", WRITES_RESULT, nullptr,
     &console_io::read_input},
    {"_terminate-console", "", WRITES_RESULT, nullptr, &console_io::terminate_console},
    {"input-stdin", "\"Temporary function, internal use only\"", WRITES_RESULT, nullptr, &console_io::input_stdin},
    {"read-stdin", "\"Temporary function, internal use only\" buffer [binary!] buflen [integer!]", WRITES_RESULT,
     nullptr, &console_io::read_stdin},
    {"_do-top", "\"Internal Use Only\" code [block!]", WRITES_RESULT, nullptr, &console_io::do_top},
    {"system/console/init", "str [string!]", WRITES_RESULT, nullptr, &console_io::init_console},
    {"json-unescape", "\"Decodes the backslash escapes of JSON text in place\" str [string!] return: [string!]",
     WRITES_RESULT, nullptr, &json_unescape},
};
#undef TYPE_TEST
#undef TYPESET_TEST
#undef IMAGE_ENCODE_SPEC
const uint32_t COUNT = sizeof table / sizeof table[0];

const Entry* entry_of(int32_t index) {
    if (index < 1 || index > static_cast<int32_t>(COUNT)) return nullptr;
    return &table[index - 1];
}

namespace {

// The routine of table entry i, pushed, made from its spec in specs.
const Cell* push_entry(uint32_t i, const Cell* specs) {
    const Entry& e = table[i];
    const Cell spec = cells_of(series_node(*specs))[series_index(*specs) + i];
    if (cell::type_of(&spec) != TYPE_BLOCK) err::raise(err::INVALID_DATA);
    function::validate_spec(&spec);
    return function::push_routine(&spec, nullptr, i + 1, e.returns, e.cells != nullptr);
}

}  // namespace

void init(const Cell* specs) {
    console_io::init();
    const stack::Saved saved;
    for (uint32_t i = 0; i < COUNT; i++) {
        if (is_field(table[i].name)) continue;
        const Cell v = *push_entry(i, specs);
        word::set(word::make_from_cstr(table[i].name), &v);
    }
}

void install_fields(const Cell* specs) {
    const stack::Saved saved;
    for (uint32_t i = 0; i < COUNT; i++) {
        if (!is_field(table[i].name)) continue;
        const Cell v = *push_entry(i, specs);
        Cell* slot = system_object::field_at(table[i].name);
        if (!slot) {
            std::fprintf(stderr, "the system object has no field %s\n", table[i].name);
            std::exit(1);
        }
        *slot = v;
    }
}

void call(const Cell* routine, const Cell* name) {
    const Cell r = *routine;
    const Cell* record = cells_of(function_body(r));
    const Entry* e = entry_of(integer_value(record[2]));
    if (!e) err::raise(err::NOT_DONE);
    const node_t spec = function_spec(r);
    const uint32_t n = series::cell_count(spec);
    if (e->cells) {
        Cell* args[MAX_ARGS];
        uint32_t k = 0, slot = 0;
        for (uint32_t i = 0; i < n && k < MAX_ARGS; i++) {
            const uint32_t t = cell::type_of(&cells_of(spec)[i]);
            if (t == TYPE_WORD) args[k++] = stack::arg_base + slot;
            if (is_name(t)) slot++;
        }
        const Cell* answer = e->cells(args);
        // A routine that evaluates code leaves a pending exit as it is.
        if (exit_pending()) [[unlikely]] return;
        const Cell result = *answer;
        stack::set_last_reset(&result);
        return;
    }
    Arg args[MAX_ARGS];
    uint32_t k = 0, slot = 0;
    for (uint32_t i = 0; i < n && k < MAX_ARGS; i++) {
        const Cell w = cells_of(spec)[i];
        const uint32_t t = cell::type_of(&w);
        if (!is_name(t)) continue;
        const Cell* value = stack::arg_base + slot++;
        if (t != TYPE_WORD) continue;
        Arg& a = args[k++];
        a.i = 0;
        if (i + 1 >= n || cell::type_of(&cells_of(spec)[i + 1]) != TYPE_BLOCK) continue;
        const Cell types = cells_of(spec)[i + 1];
        if (series::cell_count(series_node(types)) <= series_index(types)) continue;
        Cell type_word = cells_of(series_node(types))[series_index(types)];
        if (cell::type_of(&type_word) != TYPE_WORD) err::raise(err::INVALID_TYPE_SPEC, &type_word);
        const Cell type = *word::get(&type_word);
        const uint32_t vt = cell::type_of(value);
        const bool ok = cell::type_of(&type) == TYPE_TYPESET ? typeset::has(&type, vt)
                        : cell::type_of(&type) == TYPE_DATATYPE ? datatype_id(type) == vt
                                                                : true;
        if (!ok) {
            const Cell call_name = name && cell::type_of(name) == TYPE_WORD ? *name : shared::none;
            const Cell dt{TYPE_DATATYPE, vt, 0, 0};
            Cell arg = w;
            cell::set_type(&arg, TYPE_WORD);
            err::raise(err::EXPECT_ARG, &call_name, &dt, &arg);
        }
        if (vt == TYPE_FLOAT) a.f = cell::get_double(value);
        else if (vt == TYPE_LOGIC) a.i = logic_value(value) ? 1 : 0;
        else a.i = integer_value(value);
    }
    const Arg out = e->convert(args);
    switch (e->returns) {
        case TYPE_LOGIC: stack::set_last_reset(out.i ? &shared::true_value : &shared::false_value); break;
        case TYPE_INTEGER: {
            const Cell c{TYPE_INTEGER, 0, static_cast<uint32_t>(out.i), 0};
            stack::set_last_reset(&c);
            break;
        }
        case TYPE_FLOAT: {
            Cell c{TYPE_FLOAT, 0, 0, 0};
            cell::put_double(&c, out.f);
            stack::set_last_reset(&c);
            break;
        }
        default: stack::keep_first(); break;
    }
}

}  // namespace routines
}  // namespace qel

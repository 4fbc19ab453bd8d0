// The natives over the process and its surroundings: wait, call, browse,
// the environment (get-env, set-env, list-env) and size?. Values become
// bytes here, the platform layer (platform/process.*, platform/os.*,
// platform/files.*) does the work without touching values, and its answers
// become values again.
//
// Text handed to the system is UTF-8; text coming back from it is decoded
// leniently (an ill-formed sequence becomes U+FFFD, a leading byte order
// mark is dropped, CR LF becomes LF), so that a child writing some other
// encoding costs a few characters, never the result of the call.
#include <cstring>
#include <optional>
#include <string>
#include <vector>

#include "datatypes/binary.hpp"
#include "datatypes/file.hpp"
#include "datatypes/file_io.hpp"
#include "datatypes/map.hpp"
#include "datatypes/string.hpp"
#include "evaluator/native_fns.hpp"
#include "runtime/stack.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "platform/os.hpp"
#include "platform/process.hpp"
#include "runtime/errors.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"

namespace qel::natives {

namespace {

// The UTF-8 form of a text from its index, or of a word's spelling.
std::string utf8_of(const Cell* value) {
    const uint32_t t = cell::type_of(value);
    if (is_all_word(t)) return std::string(symbol::name(word_symbol(value)));
    // Copied out at once: nothing allocates between making and reading.
    const node_t n = unicode::to_utf8(value, -1);
    const SeriesBuffer* s = series::buffer_of(n);
    return std::string(reinterpret_cast<const char*>(series::head_ptr(const_cast<SeriesBuffer*>(s))),
                       series::buffer_length(n));
}

// The bytes of a binary! from its index.
std::vector<uint8_t> bytes_of(const Cell* value) {
    Cell v = *value;
    const uint32_t n = binary::length(&v);
    const uint8_t* p = binary::head_ptr(&v);
    return std::vector<uint8_t>(p, p + n);
}

// Well-formed UTF-8 of system text: a leading byte order mark dropped,
// CR LF turned into LF, ill-formed runs replaced by U+FFFD.
std::string clean_text(const uint8_t* p, size_t n) {
    const uint8_t* end = p + n;
    if (unicode::starts_with_bom(p, n)) p += 3;
    std::string out;
    out.reserve(static_cast<size_t>(end - p));
    while (p < end) {
        if (*p < 0x80) {
            if (!(*p == '\r' && p + 1 < end && p[1] == '\n')) out += static_cast<char>(*p);
            p++;
            continue;
        }
        const uint8_t* start = p;
        if (unicode::decode_utf8(p, end) < 0) out += "\xEF\xBF\xBD";
        else out.append(reinterpret_cast<const char*>(start), static_cast<size_t>(p - start));
    }
    return out;
}

// A new string! of system text, pushed on the argument stack.
Cell* push_text(const uint8_t* p, size_t n) {
    const std::string clean = clean_text(p, n);
    if (clean.size() > INT32_MAX / 4) err::raise(err::NO_MEMORY);
    const unicode::Loaded l = unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(clean.data()),
                                                     static_cast<uint32_t>(clean.size()));
    Cell* c = stack::push_slot();
    *c = Cell{TYPE_STRING, 0, l.node, 0};
    return c;
}

Cell* push_text(const std::string& s) { return push_text(reinterpret_cast<const uint8_t*>(s.data()), s.size()); }

[[noreturn]] void invalid_arg(const Cell* value) {
    const Cell v = *value;
    err::raise(err::INVALID_ARG, &v);
}

}  // namespace

// ---- wait --------------------------------------------------------------------

void native_wait(const int32_t*) {
    const Cell* v = stack::arg_base;
    double seconds;
    switch (cell::type_of(v)) {
        case TYPE_INTEGER: seconds = integer_value(v); break;
        case TYPE_FLOAT:
        case TYPE_TIME: seconds = cell::get_double(v); break;
        default: invalid_arg(v);
    }
    stack::set_last_reset(&shared::none);
    os::sleep(seconds);
    process::reap_background();
}

// ---- call --------------------------------------------------------------------

namespace {

enum CallRefinement { WAIT, SHOW, CONSOLE, SHELL, INPUT, OUTPUT, ERROR };

// Where one stream of the child goes, from the refinement's argument.
void redirect_from(const Cell* value, process::Redirect& r, bool input) {
    if (!value) return;
    switch (cell::type_of(value)) {
        case TYPE_FILE:
            r.kind = process::Redirect::PATH;
            r.path = file::to_os_path(value);
            break;
        case TYPE_BINARY:
            r.kind = process::Redirect::DATA;
            if (input) r.bytes = bytes_of(value);
            break;
        default: {  // string!: sent as its UTF-8 text
            r.kind = process::Redirect::DATA;
            if (input) {
                const std::string text = utf8_of(value);
                r.bytes.assign(text.begin(), text.end());
            }
        }
    }
}

// Captured bytes into their target: a binary! takes them at its index, a
// string! gets them decoded at its tail.
void deliver(const Cell* target, const std::vector<uint8_t>& bytes) {
    if (!target || bytes.empty()) return;
    if (bytes.size() > INT32_MAX - 64) err::raise(err::NO_MEMORY);
    const uint32_t t = cell::type_of(target);
    if (t == TYPE_FILE) return;
    Cell v = *target;
    if (t == TYPE_BINARY) {
        const uint32_t at = string::clamp_index(&v);
        binary::insert_bytes(series_node(v), at, bytes.data(), static_cast<uint32_t>(bytes.size()));
        return;
    }
    const uint32_t saved = static_cast<uint32_t>(stack::arg_top - stack::arg_bottom);
    const Cell* text = push_text(bytes.data(), bytes.size());
    string::concatenate(&v, text, -1, 0, false, string::APPEND);
    stack::arg_top = stack::arg_bottom + saved;
}

}  // namespace

void native_call(const int32_t* refinements) {
    auto given = [&](int r) { return refinements[r] >= 0; };
    auto arg_of = [&](int r) -> const Cell* { return given(r) ? stack::arg_base + refinements[r] : nullptr; };
    const Cell* cmd = stack::arg_base;
    if (string::is_tail(cmd)) {
        const Cell zero{TYPE_INTEGER, 0, 0, 0};
        stack::set_last_reset(&zero);
        return;
    }

    process::Request rq;
    rq.command = cell::type_of(cmd) == TYPE_FILE ? file::to_os_path(cmd) : utf8_of(cmd);
    // A zero byte would silently cut the command the system sees.
    if (rq.command.find('\0') != std::string::npos) invalid_arg(cmd);
    rq.program = cell::type_of(cmd) == TYPE_FILE;
    rq.wait = given(WAIT);
    rq.console = given(CONSOLE);
    rq.shell = given(SHELL);
    redirect_from(arg_of(INPUT), rq.input, true);
    redirect_from(arg_of(OUTPUT), rq.output, false);
    redirect_from(arg_of(ERROR), rq.error, false);

    // What print staged reaches the terminal before anything the child
    // writes there.
    console::flush();
    const int32_t result = process::run(rq);

    // The targets are argument cells: their buffers stay reachable while
    // the captured bytes are stored.
    deliver(arg_of(OUTPUT), rq.output.bytes);
    deliver(arg_of(ERROR), rq.error.bytes);
    const Cell answer{TYPE_INTEGER, 0, static_cast<uint32_t>(result), 0};
    stack::set_last_reset(&answer);
}

// ---- browse ------------------------------------------------------------------

void native_browse(const int32_t*) {
    const Cell* target = stack::arg_base;
    const std::string text = cell::type_of(target) == TYPE_FILE ? file::to_os_path(target) : utf8_of(target);
    if (text.find('\0') != std::string::npos) invalid_arg(target);
    // Without a desktop handler nothing can open it: an error, not a wait.
    if (!process::browse(text)) {
        const Cell v = *target;
        err::raise(err::CANNOT_OPEN, &v);
    }
    stack::set_last_reset(&shared::unset);
}

// ---- environment ---------------------------------------------------------------

void native_get_env(const int32_t*) {
    const std::optional<std::string> value = os::get_env(utf8_of(stack::arg_base));
    if (!value) {
        stack::set_last_reset(&shared::none);
        return;
    }
    const Cell text = *push_text(*value);
    stack::set_last_reset(&text);
}

void native_set_env(const int32_t*) {
    const Cell* var = stack::arg_base;
    const Cell* value = stack::arg_base + 1;
    const std::string name = utf8_of(var);
    // The system refuses these names; saying nothing would report success.
    if (name.empty() || name.find('=') != std::string::npos || name.find('\0') != std::string::npos)
        invalid_arg(var);
    bool ok;
    if (cell::type_of(value) == TYPE_NONE) {
        ok = os::set_env(name, nullptr);
    } else {
        const std::string text = utf8_of(value);
        if (text.find('\0') != std::string::npos) invalid_arg(value);
        ok = os::set_env(name, &text);
    }
    if (!ok) invalid_arg(var);
    const Cell result = *value;
    stack::set_last_reset(&result);
}

void native_list_env(const int32_t*) {
    const auto vars = os::list_env();
    Cell* m = map::make_at(stack::push(&shared::none), nullptr, static_cast<uint32_t>(vars.size()));
    for (const auto& [name, value] : vars) {
        const uint32_t saved = static_cast<uint32_t>(stack::arg_top - stack::arg_bottom);
        const Cell* k = push_text(name);
        const Cell* v = push_text(value);
        // Names differ by letter case on this system: looked up strictly.
        map::set(m, k, v, true, m);
        stack::arg_top = stack::arg_bottom + saved;
    }
    const Cell result = *m;
    stack::set_last_reset(&result);
}

// ---- size? -------------------------------------------------------------------

void native_size_q(const int32_t*) {
    const Cell* file = stack::arg_base;
    // A name spelled as a directory has no size.
    const std::optional<int64_t> size =
        file_io::dir_path(file) ? std::nullopt : files::file_size(file::to_os_path(file));
    if (!size) {
        stack::set_last_reset(&shared::none);
        return;
    }
    Cell result{TYPE_INTEGER, 0, static_cast<uint32_t>(*size), 0};
    // Past what an integer! holds the size is answered as a float!, as
    // stats answers a large figure, rather than cut to 32 bits.
    if (*size > INT32_MAX) {
        result = Cell{TYPE_FLOAT, 0, 0, 0};
        cell::put_double(&result, static_cast<double>(*size));
    }
    stack::set_last_reset(&result);
}

}  // namespace qel::natives

// The routine table and the call of a routine (see routines.hpp).
//
// Arguments are converted by the first word of their type block, read from
// the spec at each call: the spec is the routine's own and never changes,
// and walking a few cells costs less than keeping a second table in step.
#include "evaluator/routines.hpp"

#include <cstring>
#include <unistd.h>

#include "datatypes/file.hpp"
#include "datatypes/function.hpp"
#include "datatypes/typeset.hpp"
#include "evaluator/clipboard_routines.hpp"
#include "evaluator/image_routines.hpp"
#include "runtime/stack.hpp"
#include "lexer/scanner.hpp"
#include "platform/console.hpp"
#include "platform/files.hpp"
#include "runtime/context.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
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

const Cell* any_function_q(Cell* const* args) {
    const uint32_t t = cell::type_of(args[0]);
    return is_any_function(t) ? &shared::true_value : &shared::false_value;
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

}  // namespace

#define IMAGE_ENCODE_SPEC(format)                                                                    \
    "\"Encodes an image as a " format " file\" img [image!] where [none! binary! file!] \"Where to put the " \
    "bytes; none for a new binary\" return: [binary! file!]"

const Entry table[] = {
    {"last-lf?", "\"Returns TRUE when the last output ended with a new line\" return: [logic!]", TYPE_LOGIC,
     &last_lf, nullptr},
    {"quit-return", "\"Ends the process at once with the given status\" status [integer!]", WRITES_RESULT,
     &quit_return, nullptr},
    {"any-function?", "\"Returns TRUE if the value is any kind of function\" value [any-type!] return: [logic!]",
     WRITES_RESULT, nullptr, &any_function_q},
    {"exists?", "\"Returns TRUE if the file exists\" path [file!] return: [logic!]", WRITES_RESULT, nullptr,
     &exists_q},
    {"create-dir", "\"Create the given directory\" path [file!]", WRITES_RESULT, nullptr, &create_dir},
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
};
#undef IMAGE_ENCODE_SPEC
const uint32_t COUNT = sizeof table / sizeof table[0];

const Entry* entry_of(int32_t index) {
    if (index < 1 || index > static_cast<int32_t>(COUNT)) return nullptr;
    return &table[index - 1];
}

void init() {
    const stack::Saved saved;
    for (uint32_t i = 0; i < COUNT; i++) {
        const Entry& e = table[i];
        Cell* holder = stack::push(&shared::none);
        lexer::load_text(e.spec, std::strlen(e.spec), holder);
        const Cell spec = *holder;
        function::validate_spec(&spec);
        const Cell v = *function::push_routine(&spec, nullptr, i + 1, e.returns, e.cells != nullptr);
        word::set(word::make_from_cstr(e.name), &v);
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
        const Cell result = *e->cells(args);
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

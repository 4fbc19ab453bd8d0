// error!: the catalogue object, making errors from codes, blocks and
// strings, and the display format.
//
// The display never changes the error it shows: an error whose type or id
// names nothing in the catalogue is shown as internal invalid-error with
// the offending value in place of arg1, and a recorded frame position is
// clamped to the frames still live, since the records above the frame top
// belong to calls that have returned and may have been overwritten.
#include "datatypes/error.hpp"

#include <string>

#include "datatypes/block.hpp"
#include "datatypes/fills.hpp"
#include "datatypes/object.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/text.hpp"
#include "datatypes/word.hpp"
#include "runtime/actions.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/error_catalog.hpp"
#include "runtime/errors.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"

namespace qel::error_type {

int32_t trace_level = 0;
const Cell* near_position = nullptr;

namespace {

// The stack-trace field of system/state (0 when it holds no integer), or
// trace_level while there is no system object.
int32_t stack_trace_level() {
    const Cell* f = system_object::field({"state", "stack-trace"});
    if (!f) return trace_level;
    return cell::type_of(f) == TYPE_INTEGER ? integer_value(*f) : 0;
}

// Root-block cells: the errors object and the error prototype.
Cell* errors_cell = nullptr;
Cell* proto_cell = nullptr;

// Fixed class ids of the objects built here.
constexpr int32_t ERRORS_CLASS = 2;
constexpr int32_t CATEGORY_CLASS = 3;

const char* const category_names[err::CATEGORIES] = {
    "throw", "note", "syntax", "script", "math", "access", "reserved1", "reserved2", "user", "internal",
};
const char* const field_names[err::FIELDS] = {
    "code", "type", "id", "arg1", "arg2", "arg3", "near", "where", "stack", "files",
};

inline Cell* cells_of(node_t n) { return series::head_cell(series::buffer_of(n)); }
inline uint32_t count_of(node_t n) { return series::buffer_length(n); }

Cell word_cell(uint32_t type, const char* name) {
    return Cell{type, 0, static_cast<uint32_t>(symbol::intern_cstr(name)), static_cast<uint32_t>(-1)};
}

// The text of a string! from its index.
void append_from_index(node_t out, const Cell& s) {
    text::append_text(out, series_node(s), series_index(s), text::length(series_node(s)) - series_index(s));
}

Cell string_cell(const char* s, size_t n) {
    const node_t out = text::make_buffer(static_cast<uint32_t>(n) + 1);
    text::append_latin1(out, s, n);
    return Cell{TYPE_STRING, 0, out, 0};
}

// "@1 invalid @2 at @3" becomes [:arg1 "invalid" :arg2 "at" :arg3]; the
// user message is the word arg1 itself: the error's arg1 is the text.
Cell template_of(const err::CatalogEntry& e) {
    if (e.code == err::USER * 100) return word_cell(TYPE_WORD, "arg1");
    Cell b{};
    block::make_at(&b, 4);
    const std::string m = e.message;
    size_t start = 0;
    auto flush = [&](size_t end) {
        size_t a = start, z = end;
        while (a < z && m[a] == ' ') a++;
        while (z > a && m[z - 1] == ' ') z--;
        if (z > a) {
            const Cell s = string_cell(m.data() + a, z - a);
            block::append_copy(&b, &s);
        }
    };
    for (size_t i = 0; i < m.size(); i++) {
        if (m[i] == '@' && i + 1 < m.size() && m[i + 1] >= '1' && m[i + 1] <= '3') {
            flush(i);
            const char name[5] = {'a', 'r', 'g', m[i + 1], 0};
            const Cell w = word_cell(TYPE_GET_WORD, name);
            block::append_copy(&b, &w);
            start = i + 2;
            i++;
        }
    }
    flush(m.size());
    return b;
}

node_t errors_ctx() { return object_context(errors_cell); }

node_t category_ctx(uint32_t category) { return object_context(context::value_by_index(errors_ctx(), category)); }

// Category position of a word, or -1.
int32_t category_of(const Cell& w) {
    if (!is_all_word(cell::type_of(&w))) return -1;
    return context::find_symbol(errors_ctx(), word_symbol(w), true);
}

// Id position (2 and above) of a word in a category, or -1.
int32_t id_of(uint32_t category, const Cell& w) {
    if (!is_all_word(cell::type_of(&w))) return -1;
    const int32_t p = context::find_symbol(category_ctx(category), word_symbol(w), true);
    return p >= 2 ? p : -1;
}

Cell* slot_of(const Cell* error, uint32_t f) { return context::value_by_index(object_context(error), f); }

// Sets type, id and code from a category and id position.
void set_names(const Cell* error, uint32_t category, uint32_t id_pos) {
    const node_t cctx = category_ctx(category);
    Cell t = *context::word_at(errors_ctx(), category);
    t.header = TYPE_WORD;
    Cell i = *context::word_at(cctx, id_pos);
    i.header = TYPE_WORD;
    *slot_of(error, err::F_TYPE) = t;
    *slot_of(error, err::F_ID) = i;
    *slot_of(error, err::F_CODE) = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(category * 100 + id_pos - 2), 0};
}

// A new error! with every field none, pushed.
Cell* push_blank() {
    Cell* e = stack::push(&shared::none);
    object::copy_into(proto_cell, e, false, nullptr, false);
    *e = Cell{TYPE_ERROR, object_context(e), static_cast<uint32_t>(object::ERROR_CLASS_ID), 0};
    *context::self_of(object_context(e)) = *e;
    return e;
}

void set_near(const Cell* error) {
    const Cell p = near_position ? *near_position : shared::none;
    const uint32_t t = cell::type_of(&p);
    *slot_of(error, err::F_NEAR) = (t == TYPE_BLOCK || t == TYPE_PAREN) ? p : shared::none;
}

// ---- display ----

// The value molded (formed when formed is set) into out, cut to limit
// characters.
void append_limited(node_t out, const Cell& v, bool formed, bool only, int32_t limit) {
    Cell* held = stack::push(&v);
    const node_t tmp = text::make_buffer(64);
    const Cell keep{TYPE_STRING, 0, tmp, 0};
    stack::push(&keep);
    if (formed) actions::form(held, tmp, true, limit);
    else actions::mold(held, tmp, datatype::MoldOptions{.only = only, .flat = true, .part = true}, limit, 0);
    const uint32_t n = text::length(tmp);
    text::append_text(out, tmp, 0, n < static_cast<uint32_t>(limit) ? n : static_cast<uint32_t>(limit));
    stack::pop_n(2);
}

bool is_syntax(const Cell* error) {
    const Cell t = *slot_of(error, err::F_TYPE);
    return is_all_word(cell::type_of(&t)) &&
           symbol::canonical(word_symbol(t)) == symbol::canonical(symbol::intern_cstr("syntax"));
}

// The value of the error field a template word names; override stands in
// for arg1 when the error is shown as invalid-error.
Cell field_named(const Cell* error, const Cell& w, const Cell* override_arg1) {
    const int32_t f = context::find_symbol(object_context(error), word_symbol(w), true);
    if (f < 0) return shared::none;
    if (override_arg1 && f == static_cast<int32_t>(err::F_ARG1)) return *override_arg1;
    return *slot_of(error, static_cast<uint32_t>(f));
}

void write_message(const Cell* error, node_t out, Cell tmpl, const Cell* override_arg1) {
    if (cell::type_of(&tmpl) == TYPE_WORD || cell::type_of(&tmpl) == TYPE_GET_WORD)
        tmpl = field_named(error, tmpl, override_arg1);
    const uint32_t t = cell::type_of(&tmpl);
    if (t == TYPE_STRING) {
        append_from_index(out, tmpl);
        return;
    }
    if (t != TYPE_BLOCK) return;
    Cell* held = stack::push(&tmpl);
    const bool formed = is_syntax(error);
    bool first = true;
    for (uint32_t i = series_index(held); i < count_of(series_node(held)); i++) {
        const Cell e = cells_of(series_node(held))[i];
        const uint32_t et = cell::type_of(&e);
        if (et != TYPE_STRING && et != TYPE_WORD && et != TYPE_GET_WORD) continue;
        if (!first) text::append_cstr(out, " ");
        first = false;
        if (et == TYPE_STRING) {
            append_from_index(out, e);
        } else {
            const Cell v = field_named(error, e, override_arg1);
            append_limited(out, v, formed, false, 80);
        }
    }
    stack::pop_n(1);
}

int32_t form(const Cell* value, node_t out, bool part, int32_t limit) {
    const uint32_t before = text::length(out);
    form_display(value, out);
    return limit - static_cast<int32_t>(text::length(out) - before);
}

int32_t mold(const Cell* value, node_t out, const datatype::MoldOptions& options, int32_t limit, int32_t indent) {
    return object::mold_made(value, out, options, limit, indent, "make error! [");
}

int32_t compare(const Cell* a, const Cell* b, CompareOp op) {
    if (cell::type_of(b) != TYPE_ERROR) return -2;
    return object::compare(a, b, op);
}

[[noreturn]] void bad_spec_field(const Cell* which) {
    Cell w = *which;
    err::raise(err::INVALID_SPEC_FIELD, &w);
}

Cell* make(Cell* proto, Cell* spec, uint32_t type) {
    const uint32_t st = cell::type_of(spec);
    if (st == TYPE_INTEGER) {
        const int32_t code = integer_value(spec);
        const int32_t category = code / 100;
        if (code < 0 || category >= err::CATEGORIES) err::raise(err::OUT_OF_RANGE, spec);
        const uint32_t pos = static_cast<uint32_t>(code % 100) + 2;
        if (pos >= context::word_count(category_ctx(static_cast<uint32_t>(category)))) err::raise(err::OUT_OF_RANGE, spec);
        Cell* e = push_blank();
        set_names(e, static_cast<uint32_t>(category), pos);
        set_near(e);
        return e;
    }
    if (st == TYPE_STRING) {
        Cell* e = push_error(err::USER * 100, spec, nullptr, nullptr);
        *slot_of(e, err::F_NEAR) = shared::none;
        return e;
    }
    if (st != TYPE_BLOCK) {
        const Cell t{TYPE_DATATYPE, TYPE_ERROR, 0, 0};
        err::raise(err::BAD_MAKE_ARG, &t, spec);
    }
    Cell* sp = stack::push(spec);
    const uint32_t first_type = block::length(sp) > 0 ? cell::type_of(block::cell_at(sp, series_index(sp))) : 0;
    if (first_type == TYPE_WORD) {
        const Cell cat_word = *block::cell_at(sp, series_index(sp));
        const int32_t category = category_of(cat_word);
        if (category < 0) bad_spec_field(words::w_type);
        if (block::length(sp) < 2) bad_spec_field(words::w_id);
        const Cell id_word = *block::cell_at(sp, series_index(sp) + 1);
        if (cell::type_of(&id_word) != TYPE_WORD) err::raise(err::INVALID_ARG, &id_word);
        const int32_t pos = id_of(static_cast<uint32_t>(category), id_word);
        if (pos < 0) bad_spec_field(words::w_id);
        Cell* e = push_blank();
        set_names(e, static_cast<uint32_t>(category), static_cast<uint32_t>(pos));
        set_near(e);
        return e;
    }
    if (first_type == TYPE_SET_WORD) {
        Cell* e = push_blank();
        context::bind(sp, object_context(e), true, true);
        object::run_body(sp);
        const Cell t = *slot_of(e, err::F_TYPE);
        const int32_t category = cell::type_of(&t) == TYPE_WORD ? category_of(t) : -1;
        if (category < 0) bad_spec_field(words::w_type);
        const Cell i = *slot_of(e, err::F_ID);
        const int32_t pos = cell::type_of(&i) == TYPE_WORD ? id_of(static_cast<uint32_t>(category), i) : -1;
        if (pos < 0) bad_spec_field(words::w_id);
        *slot_of(e, err::F_CODE) = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(category * 100 + pos - 2), 0};
        object::clear_changed(object_context(e));
        set_near(e);
        return e;
    }
    err::raise(err::INVALID_ERROR);
}

}  // namespace

// ---- the catalogue ----

const Cell* catalog_errors() { return errors_cell; }

void init_catalog() {
    err::catalogue = {&catalog_ready, &push_error, &form_display};
    const uint32_t saved_keep = keep_words;
    keep_words = 0;
    errors_cell = series::reserve_cell(&root_cell);
    *errors_cell = shared::none;
    proto_cell = series::reserve_cell(&root_cell);
    *proto_cell = shared::none;

    const node_t ectx = context::make(err::CATEGORIES, false, true, 0, context::OBJECT);
    *errors_cell = Cell{TYPE_OBJECT, ectx, ERRORS_CLASS, 0};
    *context::self_of(ectx) = *errors_cell;
    for (int k = 0; k < err::CATEGORIES; k++) {
        const node_t cctx = context::make(8, false, true, 0, context::OBJECT);
        const Cell cat{TYPE_OBJECT, cctx, static_cast<uint32_t>(CATEGORY_CLASS + k), 0};
        *context::self_of(cctx) = cat;
        const Cell name = word_cell(TYPE_WORD, category_names[k]);
        context::set_by_symbol(errors_ctx(), &name, &cat);
        const Cell code_word = word_cell(TYPE_WORD, "code");
        const Cell code{TYPE_INTEGER, 0, static_cast<uint32_t>(k * 100), 0};
        context::set_by_symbol(cctx, &code_word, &code);
        const Cell type_word = word_cell(TYPE_WORD, "type");
        const char* text = err::category_texts[k];
        const Cell type_text = string_cell(text, std::char_traits<char>::length(text));
        context::set_by_symbol(cctx, &type_word, &type_text);
        for (uint32_t i = 0; i < err::catalog_size; i++) {
            const err::CatalogEntry& e = err::catalog[i];
            if (e.code / 100 != k) continue;
            const Cell id = word_cell(TYPE_WORD, e.id);
            const Cell tmpl = template_of(e);
            context::set_by_symbol(cctx, &id, &tmpl);
        }
    }
    // The prototype: every field none.
    const node_t pctx = context::make(err::FIELDS, false, true, 0, context::OBJECT);
    *proto_cell = Cell{TYPE_ERROR, pctx, static_cast<uint32_t>(object::ERROR_CLASS_ID), 0};
    *context::self_of(pctx) = *proto_cell;
    for (const char* f : field_names) {
        const Cell w = word_cell(TYPE_WORD, f);
        context::set_by_symbol(pctx, &w, &shared::none);
    }
    keep_words = saved_keep;
}

bool catalog_ready() { return errors_cell && cell::type_of(errors_cell) == TYPE_OBJECT && stack::ready(); }

Cell* push_error(int code, const Cell* arg1, const Cell* arg2, const Cell* arg3) {
    Cell* args = stack::push(arg1 ? arg1 : &shared::none);
    stack::push(arg2 ? arg2 : &shared::none);
    stack::push(arg3 ? arg3 : &shared::none);
    Cell* e = push_blank();
    const int category = code / 100;
    const uint32_t pos = static_cast<uint32_t>(code % 100) + 2;
    if (code >= 0 && category < err::CATEGORIES && pos < context::word_count(category_ctx(static_cast<uint32_t>(category))))
        set_names(e, static_cast<uint32_t>(category), pos);
    else
        *slot_of(e, err::F_CODE) = Cell{TYPE_INTEGER, 0, static_cast<uint32_t>(code), 0};
    for (uint32_t i = 0; i < 3; i++) *slot_of(e, err::F_ARG1 + i) = args[i];
    set_near(e);
    // The error takes the place of its arguments.
    args[0] = *e;
    stack::arg_top = args + 1;
    return args;
}

void form_display(const Cell* error_in, node_t out) {
    Cell* error = stack::push(error_in);
    text::append_cstr(out, "*** ");
    const Cell type = *slot_of(error, err::F_TYPE);
    const Cell id = *slot_of(error, err::F_ID);
    int32_t category = category_of(type);
    int32_t pos = category >= 0 ? id_of(static_cast<uint32_t>(category), id) : -1;
    Cell override_arg{};
    const Cell* override_arg1 = nullptr;
    if (category < 0 || pos < 0) {
        override_arg = category < 0 ? type : id;
        override_arg1 = &override_arg;
        category = err::INTERNAL;
        pos = err::INVALID_ERROR % 100 + 2;
    }
    const node_t cctx = category_ctx(static_cast<uint32_t>(category));
    const Cell type_text = *context::value_by_index(cctx, 1);
    if (cell::type_of(&type_text) == TYPE_STRING)
        append_from_index(out, type_text);
    text::append_cstr(out, ": ");
    const Cell tmpl = *context::value_by_index(cctx, static_cast<uint32_t>(pos));
    write_message(error, out, tmpl, override_arg1);

    text::append_cstr(out, "\n*** Where: ");
    const Cell where = *slot_of(error, err::F_WHERE);
    const uint32_t wt = cell::type_of(&where);
    if (is_all_word(wt)) text::append_cstr(out, symbol::name(word_symbol(where)));
    else if (wt == TYPE_STRING) append_from_index(out, where);
    else text::append_cstr(out, "???");

    text::append_cstr(out, "\n*** Near : ");
    append_limited(out, *slot_of(error, err::F_NEAR), false, true, 40);

    const Cell stack_field = *slot_of(error, err::F_STACK);
    if (cell::type_of(&stack_field) == TYPE_BLOCK) {
        text::append_cstr(out, "\n*** Stack: ");
        append_limited(out, stack_field, true, false, 0x7FFFFFFF);
    } else if (const int32_t level = stack_trace_level();
               cell::type_of(&stack_field) == TYPE_INTEGER && level > 0) {
        // Only frames still live: those above the top have been popped.
        const auto live = static_cast<uint32_t>(stack::frame_top - stack::frame_bottom);
        const auto recorded = static_cast<uint32_t>(integer_value(stack_field));
        const Cell end{TYPE_INTEGER, 0, recorded < live ? recorded : live, 0};
        std::string calls;
        stack::collect_calls(level, &end, calls, 1000);
        while (!calls.empty() && calls.back() == ' ') calls.pop_back();
        text::append_cstr(out, "\n*** Stack: ");
        text::append_cstr(out, calls.c_str());
    }
    const Cell files = *slot_of(error, err::F_FILES);
    if (cell::type_of(&files) == TYPE_BLOCK) {
        text::append_cstr(out, "\n*** Files: ");
        append_limited(out, files, false, true, 40);
    }
    stack::pop_n(1);
}

void fill(datatype::Record& r) {
    for (auto& a : r.actions) a = nullptr;
    datatype::set_slot<datatype::MAKE>(r, &make);
    r.actions[datatype::REFLECT] = datatype::INHERIT;
    datatype::set_slot<datatype::FORM>(r, &form);
    datatype::set_slot<datatype::MOLD>(r, &mold);
    datatype::set_slot<datatype::EVAL_PATH>(r, &object::eval_path);
    datatype::set_slot<datatype::COMPARE>(r, &compare);
    r.actions[datatype::COPY] = datatype::INHERIT;
    r.actions[datatype::FIND] = datatype::INHERIT;
    r.actions[datatype::SELECT] = datatype::INHERIT;
}

}  // namespace qel::error_type

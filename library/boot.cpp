#include "library/boot.hpp"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "codecs/qelbin.hpp"
#include "datatypes/block.hpp"
#include "datatypes/error.hpp"
#include "datatypes/function.hpp"
#include "datatypes/system_object.hpp"
#include "datatypes/typeset.hpp"
#include "library/builtin_words.hpp"
#include "evaluator/interp.hpp"
#include "evaluator/routines.hpp"
#include "runtime/stack.hpp"
#include "lexer/scanner.hpp"
#include "runtime/exits.hpp"
#include "runtime/context.hpp"
#include "runtime/memory.hpp"
#include "runtime/series.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "runtime/words.hpp"

namespace qel::boot {

Embedded embedded;

namespace {

[[noreturn]] void source_error(const Source& src, const char* message) {
    std::fprintf(stderr, "%s: %s\n", src.name.c_str(), message);
    std::exit(1);
}

// The source's block, with its index past the "Qel [...]" header.
Cell load_source(const Source& src) {
    Cell* holder = stack::push(&shared::none);
    lexer::load_text(src.text.data(), src.text.size(), holder);
    Cell b = *holder;
    const Cell* cells = series::cells_of(series_node(b));
    if (series::cell_count(series_node(b)) < 2 || cell::type_of(&cells[0]) != TYPE_WORD ||
        std::string(symbol::name(word_symbol(cells[0]))) != "Qel" ||
        cell::type_of(&cells[1]) != TYPE_BLOCK)
        source_error(src, "a library source begins with its header: Qel [...]");
    series_index(b) = 2;
    return b;
}

// Evaluates the typeset statements, appending each word and its typeset.
void define_typesets(const Source& src, Cell* pairs) {
    const Cell b = load_source(src);
    const uint32_t n = series::cell_count(series_node(b));
    for (uint32_t i = series_index(b); i < n; i += 4) {
        const Cell* c = series::cells_of(series_node(b)) + i;
        auto is_word = [&](uint32_t k, uint32_t type, const char* name) {
            return cell::type_of(&c[k]) == type &&
                   (!name || std::string(symbol::name(word_symbol(c[k]))) == name);
        };
        if (i + 4 > n || !is_word(0, TYPE_SET_WORD, nullptr) || !is_word(1, TYPE_WORD, "make") ||
            !is_word(2, TYPE_WORD, "typeset!") || cell::type_of(&c[3]) != TYPE_BLOCK)
            source_error(src, "expected name: make typeset! [types]");
        const Cell types = c[3];
        Cell* holder = stack::push(&shared::none);
        *holder = Cell{TYPE_BLOCK, 0, memory::alloc_cells(1), 0};
        const Cell ts = *typeset::append_from_block(holder, &types);
        Cell w = series::cells_of(series_node(b))[i];
        cell::set_type(&w, TYPE_WORD);
        word::set(&w, &ts);
        block::append_copy(pairs, &w);
        block::append_copy(pairs, &ts);
    }
}

// The fields of the system object that come from the runtime rather than
// from the library's sources: the routines named by field paths, the
// global context as the object system/words, the error catalogue.
void complete_system_object(const Cell* specs) {
    routines::install_fields(specs);
    const Cell words{TYPE_OBJECT, context::global, static_cast<uint32_t>(-1), 0};
    *context::self_of(context::global) = words;
    if (Cell* slot = system_object::field({"words"})) *slot = words;
    if (Cell* slot = system_object::field({"catalog", "errors"})) *slot = *error_type::catalog_errors();
}

}  // namespace

std::vector<uint8_t> make_image(const Source& typesets, const std::vector<Source>& library) {
    const stack::Saved saved;
    Cell* pairs = stack::push(&shared::none);
    *pairs = Cell{TYPE_BLOCK, 0, memory::alloc_cells(512), 0};
    builtin_words::define_datatypes(pairs);
    define_typesets(typesets, pairs);
    builtin_words::define_actions(pairs);
    builtin_words::define_natives(pairs);
    Cell* literals = stack::push(&shared::none);
    *literals = Cell{TYPE_BLOCK, 0, memory::alloc_cells(static_cast<uint32_t>(library.size()) + 1), 0};
    for (const Source& src : library) {
        const Cell b = load_source(src);
        block::append_copy(literals, &b);
    }
    // The routines' spec blocks, loaded here once rather than at every
    // start.
    Cell* specs = stack::push(&shared::none);
    *specs = Cell{TYPE_BLOCK, 0, memory::alloc_cells(routines::COUNT), 0};
    for (uint32_t i = 0; i < routines::COUNT; i++) {
        Cell* spec = stack::push(&shared::none);
        lexer::load_text(routines::table[i].spec, std::strlen(routines::table[i].spec), spec);
        block::append_copy(specs, spec);
        stack::pop_n(1);
    }
    block::append_copy(literals, specs);
    return qelbin::encode_boot(pairs, literals);
}

void start(const uint8_t* image, size_t size) {
    const uint32_t before = series::cell_count(series_node(root_cell));
    try {
        const stack::Saved saved;
        stack::mark_try(nullptr);
        qelbin::decode_into(image, static_cast<int64_t>(size), &root_cell, true);
    } catch (const NonLocalExit&) {
        // A record the reader refused: without the image there is no
        // library to report it through.
        std::fputs("Error: Qelbin boot image corrupted!\n", stdout);
        std::fflush(stdout);
        std::exit(1);
    }
    // The last literal holds the routines' specs, one block per entry of
    // the routine table.
    const uint32_t after = series::cell_count(series_node(root_cell));
    const Cell* specs = after > before ? series::cells_of(series_node(root_cell)) + after - 1 : nullptr;
    if (!specs || cell::type_of(specs) != TYPE_BLOCK || series_index(specs) != 0 ||
        series::cell_count(series_node(*specs)) != routines::COUNT) {
        std::fputs("Error: Qelbin boot image corrupted!\n", stdout);
        std::fflush(stdout);
        std::exit(1);
    }
    routines::init(specs);
    keep_words = 0;
    collector_enabled = 1;
    // Every function the library's sources make is a built-in one.
    function::making_built_ins = true;
    for (uint32_t i = before; i + 1 < after; i++) {
        const stack::Saved saved;
        // The root block is a fixed buffer: its cells stay in place.
        const Cell* literal = series::cells_of(series_node(root_cell)) + i;
        if (cell::type_of(literal) == TYPE_BLOCK) interp::eval_block(stack::push(literal), false);
    }
    function::making_built_ins = false;
    complete_system_object(specs);
}

}  // namespace qel::boot

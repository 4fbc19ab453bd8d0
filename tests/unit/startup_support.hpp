// Test helper: a runtime built on fresh memory by the start-up sequence
// itself. Tests
// that look at symbol ids or the root block need every step in its place,
// so nothing is shared with other tests: each one starts over.
#pragma once
#include "library/startup.hpp"
#include "runtime/stack.hpp"
#include "runtime/context.hpp"
#include "runtime/cycles.hpp"
#include "runtime/datatypes.hpp"
#include "runtime/hashtab.hpp"
#include "runtime/memory.hpp"
#include "runtime/owner.hpp"
#include "runtime/runtime_words.hpp"
#include "runtime/symbols.hpp"
#include "runtime/system.hpp"
#include "test_support.hpp"

namespace qel::testutil {

// Only what tables and words need: frames, a root block, the symbol table
// and the global context, with no word interned yet.
class SymbolTables : public FreshMemory {
protected:
    void SetUp() override {
        FreshMemory::SetUp();
        saved_keep_ = keep_words;
        keep_words = 0;
        memory::new_node_frame(memory::NODES_PER_FRAME);
        memory::new_series_frame();
        root_cell = Cell{TYPE_BLOCK, 0, memory::alloc_cells(8880), 0};
        hashtab::init();
        cycles::reset();
        symbol::init();
        context::init_global();
    }
    void TearDown() override {
        symbol::index = 0;
        context::global = 0;
        root_cell = Cell{};
        keep_words = saved_keep_;
        FreshMemory::TearDown();
    }

private:
    uint32_t saved_keep_ = 0;
};

class StartedRuntime : public FreshMemory {
protected:
    void SetUp() override {
        FreshMemory::SetUp();
        saved_keep_ = keep_words;
        startup::init();
    }

    void TearDown() override {
        // Nothing may reach the freed frames through the root or the
        // stacks afterwards.
        root_cell = Cell{};
        stack::release();
        keep_words = saved_keep_;
        datatype::init_tables();
        startup::register_datatypes();
        FreshMemory::TearDown();
    }

    // Whether c is one of the root block's cells.
    static bool in_root_block(const Cell* c) {
        SeriesBuffer* s = series::buffer_of(series_node(root_cell));
        return c >= series::head_cell(s) && c < series::tail_cell(s);
    }

private:
    uint32_t saved_keep_ = 0;
};

}  // namespace qel::testutil

// Test helper for the lexer: a started runtime with the lexer's step run,
// loading texts into blocks, and catching the syntax errors with their
// arguments as UTF-8.
#pragma once
#include <gtest/gtest.h>

#include <string>

#include "datatypes/block.hpp"
#include "datatypes/text.hpp"
#include "lexer/loaders.hpp"
#include "lexer/scanner.hpp"
#include "runtime/errors.hpp"
#include "runtime/symbols.hpp"
#include "runtime/unicode.hpp"
#include "startup_support.hpp"

namespace qel::testutil {

class LexerRuntime : public StartedRuntime {
protected:
    void SetUp() override {
        StartedRuntime::SetUp();
        lexer::init();
    }

    // The values of a text, as a block.
    static Cell load(const std::string& text) {
        Cell b{};
        lexer::load_text(text.data(), text.size(), &b);
        return b;
    }
    static uint32_t count(const Cell& b) { return static_cast<uint32_t>(series::length_of(&b)); }
    static Cell item(const Cell& b, uint32_t i) { return *block::cell_at(&b, series_index(b) + i); }
    // The one value of a text.
    static Cell one(const std::string& text) {
        const Cell b = load(text);
        EXPECT_EQ(count(b), 1u) << text;
        return count(b) ? item(b, 0) : Cell{TYPE_NONE, 0, 0, 0};
    }
    static std::string utf8_of(const Cell& c) {
        if (cell::type_of(&c) == TYPE_STRING) {
            Cell s = c;
            const auto n = series::length_of(&s);
            std::string out;
            for (int32_t i = 0; i < n; i++) {
                uint8_t buf[4];
                out.append(reinterpret_cast<char*>(buf), unicode::encode_utf8(unicode::codepoint_at(series_node(c), series_index(c) + i), buf));
            }
            return out;
        }
        if (cell::type_of(&c) >= TYPE_WORD && cell::type_of(&c) <= TYPE_ISSUE) return symbol::name(word_symbol(c));
        return "?";
    }

    struct Syntax {
        int code = 0;
        std::string arg1, arg2, arg3;  // arg2: the datatype's name or the text
    };
    // The error that loading raises (code 0 when none).
    static Syntax load_error(const std::string& text) {
        Syntax r;
        sys.pending_error = 0;
        stack::Saved saved;
        stack::mark_try(nullptr);
        try {
            load(text);
        } catch (const NonLocalExit& e) {
            EXPECT_EQ(e.code, catch_code::ERROR);
            const Cell error = *stack::top();
            r.code = err::code_of(&error);
            r.arg1 = utf8_of(err::field(&error, err::F_ARG1));
            const Cell a2 = err::field(&error, err::F_ARG2);
            if (cell::type_of(&a2) == TYPE_DATATYPE) r.arg2 = datatype::entry(datatype_id(a2)).name;
            else r.arg2 = utf8_of(a2);
            r.arg3 = utf8_of(err::field(&error, err::F_ARG3));
        }
        return r;
    }

    // A string! of UTF-8 text.
    static Cell string_of(const std::string& text) {
        const unicode::Loaded l =
            unicode::load_utf8_new(reinterpret_cast<const uint8_t*>(text.data()), static_cast<uint32_t>(text.size()));
        return Cell{TYPE_STRING, 0, l.node, 0};
    }
};

}  // namespace qel::testutil

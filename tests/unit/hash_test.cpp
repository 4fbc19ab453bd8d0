// The hash! index kept in step by the block actions: after each change the
// index must hold exactly one entry per cell of the block, each found at
// its own position, and nothing else. Checked on the index record itself,
// which the language only sees through find and select.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "evaluator/interp.hpp"
#include "lexer/scanner.hpp"
#include "library/boot.hpp"
#include "library/boot_image.hpp"
#include "runtime/hashtab.hpp"
#include "library_support.hpp"
#include "startup_support.hpp"
#include "value_builders.hpp"

namespace qel {
namespace {

class HashIndex : public testutil::LibraryRuntime {
protected:
    // Empty when the index of h matches its cells, else what is wrong.
    static std::string index_fault(const Cell& h) {
        if (cell::type_of(&h) != TYPE_HASH || !hash_index_node(h)) return "not an indexed hash!";
        const uint32_t n = series::cell_count(series_node(h));
        if (hashtab::count(hash_index_node(h)) != n)
            return "index holds " + std::to_string(hashtab::count(hash_index_node(h))) + " entries for " + std::to_string(n) +
                   " cells";
        for (uint32_t p = 0; p < n; p++) {
            const Cell c = series::cells_of(series_node(h))[p];
            const Cell* hit = hashtab::get(hash_index_node(h), &c, p, 1, CompareOp::Equal, false, false);
            if (hit != series::cells_of(series_node(h)) + p) return "cell " + std::to_string(p) + " not found in place";
        }
        return "";
    }
};

TEST_F(HashIndex, EveryBlockActionKeepsTheIndexExact) {
    // Each case starts from h: make hash! [a b "c" 1 a 2.5 [x] b "C" 3].
    const char* cases[] = {
        "append h [z a]",
        "append/dup h 'q 3",
        "insert h [a new]",
        "insert at h 4 [m n o]",
        "insert/part next h [k l m] 2",
        "change h [p q]",
        "change/part at h 3 'one 4",
        "poke h 2 'a",
        "h/3: 'b",
        "remove h",
        "remove/part at h 2 3",
        "remove back tail h",
        "clear at h 5",
        "clear h",
        "take/part at h 2 2",
        "take/last h",
        "reverse h",
        "reverse/part next h 4",
        "reverse/skip h 2",
        "swap h at h 5",
        "move h at h 6",
        "move/part at h 7 h 3",
        "move/part h make hash! [x] 2",
        "sort h",
        "sort/reverse at h 3",
        "sort/skip h 2",
        "put h 'b 99",
        "put h 'nothing 1",
        "random h",
        "trim h",
        "remove-each v h [v = 'a]",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        const std::string src = std::string("h: make hash! [a b \"c\" 1 a 2.5 [x] b \"C\" 3] ") + c + " h";
        const Cell h = eval(src.c_str());
        const Cell whole{TYPE_HASH, 0, series_node(h), hash_index_node(h)};
        EXPECT_EQ(index_fault(whole), "");
    }
}

TEST_F(HashIndex, MadeAndCopiedHashesIndexTheirWholeBlock) {
    const char* cases[] = {
        "make hash! next [a b c]",
        "make hash! 10",
        "to hash! 'a",
        "copy make hash! [a b a]",
        "copy next make hash! [a b a]",
        "copy/part make hash! [a b a] 2",
        "copy/deep make hash! [[a] b]",
        "take/part make hash! [a b c] 2",
        "unique make hash! [a b a]",
        "union make hash! [a b] [b c]",
        "next make hash! [a b c]",
    };
    for (const char* c : cases) {
        SCOPED_TRACE(c);
        const Cell h = eval(c);
        const Cell whole{TYPE_HASH, 0, series_node(h), hash_index_node(h)};
        EXPECT_EQ(index_fault(whole), "");
    }
}

TEST_F(HashIndex, AHashAtAnIndexIsFoundFromThere) {
    // The index covers cells before the head; find must still start at it.
    const Cell h = eval("h: next make hash! [a b a] find h 'a");
    EXPECT_EQ(series_index(h), 2u);
}

}  // namespace
}  // namespace qel

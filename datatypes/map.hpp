// map!: an associative array from keys to values, #[a: 1 "b" 2].
//
// A map! cell holds node ids in word 2 (the entry block) and word 3 (the
// hash index record, kind MAP); word 1 is the index, always 0. The entry
// block holds key/value cell pairs in order of first insertion. A pair
// whose value cell has header 0 is removed: every action skips it, and
// setting its key again revives it in its old place. The index finds a
// key's pair and counts the active pairs.
//
// Removed pairs are not kept for ever: once they outnumber the active
// ones (and a small floor), a removal compacts the entry block and its
// index, the active pairs keeping their order. A key removed before a
// compaction and set again after it is new to the map and goes to the
// end. A foreach walking the map records itself (Walk below), so that a
// compaction made by its body moves the walk's position along with the
// pairs: the walk goes on at the pair it would have reached.
//
// Keys are normalised on entry: every word type becomes set-word! (so a,
// a:, :a and 'a are one key), texts and binaries are copied so that later
// changes to the source do not reach the key. Lookups ignore letter case
// unless a strict (StrictEqual) or identity (Same) comparison is asked for.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/datatypes.hpp"

namespace qel::map {

// Number of active entries.
int32_t count(const Cell* m);

// Whether values of a type may be keys.
bool key_type_ok(uint32_t type);

// Normalises a key in place (word types to set-word!, texts copied), or
// raises script invalid-path with the path (or spec) and the key's type.
// May allocate.
void check_key(Cell* key, const Cell* path);

// The key cell of key's pair under op (Equal, StrictEqual or Same), active
// or removed (the value cell follows it), or nullptr. Allocates nothing;
// the answer points into the entry block.
Cell* find_pair(const Cell* m, const Cell* key, CompareOp op);

// Sets key to value (a removed pair is revived, a new key appended),
// looking the key up strictly when strict. path names the path or spec
// for the error of a bad key. Answers the value's cell in the entry block,
// valid until the next allocation.
Cell* set(const Cell* m, const Cell* key, const Cell* value, bool strict, const Cell* path);

// Adds the key/value pairs of a block (from its index), hash! or map! to
// the map; an odd number of values raises script invalid-arg.
Cell* extend_from_block(Cell* m, const Cell* spec, bool strict);

// Makes c (a cell the collector reaches: on the argument stack or in a
// marked block) a new map with room for size entries, filled from the
// pairs of block when it is not null.
Cell* make_at(Cell* c, const Cell* block, uint32_t size);

// Indexes the pairs of a map whose index is still empty (as a serialized
// map is read back): word keys become set-words. Answers false when a key
// has a type maps do not take or two keys are the same key.
bool index_pairs(const Cell* m);

// The active pairs as a new block pushed on the argument stack: keys only
// (words), values only, or both (body; keys kept as stored).
enum class Part { WORDS, VALUES, BODY };
Cell* push_block(const Cell* m, Part part);

// One step of foreach over a map with two loop words: from the map copy's
// index, the next active pair sets the first word to its key and the
// second to its value; the index moves past the pair. Answers false, with
// the index at the tail, when no active pair is left.
bool foreach_step(Cell* m, const Cell* words);

// Kept by foreach, on the C++ stack, for the length of its walk over a
// map: cursor is the loop's copy of the map, on the argument stack (which
// never moves), whose index is the walk's position in the entry block.
// Any other value is not recorded. Walks nest, innermost first.
class Walk {
public:
    explicit Walk(Cell* cursor);
    ~Walk();
    Walk(const Walk&) = delete;
    Walk& operator=(const Walk&) = delete;

    // Called before the pairs of m's entry block close up: each walk over
    // that block moves to where its next active pair will stand.
    static void close_up(const Cell* m);

private:
    Cell* cursor_;
    Walk* below_;
};

// Sets each word of a block (word!, set-word!, get-word! or lit-word!,
// else script invalid-arg) to the successive value of the second block,
// none past its tail.
void set_words_from_cells(const Cell* words, const Cell* values);

// The lexer's builder of a #[...] literal from n cells of its value stack
// starting at first (read through scan_hook::value_at): false for an odd
// count or a key of a type maps do not take, which the lexer reports as an
// invalid map!.
bool build_literal(uint32_t first, uint32_t n, Cell* out);

void fill(datatype::Record& r);

}  // namespace qel::map

// Pieces every form and mold routine shares: the cycle marker written where
// a series (or object) meets itself again, the guard that keeps a walk's
// entry on the cycle stack for exactly as long as the walk runs, and the
// arithmetic of the length budget.
#pragma once
#include <cstdint>

#include "runtime/cycles.hpp"
#include "runtime/series.hpp"

namespace qel::mold {

// When the value's series (an object's context) is already being walked,
// appends its marker ("[...]" for block! and hash!, "(...)" for paren!,
// "#[...]" for map!, "make object! [...]" for object!, "..." for the rest
// and for every value in form mode), takes the marker's length off *limit
// and answers true; otherwise answers false and writes nothing.
bool cycle_marker(const Cell* value, node_t out, int32_t* limit, bool molding);

// The budget less n characters. Saturates instead of wrapping: a budget
// that only counts down (no /part) must never turn into a large positive
// number after two gigabytes of text.
inline int32_t spend(int32_t budget, int64_t n) {
    const int64_t r = static_cast<int64_t>(budget) - n;
    return r < INT32_MIN ? INT32_MIN : static_cast<int32_t>(r);
}

// Holds one cycle-stack entry for a scope. On the way out it drops back to
// the depth it found, so an error raised anywhere inside the walk (not only
// the stack's own too-deep, which empties it) leaves no stale entry that
// would make a later walk print a marker for a series it is not inside.
class CycleEntry {
public:
    explicit CycleEntry(node_t n) : depth_(cycles::depth()) { cycles::push(n); }
    ~CycleEntry() {
        const uint32_t d = cycles::depth();
        if (d > depth_) cycles::drop(d - depth_);
    }
    CycleEntry(const CycleEntry&) = delete;
    CycleEntry& operator=(const CycleEntry&) = delete;

private:
    uint32_t depth_;
};

}  // namespace qel::mold

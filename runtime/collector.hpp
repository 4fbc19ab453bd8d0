// The garbage collector: marks every buffer reachable from the runtime's
// roots, slides the survivors of each series frame together (into the free
// tail of the preceding frame when it has room), releases emptied frames
// and returns dead buffers' nodes to their frames. From time to time it
// also empties sparsely used node frames that have settled, moving their
// nodes elsewhere and renumbering every reference it meets while marking;
// that happens only at safe points, since C++ code keeps node ids in its
// locals across allocations.
//
// The collector does not scan the machine stack. C++ code keeps what it
// needs across an allocation in places the collector sees: the argument
// stack, the root block, the cells of reachable values, or a mark callback.
// Besides, the buffers of the last RECENT allocations are kept alive, so
// that a value just made survives the allocations that put it in place.
#pragma once
#include <cstdint>

#include "runtime/cell.hpp"
#include "runtime/series.hpp"
#include "runtime/stack.hpp"

namespace qel::collector {

extern uint32_t cycles;  // collections run so far
// Node compactions run so far. Tables whose hashes depend on node ids
// compare it with the stamp they took when built, and rebuild when it moved.
extern uint32_t node_compactions;
// 1 while a collection runs.
extern uint32_t running;
// Collections made of settled node frames are considered over this many
// collections (plus one).
extern uint32_t window;

// Test configuration: collect at every allocation, renumber every node at
// each safe point, overwrite the bytes that compaction vacates, and end the
// process with a report when a cell in use on the argument stack names a
// node that is dead or holds a buffer of another kind.
extern bool stress;

constexpr uint32_t RECENT = 32;

// Called by the memory manager when it finds no room, and before a big
// allocation: a collection when the collector is enabled.
void request();
// Called by the memory manager on each allocation of a node: remembered
// among the recent ones, and under stress a collection first.
void allocated(node_t n);
// All frames are being released: the recent nodes name nothing any more.
void forget_recent();
void before_allocation();
// One full collection, whatever the enabled flag says. Nodes keep their
// ids: C++ code holds node ids across allocations.
void collect();
// Called where no C++ frame holds a node id outside the collector's sight
// (between the top-level expressions of a script or a console line): when
// the last collection found node frames worth emptying (under stress:
// always), a collection that renumbers nodes runs here.
void safe_point();

// A top level run from inside other code (the console evaluating a script
// or a line): the C++ frames below it may hold the ids of nodes made before
// it began, so while it lasts renumbering moves only the nodes of node
// frames made since. Regions nest.
class RenumberRegion {
public:
    RenumberRegion();
    ~RenumberRegion();
    RenumberRegion(const RenumberRegion&) = delete;
    RenumberRegion& operator=(const RenumberRegion&) = delete;

private:
    uint32_t saved_;
};

// Statistics as `stats` shows them. Level 1: bytes in use (nodes, series
// frames up to their free pointers, big frames). Level 2: fills the block
// with three blocks of per-frame figures.
uint64_t memory_in_use();
void memory_blocks(Cell* out);

// Mark callbacks: the roots of the layers above the runtime (the
// evaluator's position, the scanner's stacks), registered by their init
// functions and called during marking, after the runtime's own roots, in
// the order they were added. They mark through the marker they are given.
// Adding a callback that is there already does nothing, so a repeated
// start-up registers each once.
using MarkCallback = void (*)(const stack::Marker& m);
void add_mark_callback(MarkCallback fn);

// Marking, for callbacks. Node words are passed by address: a node moved
// by node compaction is rewritten there.
bool mark_node(node_t* n);        // true when the buffer was not yet marked
void mark_series(node_t* n);      // the buffer and, later, its cells
void mark_cells(Cell* from, Cell* to);
void mark_context(node_t* ctx);
void mark_hashtab(node_t* record);

}  // namespace qel::collector

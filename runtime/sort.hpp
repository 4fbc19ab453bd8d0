// Generic in-place sorting of fixed-width records. The `sort` actions of
// blocks and strings order their cells (or groups of cells) and their 1-, 2-
// or 4-byte units through these two routines: a stable natural merge sort and
// a faster, unstable partition sort. Records are plain bytes to them; only the
// caller's compare callback knows what they hold.
//
// The callback may run user code (a compare function given to `sort`), which
// may allocate, collect, or leave through a non-local exit. The routines keep
// the base address for the whole sort, so the caller pins the series: its
// records must not move while they are being sorted. An exit thrown by the
// callback passes through to the caller; the records are then only partly
// sorted, but they are still a permutation of the input (no record is lost or
// doubled) and the merge sort's buffer has been released.
#pragma once
#include <cstddef>
#include <cstdint>

namespace qel::sort {

// Answers greater than 0 when record a must come after record b, and 0 or
// less otherwise; only that test decides the order. The partition sort also
// reads a negative answer as "a must come before b" and 0 as "equal" when it
// estimates how presorted its input is, which only steers its speed: a
// callback that answers just 1 or 0 still sorts correctly. context and op are
// passed through untouched (typically the sort flags and a user compare
// function). A callback that is inconsistent (a after b and b after a)
// leaves the order unspecified but never makes a routine step outside the
// records.
using Compare = int (*)(const void* a, const void* b, void* context, uint32_t op);

// Stable: records the callback finds equal keep their input order. Sorting
// fewer than 2 records (or records of width 0) returns at once, without a
// call to the callback. Takes a buffer of (n / 2) x width bytes from the
// system heap; a buffer larger than 31 bits raises the internal limit-hit
// error, and a refused allocation raises internal no-memory, both before any
// record is touched.
void merge_sort(void* base, size_t n, size_t width, void* context, uint32_t op, Compare compare);

// Unstable, allocates nothing; its recursion always takes the smaller part,
// and a range that keeps splitting badly is finished by a heap sort, so both
// depth and time stay O(log n) and O(n log n) whatever the callback answers.
void partition_sort(void* base, size_t n, size_t width, void* context, uint32_t op, Compare compare);

}  // namespace qel::sort

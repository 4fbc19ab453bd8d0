// The two generic record sorts. Both reach the records only through byte
// addresses and the caller's callback, and move them only by swapping or by
// copying through the merge buffer, so any record width works. The common
// widths (string units, 8-byte pairs, cells) get their own instantiation so
// that a record move compiles to a few loads and stores.
//
// Every loop bound is checked against the range itself and never left to the
// callback: a user compare function that contradicts itself must not make a
// scan run off the records.
#include "runtime/sort.hpp"

#include <bit>
#include <cassert>
#include <cstring>
#include <limits>

#include "runtime/errors.hpp"
#include "runtime/heap.hpp"

namespace qel::sort {

namespace {

// A view of the records being sorted. W is the record width when it is one
// of the common ones, 0 when it is only known at run time.
template <size_t W>
struct Records {
    uint8_t* base;
    size_t runtime_width;
    void* context;
    uint32_t op;
    Compare compare;

    size_t width() const {
        if constexpr (W != 0)
            return W;
        else
            return runtime_width;
    }
    uint8_t* at(size_t i) const { return base + i * width(); }
    int order(const uint8_t* a, const uint8_t* b) const { return compare(a, b, context, op); }
    bool after(const uint8_t* a, const uint8_t* b) const { return order(a, b) > 0; }
    bool after(size_t i, size_t j) const { return after(at(i), at(j)); }

    void copy(uint8_t* dst, const uint8_t* src) const { std::memcpy(dst, src, width()); }

    void swap(size_t i, size_t j) const {
        uint8_t* a = at(i);
        uint8_t* b = at(j);
        if constexpr (W != 0) {
            uint8_t t[W];
            std::memcpy(t, a, W);
            std::memcpy(a, b, W);
            std::memcpy(b, t, W);
        } else if (runtime_width % 4 == 0) {
            for (size_t k = 0; k < runtime_width; k += 4) {
                uint32_t x, y;
                std::memcpy(&x, a + k, 4);
                std::memcpy(&y, b + k, 4);
                std::memcpy(a + k, &y, 4);
                std::memcpy(b + k, &x, 4);
            }
        } else {
            for (size_t k = 0; k < runtime_width; ++k) {
                uint8_t t = a[k];
                a[k] = b[k];
                b[k] = t;
            }
        }
    }

    // Reverses [lo, hi).
    void reverse(size_t lo, size_t hi) const {
        while (hi - lo > 1) swap(lo++, --hi);
    }

    // Sorts [lo, hi) given that [lo, sorted) already is, moving each new
    // record down while its left neighbour must come after it. Equal records
    // never pass each other, so this is stable.
    void insertion_sort(size_t lo, size_t sorted, size_t hi) const {
        for (size_t i = sorted; i < hi; ++i)
            for (size_t j = i; j > lo && after(j - 1, j); --j) swap(j - 1, j);
    }
};

template <size_t W, class Body>
void with_width(void* base, size_t width, void* context, uint32_t op, Compare compare, Body&& body) {
    body(Records<W>{static_cast<uint8_t*>(base), width, context, op, compare});
}

// Instantiates body for the record width at hand.
template <class Body>
void dispatch(void* base, size_t width, void* context, uint32_t op, Compare compare, Body&& body) {
    switch (width) {
        case 1: return with_width<1>(base, width, context, op, compare, body);
        case 2: return with_width<2>(base, width, context, op, compare, body);
        case 4: return with_width<4>(base, width, context, op, compare, body);
        case 8: return with_width<8>(base, width, context, op, compare, body);
        case 16: return with_width<16>(base, width, context, op, compare, body);
        default: return with_width<0>(base, width, context, op, compare, body);
    }
}

// ---------------------------------------------------------------------------
// Merge sort: natural runs, merged in the order their run powers give, which
// keeps the merges balanced (and the pending-run stack logarithmic) however
// the run lengths fall.

// Shorter runs are lengthened by insertion sort: merging many tiny runs
// costs more calls than sorting a few records in place.
constexpr size_t MIN_RUN = 24;

// Finds the run that starts at lo and answers its end. A strictly falling
// run is reversed; only strictly falling, so that equal records are never
// reordered.
template <size_t W>
size_t next_run(const Records<W>& r, size_t lo, size_t n) {
    size_t end = lo + 1;
    if (end == n) return end;
    if (r.after(lo, lo + 1)) {
        end = lo + 2;
        while (end < n && r.after(end - 1, end)) ++end;
        r.reverse(lo, end);
    } else {
        end = lo + 2;
        while (end < n && !r.after(end - 1, end)) ++end;
    }
    if (end - lo < MIN_RUN) {
        size_t target = n - lo < MIN_RUN ? n : lo + MIN_RUN;
        r.insertion_sort(lo, end, target);
        end = target;
    }
    return end;
}

// The power of the boundary between A = [s1, e1) and B = [e1, e2): one more
// than the number of leading binary digits that the midpoints of A and B,
// as fractions of n, have in common. x and y are twice the midpoints.
unsigned run_power(size_t s1, size_t e1, size_t e2, size_t n) {
    // The buffer limit keeps n below 2^33, so 4n fits easily.
    uint64_t x = s1 + e1, y = e1 + e2, whole = n;
    unsigned p = 0;
    for (;;) {
        bool x_low = x < whole, y_low = y < whole;
        if (x_low != y_low) break;
        ++p;
        if (!x_low) {
            x -= whole;
            y -= whole;
        }
        x *= 2;
        y *= 2;
    }
    return p + 1;
}

// Merges [lo, mid) and [mid, hi), copying the left run out. If the callback
// throws, the records still in the buffer are put back into the gap, which
// is always exactly their size, so the records stay a permutation.
template <size_t W>
void merge_from_left(const Records<W>& r, size_t lo, size_t mid, size_t hi, uint8_t* buffer) {
    const size_t w = r.width();
    std::memcpy(buffer, r.at(lo), (mid - lo) * w);
    const uint8_t* a = buffer;
    const uint8_t* a_end = buffer + (mid - lo) * w;
    const uint8_t* b = r.at(mid);
    const uint8_t* b_end = r.at(hi);
    uint8_t* dst = r.at(lo);
    try {
        while (a < a_end && b < b_end) {
            // On a tie the left record goes first: that is the stability.
            if (r.after(a, b)) {
                r.copy(dst, b);
                b += w;
            } else {
                r.copy(dst, a);
                a += w;
            }
            dst += w;
        }
    } catch (...) {
        std::memcpy(dst, a, static_cast<size_t>(a_end - a));
        throw;
    }
    std::memcpy(dst, a, static_cast<size_t>(a_end - a));
}

// Merges [lo, mid) and [mid, hi), copying the right run out and filling
// from the right end.
template <size_t W>
void merge_from_right(const Records<W>& r, size_t lo, size_t mid, size_t hi, uint8_t* buffer) {
    const size_t w = r.width();
    std::memcpy(buffer, r.at(mid), (hi - mid) * w);
    const uint8_t* a_begin = r.at(lo);
    const uint8_t* a = r.at(mid);  // one past the left record still to place
    const uint8_t* b_begin = buffer;
    const uint8_t* b = buffer + (hi - mid) * w;
    uint8_t* dst = r.at(hi);
    try {
        while (a > a_begin && b > b_begin) {
            // On a tie the right record goes last, keeping the input order.
            // dst moves only after the call, which may throw.
            bool left_last = r.after(a - w, b - w);
            dst -= w;
            if (left_last) {
                a -= w;
                r.copy(dst, a);
            } else {
                b -= w;
                r.copy(dst, b);
            }
        }
    } catch (...) {
        std::memcpy(dst - (b - b_begin), b_begin, static_cast<size_t>(b - b_begin));
        throw;
    }
    std::memcpy(dst - (b - b_begin), b_begin, static_cast<size_t>(b - b_begin));
}

// The shorter run goes through the buffer, which therefore never needs more
// than n / 2 records.
template <size_t W>
void merge(const Records<W>& r, size_t lo, size_t mid, size_t hi, uint8_t* buffer) {
    if (hi - mid < mid - lo)
        merge_from_right(r, lo, mid, hi, buffer);
    else
        merge_from_left(r, lo, mid, hi, buffer);
}

template <size_t W>
void merge_runs(const Records<W>& r, size_t n, uint8_t* buffer) {
    struct Pending {
        size_t start;
        unsigned power;
    };
    // Powers on the stack rise strictly from the bottom, so it never holds
    // more than bit_width(n) + 1 entries; this is room for any n.
    Pending stack[std::numeric_limits<size_t>::digits + 2];
    size_t height = 0;
    [[maybe_unused]] const size_t limit = std::bit_width(n) + 1;

    size_t s1 = 0;
    size_t e1 = next_run(r, 0, n);
    while (e1 < n) {
        size_t e2 = next_run(r, e1, n);
        unsigned p = run_power(s1, e1, e2, n);
        while (height > 0 && stack[height - 1].power > p) {
            merge(r, stack[height - 1].start, s1, e1, buffer);
            s1 = stack[--height].start;
        }
        assert(height < limit);
        stack[height++] = {s1, p};
        s1 = e1;
        e1 = e2;
    }
    while (height > 0) {
        merge(r, stack[height - 1].start, s1, n, buffer);
        s1 = stack[--height].start;
    }
}

struct BufferGuard {
    void* p;
    ~BufferGuard() { heap::free(p); }
};

// ---------------------------------------------------------------------------
// Partition sort.

// Ranges this short are finished by insertion sort.
constexpr size_t SMALL_RANGE = 7;
// Every this many pairs past the leading run one is sampled for the
// presortedness estimate.
constexpr size_t SAMPLE_STEP = 97;
// Without a presortedness hint, ranges above this size take their pivot from
// their first PIVOT_WINDOW records only, which costs nothing more and is a
// fair sample of unordered input; the inputs that defeat such a sample run
// out of partition budget and are finished by heap sort.
constexpr size_t WINDOW_FROM = 511;
constexpr size_t PIVOT_WINDOW = 63;
// The repair pass looks at every REPAIR_STEP-th pair and turns round falling
// stretches of at least REPAIR_MIN records.
constexpr size_t REPAIR_STEP = 10;
constexpr size_t REPAIR_MIN = 4;

template <size_t W>
size_t median_of_three(const Records<W>& r, size_t a, size_t b, size_t c) {
    if (r.after(b, a)) {  // a before b
        if (r.after(c, b)) return b;
        return r.after(c, a) ? c : a;
    }
    if (r.after(b, c)) return b;  // c before b, b not after a
    return r.after(a, c) ? c : a;
}

template <size_t W>
size_t choose_pivot(const Records<W>& r, size_t lo, size_t hi, bool hinted) {
    size_t len = hi - lo;
    // Nearly sorted input has its median near the middle; sampling the
    // quarter points finds it while staying robust against a few records
    // out of place.
    if (hinted) return median_of_three(r, lo + len / 4, lo + len / 2, hi - 1 - len / 4);
    size_t span = len > WINDOW_FROM ? PIVOT_WINDOW : len;
    return median_of_three(r, lo, lo + span / 2, lo + span - 1);
}

// Partitions [lo, hi) around the record at pivot and answers where the pivot
// ends. The pivot waits at lo during the scans, so it is never copied out
// (that would take memory of a record's width). Both scans stop on records
// equal to the pivot, which keeps ranges of equal records splitting evenly.
template <size_t W>
size_t partition(const Records<W>& r, size_t lo, size_t hi, size_t pivot) {
    r.swap(lo, pivot);
    size_t i = lo, j = hi;
    for (;;) {
        do ++i;
        while (i < hi && r.after(lo, i));
        do --j;
        while (j > lo && r.after(j, lo));
        if (i >= j) break;
        r.swap(i, j);
    }
    r.swap(lo, j);
    return j;
}

template <size_t W>
void heap_sort(const Records<W>& r, size_t lo, size_t hi) {
    const size_t len = hi - lo;
    auto sift = [&](size_t root, size_t end) {
        for (;;) {
            size_t child = 2 * root + 1;
            if (child >= end) return;
            if (child + 1 < end && r.after(lo + child + 1, lo + child)) ++child;
            if (!r.after(lo + child, lo + root)) return;
            r.swap(lo + root, lo + child);
            root = child;
        }
    };
    for (size_t start = len / 2; start-- > 0;) sift(start, len);
    for (size_t end = len - 1; end > 0; --end) {
        r.swap(lo, lo + end);
        sift(0, end);
    }
}

// budget counts the partition steps a range may still take before it is
// handed to heap sort; it is twice the depth a run of even splits needs, so
// only inputs that defeat the pivot choice ever reach the heap sort.
template <size_t W>
void partition_range(const Records<W>& r, size_t lo, size_t hi, bool hinted, unsigned budget) {
    while (hi - lo > SMALL_RANGE) {
        if (budget == 0) {
            heap_sort(r, lo, hi);
            return;
        }
        --budget;
        size_t mid = partition(r, lo, hi, choose_pivot(r, lo, hi, hinted));
        if (mid - lo < hi - mid - 1) {
            partition_range(r, lo, mid, hinted, budget);
            lo = mid + 1;
        } else {
            partition_range(r, mid + 1, hi, hinted, budget);
            hi = mid;
        }
    }
    r.insertion_sort(lo, lo, hi);
}

// Turns round the short falling stretches of input that is rising overall.
// Only a speed-up: the partition steps that follow sort whatever is left.
template <size_t W>
void repair(const Records<W>& r, size_t n) {
    size_t floor = 0;
    for (size_t i = 0; i + 1 < n;) {
        if (!r.after(i, i + 1)) {
            i += REPAIR_STEP;
            continue;
        }
        size_t s = i;
        while (s > floor && r.after(s - 1, s)) --s;
        size_t e = i + 1;
        while (e + 1 < n && r.after(e, e + 1)) ++e;
        if (e - s + 1 >= REPAIR_MIN) r.reverse(s, e + 1);
        floor = e;
        i = e + 1 > i + REPAIR_STEP ? e + 1 : i + REPAIR_STEP;
    }
}

template <size_t W>
void partition_sort_records(const Records<W>& r, size_t n) {
    // The leading run takes its direction from its first pair that is not
    // equal. Pairs are then tested with the callback's "after" only, so that
    // a callback that never answers below 0 cannot mislead the run's end.
    size_t k = 0;
    int first = 0;
    while (k + 1 < n && (first = r.order(r.at(k), r.at(k + 1))) == 0) ++k;
    if (k + 1 == n) return;  // no pair is out of order
    const size_t level = k;  // pairs before this one answered 0
    const bool falling = first > 0;
    ++k;
    if (falling)
        while (k + 1 < n && !r.after(k + 1, k)) ++k;
    else
        while (k + 1 < n && !r.after(k, k + 1)) ++k;
    const size_t run = k + 1;

    if (run == n) {
        if (!falling) return;
        // A 0 from a callback that answers only 1 or 0 may hide a rising
        // pair, so the level start is checked the other way round before the
        // whole range is taken as falling.
        bool level_ok = true;
        for (size_t i = 0; i < level && level_ok; ++i) level_ok = !r.after(i + 1, i);
        if (level_ok) {
            r.reverse(0, n);
            return;
        }
    }

    int64_t estimate = falling ? -static_cast<int64_t>(run) : static_cast<int64_t>(run);
    for (size_t i = run - 1 + SAMPLE_STEP; i + 1 < n; i += SAMPLE_STEP) estimate += r.after(i, i + 1) ? -1 : 1;

    bool hinted = false;
    uint64_t strength = estimate < 0 ? 0 - static_cast<uint64_t>(estimate) : static_cast<uint64_t>(estimate);
    if (strength > n / 512) {
        // Falling input is turned round first so that one repair pass and
        // one pivot rule serve both directions.
        if (estimate < 0) r.reverse(0, n);
        repair(r, n);
        hinted = true;
    }
    partition_range(r, 0, n, hinted, 2 * static_cast<unsigned>(std::bit_width(n)));
}

}  // namespace

void merge_sort(void* base, size_t n, size_t width, void* context, uint32_t op, Compare compare) {
    if (n < 2 || width == 0) return;
    // Divided rather than multiplied, so that no product can wrap round.
    constexpr size_t BUFFER_LIMIT = 0x7FFFFFFF;
    if (n / 2 > BUFFER_LIMIT / width) err::raise(err::LIMIT_HIT);
    // realloc answers null when refused, where alloc would end the process.
    BufferGuard buffer{heap::realloc(nullptr, n / 2 * width)};
    if (!buffer.p) err::raise(err::NO_MEMORY);
    dispatch(base, width, context, op, compare,
             [&](const auto& r) { merge_runs(r, n, static_cast<uint8_t*>(buffer.p)); });
}

void partition_sort(void* base, size_t n, size_t width, void* context, uint32_t op, Compare compare) {
    if (n < 2 || width == 0) return;
    dispatch(base, width, context, op, compare, [&](const auto& r) { partition_sort_records(r, n); });
}

}  // namespace qel::sort

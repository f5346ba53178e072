// Generic sorts: a Powersort-ordered natural merge sort and a three-way quicksort, both exception-safe.
#include "runtime/sort.h"
#include <cstdlib>
#include <cstring>
#include "runtime/errors.h"

namespace tev {

namespace {

struct Records {
    uint8_t* base;
    uint32_t width;
    SortCompare compare;
    void* context;

    uint8_t* at(uint32_t i) const { return base + size_t(i) * width; }
    int cmp(uint32_t i, uint32_t j) const { return compare(at(i), at(j), context); }
    void swap(uint32_t i, uint32_t j) const {
        uint8_t* a = at(i);
        uint8_t* b = at(j);
        if ((width & 3) == 0) {
            for (uint32_t k = 0; k < width; k += 4) {
                uint32_t t;
                std::memcpy(&t, a + k, 4);
                std::memcpy(a + k, b + k, 4);
                std::memcpy(b + k, &t, 4);
            }
        } else {
            for (uint32_t k = 0; k < width; ++k) { uint8_t t = a[k]; a[k] = b[k]; b[k] = t; }
        }
    }
    void reverse(uint32_t lo, uint32_t hi) const {  // [lo, hi)
        while (hi > lo + 1) swap(lo++, --hi);
    }
    // Insertion by swapping backwards: records [lo, sorted) are in order.
    void insertion(uint32_t lo, uint32_t sorted, uint32_t hi) const {
        for (uint32_t i = sorted; i < hi; ++i)
            for (uint32_t j = i; j > lo && cmp(j - 1, j) > 0; --j) swap(j - 1, j);
    }
};

// --------------------------------------------------------------- stable merge sort

constexpr uint32_t MIN_RUN = 24;

struct MergeSort : Records {
    uint8_t* buffer;
    uint32_t count;

    uint8_t* buf(uint32_t i) const { return buffer + size_t(i) * width; }
    void copy(uint8_t* dst, const uint8_t* src, uint32_t n) const { std::memcpy(dst, src, size_t(n) * width); }

    // The run starting at a: non-descending, or strictly descending (reversed
    // here), extended to MIN_RUN records by insertion. Returns its end.
    uint32_t next_run(uint32_t a) const {
        uint32_t e = a + 1;
        if (e >= count) return count;
        if (cmp(a, e) > 0) {
            ++e;
            while (e < count && cmp(e - 1, e) > 0) ++e;
            reverse(a, e);
        } else {
            ++e;
            while (e < count && cmp(e - 1, e) <= 0) ++e;
        }
        uint32_t min_end = count - a < MIN_RUN ? count : a + MIN_RUN;
        if (e < min_end) { insertion(a, e, min_end); e = min_end; }
        return e;
    }

    // One more than the leading binary digits that (a+b)/2n and (b+c)/2n share.
    int power(uint32_t a, uint32_t b, uint32_t c) const {
        uint64_t n = count, x = uint64_t(a) + b, y = uint64_t(b) + c;
        int p = 0;
        for (;;) {
            bool bx = n <= x, by = n <= y;
            if (bx != by) break;
            ++p;
            if (bx) { x -= n; y -= n; }
            x *= 2; y *= 2;
        }
        return p + 1;
    }

    // The first position in [lo, hi) whose record compares after record `key`
    // (hi when none); and the first that does not compare before it.
    uint32_t first_after(uint32_t lo, uint32_t hi, uint32_t key) const {
        while (lo < hi) {
            uint32_t m = lo + (hi - lo) / 2;
            if (cmp(m, key) > 0) hi = m;
            else lo = m + 1;
        }
        return lo;
    }
    uint32_t first_not_before(uint32_t lo, uint32_t hi, uint32_t key) const {
        while (lo < hi) {
            uint32_t m = lo + (hi - lo) / 2;
            if (cmp(m, key) >= 0) hi = m;
            else lo = m + 1;
        }
        return lo;
    }

    // Merges [lo, mid) and [mid, hi) through the buffer. The records not yet
    // placed always fill the gap exactly, so an exception from the comparison
    // is answered by copying the buffered ones back into it.
    void merge(uint32_t lo, uint32_t mid, uint32_t hi) const {
        if (lo >= mid || mid >= hi || cmp(mid - 1, mid) <= 0) return;
        // Records already in place stay out of the merge: the left run's head
        // up to the first record after the right run's first, and the right
        // run's tail from the first record not before the left run's last.
        lo = first_after(lo, mid, mid);
        hi = first_not_before(mid, hi, mid - 1);
        uint32_t left = mid - lo, right = hi - mid;
        if (right < left) {
            copy(buffer, at(mid), right);
            uint32_t i = mid, j = right, out = hi;
            try {
                while (i > lo && j > 0) {
                    if (compare(at(i - 1), buf(j - 1), context) > 0) copy(at(--out), at(--i), 1);
                    else copy(at(--out), buf(--j), 1);
                }
            } catch (...) {
                copy(at(i), buffer, j);
                throw;
            }
            copy(at(lo), buffer, j);
        } else {
            copy(buffer, at(lo), left);
            uint32_t i = 0, j = mid, out = lo;
            try {
                while (i < left && j < hi) {
                    if (compare(buf(i), at(j), context) <= 0) copy(at(out++), buf(i++), 1);
                    else copy(at(out++), at(j++), 1);
                }
            } catch (...) {
                copy(at(out), buf(i), left - i);
                throw;
            }
            copy(at(out), buf(i), left - i);
        }
    }

    void run() const {
        struct Entry { uint32_t start; int power; };
        Entry stack[66];
        int top = 0;
        stack[0] = {0, 0};  // sentinel, never merged
        uint32_t a = 0, b = next_run(0);
        while (b < count) {
            uint32_t c = next_run(b);
            int p = power(a, b, c);
            while (top > 0 && stack[top].power > p) {
                merge(stack[top].start, a, b);
                a = stack[top--].start;
            }
            stack[++top] = {a, p};
            a = b;
            b = c;
        }
        for (; top > 0; --top) {
            merge(stack[top].start, a, count);
            a = stack[top].start;
        }
    }
};

// --------------------------------------------------------------- quicksort

struct QuickSort : Records {
    void sift(uint32_t lo, uint32_t root, uint32_t n) const {
        for (;;) {
            uint32_t child = 2 * root + 1;
            if (child >= n) return;
            if (child + 1 < n && cmp(lo + child, lo + child + 1) < 0) ++child;
            if (cmp(lo + root, lo + child) >= 0) return;
            swap(lo + root, lo + child);
            root = child;
        }
    }
    void heap(uint32_t lo, uint32_t n) const {
        for (uint32_t i = n / 2; i-- > 0;) sift(lo, i, n);
        for (uint32_t end = n; end-- > 1;) {
            swap(lo, lo + end);
            sift(lo, 0, end);
        }
    }

    // Sorts [lo, lo + n). Recursion goes to the smaller side, so its depth is
    // logarithmic; `budget` bounds the partitioning rounds before a heap sort.
    void range(uint32_t lo, uint32_t n, int budget) const {
        while (n > 7) {
            if (budget-- <= 0) { heap(lo, n); return; }
            uint32_t hi = lo + n - 1, mid = lo + n / 2;
            if (cmp(mid, lo) < 0) swap(mid, lo);
            if (cmp(hi, mid) < 0) {
                swap(hi, mid);
                if (cmp(mid, lo) < 0) swap(mid, lo);
            }
            swap(lo, mid);  // the median is the pivot, at lo
            // [lo, lt) below, [lt, i) equal (at(lt) is an equal record), (gt, hi] above.
            uint32_t lt = lo, i = lo + 1, gt = hi;
            while (i <= gt) {
                int c = cmp(i, lt);
                if (c < 0) swap(lt++, i++);
                else if (c > 0) { swap(i, gt); if (gt-- == 0) break; }
                else ++i;
            }
            uint32_t below = lt - lo, above = hi - gt;
            if (below < above) {
                range(lo, below, budget);
                lo = gt + 1;
                n = above;
            } else {
                range(gt + 1, above, budget);
                n = below;
            }
        }
        insertion(lo, lo + (n ? 1 : 0), lo + n);
    }
};

}  // namespace

void sort_stable(void* base, uint32_t count, uint32_t width, SortCompare compare, void* context) {
    if (count < 2 || width == 0) return;
    uint64_t bytes = uint64_t(count / 2) * width;
    if (bytes > 0xFFFFFFFFu) raise_error(err::script::too_long);
    auto* buffer = static_cast<uint8_t*>(std::malloc(size_t(bytes ? bytes : 1)));
    if (!buffer) raise_error(err::internal::no_memory);
    MergeSort sorter{{static_cast<uint8_t*>(base), width, compare, context}, buffer, count};
    try {
        sorter.run();
    } catch (...) {
        std::free(buffer);
        throw;
    }
    std::free(buffer);
}

void sort_quick(void* base, uint32_t count, uint32_t width, SortCompare compare, void* context) {
    if (count < 2 || width == 0) return;
    QuickSort sorter{{static_cast<uint8_t*>(base), width, compare, context}};
    // A leading run in one direction (equal neighbours allowed): when it is the
    // whole input, sorted or reversed input costs one pass.
    int direction = 0;
    uint32_t run = 1;
    while (run < count) {
        int c = sorter.cmp(run - 1, run);
        if (c != 0) {
            int d = c < 0 ? 1 : -1;
            if (direction == 0) direction = d;
            else if (d != direction) break;
        }
        ++run;
    }
    if (run == count) {
        if (direction < 0) sorter.reverse(0, count);
        return;
    }
    int budget = 2;
    for (uint32_t n = count; n > 1; n >>= 1) budget += 2;
    sorter.range(0, count, budget);
}

}  // namespace tev

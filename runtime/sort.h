// Generic sorts of fixed-width records in raw memory, with a comparison callback that may raise.
//
// The callback may run language code: it may raise (a C++ exception passes
// through the sort) and it may run the collector. So the records must live in
// memory the collector never moves (a malloc'd copy, a pinned buffer): callers
// sorting series data copy the records out, sort, and copy them back. Both sorts
// bound every scan by the range (an inconsistent comparator cannot make them
// read or write outside it) and only exchange or copy whole records, so after an
// exception the records are a permutation of what they were.
#pragma once
#include <cstdint>

namespace tev {

// Negative: a before b; 0: equal; positive: a after b.
using SortCompare = int (*)(const void* a, const void* b, void* context);

// Adaptive natural merge sort (runs merged in Powersort order): equal records
// keep their order. Raises too-long or no-memory when its work buffer (half the
// records) cannot be had, before touching the records.
void sort_stable(void* base, uint32_t count, uint32_t width, SortCompare compare, void* context);
// In-place sort: sorted and reversed input in one pass, three-way partitioning
// for many equal records, a heap sort when partitioning degenerates. Equal
// records end in any order.
void sort_quick(void* base, uint32_t count, uint32_t width, SortCompare compare, void* context);

}  // namespace tev

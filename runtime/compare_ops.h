// Compare operator codes: shared by the hash table and the symbol table below
// the datatypes and by every datatype's compare entry above them.
#pragma once

namespace tev {

enum CompareOp : int {
    CMP_EQUAL = 0, CMP_NOT_EQUAL, CMP_STRICT_EQUAL, CMP_LESSER, CMP_LESSER_EQUAL,
    CMP_GREATER, CMP_GREATER_EQUAL, CMP_SORT, CMP_CASE_SORT, CMP_SAME,
    CMP_EQUAL_10, CMP_EQUAL_11, CMP_FIND
};
constexpr int CMP_NOT_COMPARABLE = -2;

}  // namespace tev

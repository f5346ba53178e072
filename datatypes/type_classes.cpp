// Datatype classes used across units: which ids are series, lists, text, words, numbers.
#include "runtime/cell.h"

namespace tev {

bool type_is_list(TypeId t) {
    return t == T_BLOCK || t == T_PAREN || t == T_HASH || (t >= T_PATH && t <= T_GET_PATH);
}
bool type_is_string(TypeId t) {
    return t == T_STRING || t == T_FILE || t == T_URL || t == T_TAG || t == T_EMAIL || t == T_REF;
}
bool type_is_series(TypeId t) {
    return type_is_list(t) || type_is_string(t) || t == T_BINARY || t == T_VECTOR || t == T_IMAGE;
}
bool type_is_word(TypeId t) { return t >= T_WORD && t <= T_ISSUE; }
bool type_is_number(TypeId t) { return t == T_INTEGER || t == T_FLOAT || t == T_PERCENT; }

}  // namespace tev

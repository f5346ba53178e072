// datatype!: values that name a type by its id; formed as the bare name, molded with its "!".
#include <cstring>
#include "datatypes/callable.h"
#include "datatypes/registry.h"
#include "datatypes/scalar.h"
#include "datatypes/string.h"
#include "runtime/context_table.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

Cell* datatype_push(TypeId t) {
    Cell* c = stack_push();
    set_datatype(c, t);
    return c;
}

bool type_name_words_bound = false;

void bind_type_name_word(TypeId t) {
    if (!type_names[t].name) return;
    Cell word = word_from_symbol(symbol_from_cstring(type_names[t].name));  // may allocate
    type_names[t].word = word;
}

void bind_type_name_words() {
    for (int t = 1; t <= highest_type_id; ++t) bind_type_name_word(TypeId(t));
    type_name_words_bound = true;
}

namespace {

// The name with its "!"; a type whose unit has not registered yet (an error
// may still name it) has its fixed name.
const char* datatype_text(TypeId t) {
    if (type_names[t].name) return type_names[t].name;
    const char* fixed = datatype_name(t);
    return fixed ? fixed : "unknown!";
}

int32_t datatype_form(const Cell* value, Cell* out, const Cell*, int32_t limit) {
    const char* name = datatype_text(get_datatype(value));
    return append_ascii_limit(out, name, std::strlen(name) - 1, limit);
}

int32_t datatype_mold(const Cell* value, Cell* out, bool, bool all, bool, const Cell*, int32_t limit, int32_t) {
    const char* name = datatype_text(get_datatype(value));
    if (all) limit = append_ascii_limit(out, "#(", 2, limit);
    limit = append_ascii_limit(out, name, std::strlen(name), limit);
    if (all) limit = append_ascii_limit(out, ")", 1, limit);
    return limit;
}

int datatype_compare(const Cell* a, const Cell* b, int op) {
    if (op != CMP_EQUAL && op != CMP_NOT_EQUAL && op != CMP_STRICT_EQUAL && op != CMP_SAME && op != CMP_FIND)
        return CMP_NOT_COMPARABLE;
    return cell_is(b, T_DATATYPE) && get_datatype(a) == get_datatype(b) ? 0 : 1;
}

}  // namespace

void datatype_init() {
    register_datatype(T_DATATYPE, T_NONE_ID, "datatype!",
        nullptr, nullptr, nullptr, nullptr, datatype_form, datatype_mold, nullptr, nullptr,
        datatype_compare, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr,
        nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr, nullptr);
}

}  // namespace tev

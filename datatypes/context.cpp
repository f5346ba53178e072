// context!: the record behind every object, function call and the global context; it answers no action.
#include "datatypes/registry.h"

namespace tev {

template <> void register_type<T_CONTEXT>() {
    register_datatype(T_CONTEXT, {});
}

}  // namespace tev

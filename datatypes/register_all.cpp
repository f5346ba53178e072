// The start-up registration of every datatype, in the order of the type list (parents before their children).
#include "datatypes/registry.h"

namespace tev {

void register_all_datatypes() {
#define TEV_REGISTER_TYPE(id, number, name, parent, cls) register_type<id>();
    TEV_DATATYPES(TEV_REGISTER_TYPE)
#undef TEV_REGISTER_TYPE
}

}  // namespace tev

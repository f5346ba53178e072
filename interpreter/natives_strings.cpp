// String natives: uppercase and lowercase, which change letter case in place.
#include "datatypes/string.h"
#include "interpreter/natives.h"

namespace tev {

// The argument is the result: a string changed in place, or the mapped char!.
static void change_case(NativeCall& c, bool upper) {
    string_change_case(c.args, c.has(0) ? c.ref_arg(0) : nullptr, upper);
}

static void native_uppercase(NativeCall& c) { change_case(c, true); }
static void native_lowercase(NativeCall& c) { change_case(c, false); }

void natives_strings_entries() {
    static const NativeEntry entries[] = {
        {"uppercase", native_uppercase},
        {"lowercase", native_lowercase},
    };
    add_native_entries(entries, int(sizeof entries / sizeof entries[0]));
}

}  // namespace tev

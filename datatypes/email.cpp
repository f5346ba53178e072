// email!: an address as plain text; mold writes it bare, and the paths user and host read or replace its two parts.
#include "datatypes/dispatch.h"
#include "datatypes/registry.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "datatypes/text_kin.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev {

static int32_t email_mold(const Cell* value, Cell* out, bool, bool, bool, const Cell* arg, int32_t limit, int32_t) {
    return text_kin_append(value, out, arg, limit, "", "");
}

// The parts split at the first "@" from the index; without one, all of the
// text is the user part and the host part is empty.
static void email_eval_path(PathStep& step) {
    const Cell* element = step.element;
    if (cell_is(element, T_INTEGER)) {
        action_required<Act::eval_path>(T_STRING)(step);
        return;
    }
    bool user = series_is_word(element, "user");
    if (!cell_is(element, T_WORD) || !(user || series_is_word(element, "host")))
        raise_error(err::script::invalid_path, step.path ? step.path : step.parent, element);
    StackScope scope;
    Cell* email = stack_push_copy(step.parent);
    uint32_t index = string_index_clamp(email);
    uint32_t length = string_rest_length(email);
    int32_t at = string_find_char(email, '@');
    uint32_t split = at < 0 ? length : uint32_t(at);
    uint32_t start = user ? 0 : (at < 0 ? length : split + 1);
    uint32_t count = user ? split : length - start;
    if (!step.set) {
        Cell* part = string_push(count);
        Cell* from = stack_push_copy(email);
        series_set_index(from, index + start);
        string_concatenate(part, from, int32_t(count), 0, CONCAT_APPEND);
        *step.result = *part;
        return;
    }
    // Replace that part in place: change/part at its start.
    Cell* args = stack_push_copy(email);
    series_set_index(args, index + start);
    stack_push_copy(step.set);
    Cell* part = stack_push();
    set_integer(part, int32_t(count));
    ActionFrame f = action_frame(args, T_EMAIL);
    f.refs[ref::append_part] = int8_t(part - args);
    action_required<Act::change>(T_STRING)(f);
    *step.result = *step.set;
}

template <> void register_type<T_EMAIL>() {
    register_datatype(T_EMAIL, {
        .random = nullptr, .mold = email_mold, .eval_path = email_eval_path, .sort = nullptr,
        .trim = nullptr
    });
}

}  // namespace tev

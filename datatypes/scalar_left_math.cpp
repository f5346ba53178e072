// A number on the left of a pair, point, tuple, money or date: routes integer!/float!/percent!/time! arithmetic to the right operand's engine.
//
// The engines take their own type on the left; here the order is kept so that
// 10 - 2x3 is 8x7, never 2x3 - 10.
#include "datatypes/date.h"
#include "datatypes/money.h"
#include "datatypes/point_common.h"
#include "datatypes/scalar.h"
#include "datatypes/scalar_left_math.h"
#include "datatypes/tuple.h"
#include "datatypes/vector.h"

namespace tev {

bool scalar_left_math(ActionFrame& f, int op) {
    const TypeId lt = cell_type(f.args), rt = cell_type(f.args + 1);
    const bool number = lt == T_INTEGER || lt == T_FLOAT || lt == T_PERCENT;
    switch (rt) {
        case T_PAIR:
            if (!number) return false;
            pair_math_scalar_left(f, op);
            return true;
        case T_POINT2D:
        case T_POINT3D:
            if (!number) return false;
            point_math_scalar_left(f, op);
            return true;
        case T_TUPLE:
            if (!number) return false;
            tuple_do_math(f, op);
            return true;
        case T_MONEY:
            if (!number) return false;
            money_do_math(f, op);
            return true;
        case T_DATE: {
            if (lt != T_INTEGER && lt != T_TIME) return false;
            if (op != OP_ADD) raise_with_call_word_type(err::script::not_related, lt);
            Cell number_cell = f.args[0];
            f.args[0] = f.args[1];
            f.args[1] = number_cell;
            date_do_math(f, OP_ADD);
            return true;
        }
        case T_VECTOR:  // a new vector of number op element; the operand stays as it was
            if (!number) return false;
            vector_math_with_scalar(op, f.args + 1, f.args, true);
            f.args[0] = f.args[1];
            return true;
        default: return false;
    }
}

}  // namespace tev

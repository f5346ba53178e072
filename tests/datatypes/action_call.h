// Test helpers: scalar cells, and calling a type's action entries as the dispatcher does (arguments on the value stack).
#pragma once
#include <gtest/gtest.h>
#include <cstring>
#include <stdexcept>
#include <functional>
#include <initializer_list>
#include <string>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "runtime/errors.h"
#include "runtime/value_stack.h"

namespace tev::testing {

inline Cell I(int32_t n) { Cell c; set_integer(&c, n); return c; }
inline Cell F(double d) { Cell c; set_float(&c, d); return c; }
inline Cell P(double d) { Cell c; set_float(&c, d, T_PERCENT); return c; }
inline Cell T(double seconds) { Cell c; set_float(&c, seconds, T_TIME); return c; }
inline Cell C(uint32_t cp) { Cell c; set_char(&c, cp); return c; }
inline Cell L(bool b) { Cell c; set_logic(&c, b); return c; }
inline Cell N() { Cell c; set_none(&c); return c; }
inline Cell U() { Cell c; set_unset(&c); return c; }
inline Cell DT(TypeId t) { Cell c; set_datatype(&c, t); return c; }

// Arguments are pushed on entry and dropped with the object. refs name the
// action's refinements by position, each with its argument when it takes one.
class ActionCall {
public:
    explicit ActionCall(std::initializer_list<Cell> values) {
        frame_.args = vstack.top;
        for (const Cell& v : values) stack_push_copy(&v);
        frame_.type = cell_type(frame_.args);
        std::memset(frame_.refs, -1, sizeof frame_.refs);
    }
    ActionCall& ref(int i) { frame_.refs[i] = 0; return *this; }
    ActionCall& ref(int i, const Cell& arg) {
        frame_.refs[i] = int8_t(stack_push_copy(&arg) - frame_.args);
        return *this;
    }
    // make and to: the first argument names the target type.
    ActionCall& target(TypeId t) { frame_.type = t; return *this; }
    Cell run(Act slot, TypeId type) {
        ActionEntry e = action_table[type][int(slot) - 1];
        if (!e) throw std::runtime_error("action not supported");
        reinterpret_cast<ActionFn>(e)(frame_);
        return frame_.args[0];
    }
    Cell run(Act slot) { return run(slot, cell_type(frame_.args)); }
    ActionFrame& frame() { return frame_; }
private:
    StackScope scope_;
    ActionFrame frame_;
};

// The catalogue code raised by f, or 0 when it raised nothing.
inline uint32_t raised_by(const std::function<void()>& f) {
    try { f(); } catch (const LanguageThrow&) { return last_error_code(); }
    return 0;
}

inline std::string form_of(const Cell& v) {
    StackScope scope;
    Cell* out = string_push(16);
    Cell* value = stack_push_copy(&v);
    int32_t left = action_of<Act::form>(cell_type(value))(value, out, nullptr, NO_LIMIT);
    std::string text = string_to_utf8(out);
    EXPECT_EQ(int64_t(NO_LIMIT) - left, int64_t(string_length(out))) << "limit left for " << text;
    return text;
}

inline std::string mold_of(const Cell& v, bool all = false) {
    StackScope scope;
    Cell* out = string_push(16);
    Cell* value = stack_push_copy(&v);
    int32_t left = action_of<Act::mold>(cell_type(value))(value, out, false, all, false, nullptr, NO_LIMIT, 0);
    std::string text = string_to_utf8(out);
    EXPECT_EQ(int64_t(NO_LIMIT) - left, int64_t(string_length(out))) << "limit left for " << text;
    return text;
}

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, 8) == 0; }

}  // namespace tev::testing

// Test helpers: scalar cells, and calling a type's action entries as the dispatcher does (arguments on the value stack).
#pragma once
#include <gtest/gtest.h>
#include <cmath>
#include <cstring>
#include <stdexcept>
#include <functional>
#include <initializer_list>
#include <string>
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "loader/lexer.h"
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

// The one value a text loads to (not evaluated).
inline Cell load_one(const char* text) {
    StackScope scope;
    Cell* out = stack_push();
    TranscodeOptions options;
    options.one = true;
    options.wrap = false;
    transcode_utf8(out, reinterpret_cast<const uint8_t*>(text), std::strlen(text), options);
    return *out;
}

inline bool logic_of(const Cell& c) { return get_logic(&c); }
inline int32_t int_of(const Cell& c) { return get_integer(&c); }
inline double float_of(const Cell& c) { return get_float(&c); }
inline TypeId type_of(const Cell& c) { return cell_type(&c); }

inline bool same_bits(double a, double b) { return std::memcmp(&a, &b, 8) == 0; }

}  // namespace tev::testing

namespace tev::testing {

// An expected action outcome: a value of a type, or a raised error.
struct Outcome {
    TypeId type;
    double value;    // integer!, char!, logic! compare as numbers; float kinds exactly
    uint32_t error;  // catalogue code, 0 when a value is expected
};
inline Outcome Int(int32_t n) { return {T_INTEGER, double(n), 0}; }
inline Outcome Flt(double d) { return {T_FLOAT, d, 0}; }
inline Outcome Tim(double s) { return {T_TIME, s, 0}; }
inline Outcome Chr(uint32_t cp) { return {T_CHAR, double(cp), 0}; }
inline Outcome Pct(double d) { return {T_PERCENT, d, 0}; }
inline Outcome Err(ErrCode code) { return {T_NONE_ID, 0, code.code}; }

inline ::testing::AssertionResult matches(const std::function<Cell()>& call, const Outcome& want) {
    Cell got;
    uint32_t code = raised_by([&] { got = call(); });
    if (want.error) {
        if (code == want.error) return ::testing::AssertionSuccess();
        return ::testing::AssertionFailure() << "expected error " << want.error << ", got " << code;
    }
    if (code) return ::testing::AssertionFailure() << "raised " << code;
    if (cell_type(&got) != want.type)
        return ::testing::AssertionFailure() << "type " << type_names[cell_type(&got)].name << " instead of "
                                             << type_names[want.type].name;
    double v;
    switch (cell_type(&got)) {
        case T_FLOAT: case T_PERCENT: case T_TIME: v = get_float(&got); break;
        case T_LOGIC: v = get_logic(&got) ? 1 : 0; break;
        default: v = double(get_integer(&got));
    }
    if (v == want.value || (std::isnan(v) && std::isnan(want.value))) return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << "value " << v << " instead of " << want.value;
}

}  // namespace tev::testing

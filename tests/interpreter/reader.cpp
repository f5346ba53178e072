// A small reader for the interpreter tests (see reader.h).
#include "tests/interpreter/reader.h"
#include <cstdlib>
#include <cstring>
#include "datatypes/block.h"
#include "datatypes/string.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "runtime/context.h"
#include "runtime/errors.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"

namespace tev {

static bool delimiter(char c) { return c == 0 || c == ' ' || c == '\n' || c == '[' || c == ']' || c == '(' || c == ')'; }

static void read_into(const char*& p, Cell* block, char close);

static void read_word(const std::string& tok, Cell* out) {
    TypeId type = T_WORD;
    std::string name = tok;
    if (name.size() > 1 && name[0] == ':') { type = T_GET_WORD; name = name.substr(1); }
    else if (name.size() > 1 && name[0] == '\'') { type = T_LIT_WORD; name = name.substr(1); }
    else if (name.size() > 1 && name[0] == '/') { type = T_REFINEMENT; name = name.substr(1); }
    else if (name.size() > 1 && name.back() == ':') { type = T_SET_WORD; name.pop_back(); }
    *out = word_from_symbol(symbol_from_cstring(name.c_str()));
    out->header = type;
}

static void read_token(const std::string& tok, Cell* block) {
    Cell v;
    char* end = nullptr;
    if ((std::isdigit(uint8_t(tok[0])) || (tok[0] == '-' && tok.size() > 1 && std::isdigit(uint8_t(tok[1]))))) {
        long long n = std::strtoll(tok.c_str(), &end, 10);
        if (*end == 0) { set_integer(&v, int32_t(n)); block_append(block, &v); return; }
        set_float(&v, std::strtod(tok.c_str(), nullptr));
        block_append(block, &v);
        return;
    }
    size_t slash = tok.find('/', 1);
    if (tok[0] != '/' && slash != std::string::npos && tok != "//" && tok.find(':') == std::string::npos) {
        // a path: word/word/...
        Cell* path = block_push_new(4, T_PATH);
        size_t start = 0;
        for (;;) {
            size_t s = tok.find('/', start);
            std::string part = tok.substr(start, s == std::string::npos ? std::string::npos : s - start);
            read_token(part, path);
            if (s == std::string::npos) break;
            start = s + 1;
        }
        block_append(block, path);
        stack_pop(1);
        return;
    }
    read_word(tok, &v);
    block_append(block, &v);
}

static void read_into(const char*& p, Cell* block, char close) {
    while (*p) {
        char c = *p;
        if (c == ' ' || c == '\n') { ++p; continue; }
        if (c == close) { ++p; return; }
        if (c == '[' || c == '(') {
            ++p;
            Cell* inner = block_push_new(4, c == '[' ? T_BLOCK : T_PAREN);
            read_into(p, inner, c == '[' ? ']' : ')');
            block_append(block, inner);
            stack_pop(1);
            continue;
        }
        if (c == '"') {
            const char* s = ++p;
            while (*p && *p != '"') ++p;
            Cell* str = stack_push();
            string_make(str, 8);
            string_append_utf8(str, s, size_t(p - s));
            block_append(block, str);
            stack_pop(1);
            if (*p) ++p;
            continue;
        }
        const char* s = p;
        while (!delimiter(*p)) ++p;
        read_token(std::string(s, size_t(p - s)), block);
    }
}

Cell* test_read(const char* text) {
    Cell* block = block_push_new(8);
    const char* p = text;
    read_into(p, block, 0);
    return block;
}

void test_evaluator_start() {
    static bool started = false;
    if (started) return;
    started = true;
    evaluator_init();
}

Cell* test_eval(const char* text) {
    test_evaluator_start();
    Cell* slot = stack_push();
    Cell* block = test_read(text);
    Cell* r = eval_block(block);
    *slot = *r;
    vstack.top = slot + 1;
    return slot;
}

uint32_t test_error(const char* text) {
    test_evaluator_start();
    Cell* mark = vstack.top;
    uint32_t depth = frame_depth();
    try {
        test_eval(text);
    } catch (const LanguageThrow& t) {
        frames_unwind_to(depth);
        vstack.top = mark;
        pending_exit = 0;
        return t.code == THROW_ERROR ? last_error_code() : 0;
    }
    vstack.top = mark;
    return 0;
}

}  // namespace tev

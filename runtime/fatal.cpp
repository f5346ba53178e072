// Fatal runtime errors: the message table, the report, and the top-level catch.
#include "runtime/fatal.h"
#include <new>
#include "os/os.h"
#include "runtime/sys_heap.h"

namespace tev {

// ------------------------------------------------------------------ throw

void runtime_throw(uint32_t code) {
    if (code == 0) report_runtime_error(RT_ASSERTION_FAILED, TEV_CALLER_ADDRESS());
    throw LanguageThrow{code};
}

// ------------------------------------------------------------------ messages

const char* runtime_error_message(int code) {
    static const char* const machine[] = {
        nullptr,
        "access violation", "invalid alignment", "breakpoint", "single step",
        "bounds exceeded", "float denormal operan", "float divide by zero",
        "float inexact result", "float invalid operation", "float overflow",
        "float stack check", "float underflow", "integer divide by zero",
        "integer overflow", "privileged instruction", "invalid virtual address",
        "illegal instruction", "non-continuable exception", "stack error or overflow",
        "invalid disposition", "guard page", "invalid handle", "illegal operand",
        "illegal addressing mode", "illegal trap", "coprocessor error",
        "non-existent physical address", "object specific hardware error",
        "hardware memory error consumed AR", "hardware memory error consumed AO",
        "privileged register", "segmentation fault", "FPU error", "Bus error",
    };
    if (code >= 1 && code <= 34) return machine[code];
    switch (code) {
    case 94: return "out of memory";
    case 95: return "no CATCH for THROW";
    case 98: return "assertion failed";
    case 99: return "unknown error";
    case 100: return "no value matched in CASE";
    case 101: return "no value matched in SWITCH";
    default: return "unknown error code!";
    }
}

// ------------------------------------------------------------------ report

namespace {
// Appends into a fixed buffer, silently cutting at its end (one byte kept for NUL).
struct FixedText {
    char* out;
    size_t size, length = 0;
    void put(char c) { if (length + 1 < size) out[length++] = c; }
    void put(const char* s) { while (*s) put(*s++); }
    void put_decimal(int32_t v) {
        char digits[12];
        int n = 0;
        uint32_t u = v < 0 ? 0u - uint32_t(v) : uint32_t(v);
        do { digits[n++] = char('0' + u % 10); u /= 10; } while (u);
        if (v < 0) put('-');
        while (n) put(digits[--n]);
    }
    // At least eight digits: the 32-bit product always shows exactly eight.
    void put_hex_address(uintptr_t v) {
        int shift = 28;
        while (shift + 4 < int(sizeof v * 8) && (v >> (shift + 4)) != 0) shift += 4;
        for (; shift >= 0; shift -= 4) put("0123456789ABCDEF"[(v >> shift) & 15]);
    }
};
}  // namespace

size_t format_runtime_error(char* out, size_t size, int code, uintptr_t address) {
    if (size == 0) return 0;
    FixedText t{out, size};
    t.put("*** Runtime Error ");
    t.put_decimal(code);
    t.put(": ");
    t.put(runtime_error_message(code));
    t.put("\n*** at: ");
    t.put_hex_address(address);
    t.put('h');
    out[t.length] = '\0';
    return t.length;
}

static const char REPORT_TITLE[] = "Tev App Error";
static char report_text[512];  // static: a report may follow a fault

void report_runtime_error(int code, uintptr_t address) {
    if (code != 0) {
        format_runtime_error(report_text, sizeof report_text, code, address);
        os::show_fatal_report(REPORT_TITLE, report_text);
    }
    release_and_exit(code);
}

void release_and_exit(int code) {
    sys_release_all();
    os::exit_process(code);
}

void report_machine_fault(int code, uintptr_t address) {
    if (code != 0) {
        format_runtime_error(report_text, sizeof report_text, code, address);
        os::show_fatal_report(REPORT_TITLE, report_text);
    }
    os::exit_now(code);
}

uintptr_t code_address(const void* address) { return reinterpret_cast<uintptr_t>(address); }

// ------------------------------------------------------------------ top-level catch

void top_level_catch(std::exception_ptr caught) {
    int code = RT_UNKNOWN_ERROR;
    try {
        std::rethrow_exception(caught);
    } catch (const LanguageThrow&) {
        code = RT_NO_CATCH;
    } catch (const std::bad_alloc&) {
        code = RT_OUT_OF_MEMORY;
    } catch (...) {
        code = RT_UNKNOWN_ERROR;
    }
    report_runtime_error(code, code_address(reinterpret_cast<const void*>(&top_level_catch)));
}

// ------------------------------------------------------------------ system callbacks

static std::exception_ptr parked;

void park_exception(std::exception_ptr e) noexcept {
    // The first throw wins: a later one happened while unwinding the first.
    if (!parked) parked = e;
}

void rethrow_parked() {
    if (!parked) return;
    std::exception_ptr e = parked;
    parked = nullptr;
    std::rethrow_exception(e);
}

}  // namespace tev

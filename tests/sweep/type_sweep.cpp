// The type-by-action sweep: every datatype's sample values through every action
// and native, with every sample argument. Language errors are the expected
// answer to most calls; the sweep fails on anything else: a machine fault, a
// sanitizer report, an internal check (runtime/check.h) or a stuck call.
//
// Natives and actions come from the tables the runtime starts with, so the ones
// added later are swept too; a datatype without a sample makes the sweep fail
// unless it is listed in no_sample_types with the reason.
//
//   type_sweep [--every N] [--offset K] [--only NAME] [--verbose]
// --every N runs one call in N (a slice spread over every callable, for CI);
// --only limits the sweep to the callable NAME; --verbose prints each call before
// it runs, so that the last line names the call that failed.
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "interpreter/natives.h"
#include "interpreter/trace.h"
#include "loader/lexer.h"
#include "os/os.h"
#include "runtime/cycle_guard.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/symbols.h"
#include "runtime/value_stack.h"
#include "startup/startup.h"

using namespace tev;

namespace {

// ================================================================== samples

// One Tev expression per sample, evaluated afresh for each call (the actions
// change their series in place, and a fault may need the sample as it stands). Extremes, empty and cyclic series, a
// series past its tail, NaN and infinities are the values that find faults.
const char* const sample_sources[] = {
    "()",  // unset!
    "none", "true", "false",
    "0", "1", "-1", "2147483647", "-2147483648", "65536",
    "0.0", "-0.0", "1.5", "-2.5", "1e308", "-1e308", "4.9e-324", "0.0 / 0.0", "1e308 * 10.0",
    "50%", "-0.5%",
    "#\"a\"", "#\"^@\"", "#\"^(10FFFF)\"",
    "\"\"", "\"abc\"", "\"a^(E9)^(1F600)\"", "tail \"xyz\"", "(s: copy \"xyz\" clear next s next next s)",
    "%\"\"", "%abcdefghijkl", "http://x.y/z", "someone@x.y", "<a b>", "@ref",
    "#{}", "#{00FF80}",
    "[]", "[1 a \"b\" [c]]", "(b: copy [1 2] append/only b b b)", "tail [1 2]",
    "pick [(1 a)] 1", "pick [a/b] 1", "pick ['a/b] 1", "pick [a/b:] 1", "pick [:a/b] 1",
    "pick [a] 1", "pick [a:] 1", "pick [:a] 1", "pick ['a] 1", "pick [/ref] 1", "#iss",
    "make hash! [a 1 b 2]", "make map! [a 1 \"k\" [2]]", "make bitset! #{80FF}", "make bitset! 0",
    "make vector! [integer! 8 [1 2 3]]", "make vector! [float! 64 [1.5]]",
    "1x2", "-2147483648x2147483647", "(1.5, -2.5)", "(1, 2, 3)", "1.2.3", "0.0.0.0.0.0.0.0.0.0.0.0",
    "$1.50", "-$0.01", "1:30", "-0:00:00.5", "1-Jan-2000", "29-Feb-2000/23:59:59+5:30",
    "make object! [a: 1]", "make object! [a: 1 b: \"x\"]", "(o: make object! [a: none] o/a: o o)", "make error! \"x\"",
    "func [x] [x]", ":add", ":if", ":+",
    "integer!", "make typeset! [integer! block!]",
    "make image! 2x2", "next make image! [2x1 #{FF0000} #{80}]", "make image! 0x3",
};

// Datatypes no sample can be made of, with the reason.
const struct { TypeId type; const char* why; } no_sample_types[] = {
    {T_SYMBOL, "internal to the symbol table"},
    {T_CONTEXT, "internal to objects and functions"},
    {T_ROUTINE, "calls into native libraries"},
    {T_HANDLE, "made only by native code"},
    {T_PORT, "I/O (the sweep stays off the file system and network)"},
    {T_SERIES, "an abstract parent type"},
    {T_EVENT, "made only by the GUI"},
    {T_TRIPLE, "has neither a literal nor make"},
};

// ================================================================== callables

// Natives and actions the sweep must not call: they block, wait, end the
// process, read input, touch the file system or network, run programs, or can
// run for ever on sample arguments (a loop over a truthy condition or a
// count of two thousand million).
const char* const skipped[] = {
    "wait", "call", "browse", "size?",                 // block, run programs, touch files
    "forever", "while", "until", "loop", "repeat",     // may never end on samples
    "create", "close", "delete", "modify", "open", "open?", "query", "read", "rename", "update", "write",
    "quit", "halt", "q", "input", "ask", "save", "load", "exists?", "dir?", "make-dir", "change-dir",
    "list-dir", "what-dir", "read-clipboard", "write-clipboard",
};
// Natives that read a file or url they are given (the sweep skips those calls).
const char* const no_file_args[] = {"do", "transcode", "checksum"};

bool in_list(const char* name, const char* const* list, size_t n) {
    for (size_t i = 0; i < n; ++i)
        if (std::strcmp(name, list[i]) == 0) return true;
    return false;
}

struct Refinement {
    std::string name;
    int args = 0;
};

struct Callable {
    std::string name;
    int args = 0;  // plain arguments before the first refinement
    std::vector<Refinement> refinements;
};

// Argument and refinement counts from a spec in source form: words are
// arguments, /words refinements; type blocks and doc strings are skipped.
Callable parse_spec(const char* name, const char* spec) {
    Callable c;
    c.name = name;
    const char* p = spec;
    while (*p) {
        while (*p == ' ') ++p;
        if (!*p) break;
        if (*p == '[') {
            int depth = 0;
            do {
                depth += *p == '[' ? 1 : *p == ']' ? -1 : 0;
                ++p;
            } while (*p && depth > 0);
            continue;
        }
        if (*p == '"') {
            ++p;
            while (*p && *p != '"') ++p;
            if (*p) ++p;
            continue;
        }
        const char* start = p;
        while (*p && *p != ' ' && *p != '[') ++p;
        std::string token(start, size_t(p - start));
        if (token[0] == '/') c.refinements.push_back({token.substr(1), 0});
        else if (c.refinements.empty()) ++c.args;
        else ++c.refinements.back().args;
    }
    return c;
}

std::vector<Callable> callables() {
    std::vector<Callable> all;
    for (int s = 1; s <= ACTION_COUNT; ++s)
        if (action_words[s] && action_specs[s]) all.push_back(parse_spec(action_words[s], action_specs[s]));
    for (int k = 0; k < NATIVE_COUNT; ++k) all.push_back(parse_spec(native_defs[k].name, native_defs[k].spec));
    return all;
}

// ================================================================== running

struct Options {
    uint64_t every = 1, offset = 0;
    const char* only = nullptr;
    bool verbose = false;
};
Options options;
uint64_t call_number = 0, calls_run = 0, errors_raised = 0;

void drop_output(const std::string&, bool) {}

// Evaluates source text; pushes the result.
Cell* evaluate(const char* text) {
    Cell* code = stack_push();
    transcode_utf8(code, reinterpret_cast<const uint8_t*>(text), std::strlen(text));
    eval_block(code);
    Cell r = *stack_top();
    vstack.top = code;
    Cell* out = stack_push();
    *out = r;
    return out;
}

// Appends a fresh sample to the block.
void append_sample(Cell* block, const char* source) {
    try {
        Cell* v = evaluate(source);
        block_append(block, v);
        stack_drop_to(v);
    } catch (const LanguageThrow&) {
        std::fprintf(stderr, "type_sweep: the sample %s cannot be made\n", source);
        std::exit(2);
    }
}

// A fresh block of every sample into *out (rooted).
void make_samples(Cell* out) {
    StackScope scope;
    Cell* block = block_push_new(uint32_t(std::size(sample_sources)));
    for (const char* source : sample_sources) append_sample(block, source);
    *out = *block;
}

// Fails when a datatype has neither a sample nor a reason for having none.
bool check_sample_types(const Cell* samples) {
    bool seen[TYPE_TABLE_ROWS] = {};
    for (uint32_t i = 0; i < block_length(samples); ++i) seen[cell_type(block_at(samples, i))] = true;
    for (const auto& t : no_sample_types) seen[t.type] = true;
    bool ok = true;
    for (int t = 1; t <= T_MAX_ID; ++t) {
        if (seen[t] || !datatype_name(TypeId(t))) continue;
        std::fprintf(stderr, "type_sweep: no sample of %s (add one, or the reason it has none)\n",
                     datatype_name(TypeId(t)));
        ok = false;
    }
    return ok;
}

struct Sweep {
    Cell* samples;        // rooted: one of each sample, for their types
    uint32_t count = 0;

    const Cell* sample(uint32_t i) { return block_at(samples, i % count); }

    // One call of c with the given argument samples and at most one refinement.
    void call(const Callable& c, const Cell* fn, const Cell* word, const std::vector<uint32_t>& args, int refinement) {
        if (call_number++ % options.every != options.offset) return;
        if (in_list(c.name.c_str(), no_file_args, std::size(no_file_args)))
            for (uint32_t a : args) {
                TypeId t = cell_type(sample(a));
                if (t == T_FILE || t == T_URL) return;
            }
        StackScope scope;
        uint32_t depth = frame_depth();
        // Fresh arguments; one sample given twice is the same value twice
        // (append b b).
        Cell* arg_block = block_push_new(uint32_t(args.size()));
        for (size_t k = 0; k < args.size(); ++k) {
            size_t first = k;
            for (size_t e = 0; e < k; ++e)
                if (args[e] % count == args[k] % count) { first = e; break; }
            if (first == k) append_sample(arg_block, sample_sources[args[k] % count]);
            else {
                Cell same = *block_at(arg_block, uint32_t(first));  // the append may move the block
                block_append(arg_block, &same);
            }
        }
        Cell* refs = nullptr;
        if (refinement >= 0) {
            refs = block_push_new(1);
            Cell w = word_from_cstring(c.refinements[size_t(refinement)].name.c_str());
            block_append(refs, &w);
        }
        if (options.verbose) {
            std::fprintf(stderr, "%s%s%s", c.name.c_str(), refinement >= 0 ? "/" : "",
                         refinement >= 0 ? c.refinements[size_t(refinement)].name.c_str() : "");
            for (uint32_t a : args) std::fprintf(stderr, " [%u] %s", a % count, sample_sources[a % count]);
            std::fputc('\n', stderr);
            std::fflush(stderr);
        }
        ++calls_run;
        try {
            call_quoted(fn, word, arg_block, refs);
        } catch (const LanguageThrow&) {
            ++errors_raised;
        }
        // Whatever the call left behind goes: frames, pending exits, a trace run.
        frames_unwind_to(depth);
        pending_exit = 0;
        if (trace_running) trace_stop();
        cycle_reset();
        collector_enabled = true;
    }

    void run(const Callable& c) {
        StackScope scope;
        Cell* word = stack_push();
        *word = word_from_cstring(c.name.c_str());
        Cell* fn = stack_push_copy(word_value_cell(word));
        TypeId ft = cell_type(fn);
        if (ft != T_NATIVE && ft != T_ACTION) {
            std::fprintf(stderr, "type_sweep: %s is not a native or action\n", c.name.c_str());
            std::exit(2);
        }
        // Plain arguments: every pair of samples for the first two, the rest
        // rotating through the samples.
        auto plain = [&](uint32_t i, uint32_t j) {
            std::vector<uint32_t> args;
            for (int k = 0; k < c.args; ++k) args.push_back(k == 0 ? i : k == 1 ? j : i + j * 7 + uint32_t(k) * 13);
            return args;
        };
        for (uint32_t i = 0; i < (c.args ? count : 1); ++i) {
            for (uint32_t j = 0; j < (c.args >= 2 ? count : 1); ++j) call(c, fn, word, plain(i, j), -1);
        }
        // Each refinement alone: every first argument with every sample for the
        // refinement's first argument.
        for (size_t r = 0; r < c.refinements.size(); ++r) {
            int m = c.refinements[r].args;
            for (uint32_t i = 0; i < (c.args ? count : 1); ++i) {
                for (uint32_t j = 0; j < (m ? count : 1); ++j) {
                    std::vector<uint32_t> args = plain(i, i * 3 + 1);
                    for (int k = 0; k < m; ++k) args.push_back(k == 0 ? j : j + uint32_t(k) * 5);
                    call(c, fn, word, args, int(r));
                }
            }
        }
    }
};

int sweep_main() {
    set_print_hook(drop_output);
    StackScope scope;
    Sweep s;
    s.samples = stack_push();
    make_samples(s.samples);
    s.count = block_length(s.samples);
    if (!check_sample_types(s.samples)) return 1;
    int ran = 0;
    for (const Callable& c : callables()) {
        if (options.only && c.name != options.only) continue;
        if (in_list(c.name.c_str(), skipped, std::size(skipped))) continue;
        std::fprintf(stderr, "sweep: %s\n", c.name.c_str());
        std::fflush(stderr);
        s.run(c);
        ++ran;
    }
    std::printf("type_sweep: %d callables, %llu calls, %llu raised a language error, no fault\n", ran,
                (unsigned long long)calls_run, (unsigned long long)errors_raised);
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    for (int i = 1; i < argc; ++i) {
        std::string a = argv[i];
        if (a == "--every" && i + 1 < argc) options.every = std::max(1ull, std::strtoull(argv[++i], nullptr, 10));
        else if (a == "--offset" && i + 1 < argc) options.offset = std::strtoull(argv[++i], nullptr, 10);
        else if (a == "--only" && i + 1 < argc) options.only = argv[++i];
        else if (a == "--verbose") options.verbose = true;
        else {
            std::fprintf(stderr, "usage: type_sweep [--every N] [--offset K] [--only NAME] [--verbose]\n");
            return 2;
        }
    }
    options.offset %= options.every;
    os::set_env("TEV_REPORT_TO_STDERR", "1");
    return startup_for_tests(argc, argv, sweep_main);
}

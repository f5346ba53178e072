// libFuzzer target: parse over random inputs with random rule blocks built from the keywords,
// charsets, literals, counts, words and parens. Built by the TEV_FUZZ option (clang).
//
// Byte 0 picks the input's datatype (bits 0-1: string, binary, block, string
// with wide characters), /case (bit 2) and the collector's torture mode for the
// run (bit 3, with a smaller budget of events). The bytes up to the first FFh are the input's text; every byte
// after it is one rule token. A trace callback ends every run after a budget of
// events, so that rules that legitimately loop forever (while [none]) stop too.
#include <cstddef>
#include <cstdint>
#include <cstdio>
#include <string>
#include "tests/fuzz/fuzz_setup.h"

using namespace tev;

namespace {

const char* const tokens[] = {
    "|", "skip", "any", "some", "opt", "while", "copy x", "set x", "to", "thru", "remove", "insert",
    "change", "end", "if (odd? n)", "not", "ahead", "quote", "into", "collect", "keep", "keep pick",
    "case true", "case false", "break", "reject", "fail", "none", "collect set y", "collect into buf",
    "collect after buf", "[", "]", "[", "]", "\"a\"", "\"ab\"", "\"\"", "#\"a\"", "#\"B\"", "alpha", "digit",
    "nota", "0", "1", "2", "3", "-1", "0 0", "1 2", "2 1", "word!", "integer!", "block!", "string!",
    "'a", "'b", "pos:", ":pos", "(n: n + 1)", "(if not tail? inp [remove inp])", "(append inp \"a\")",
    "(clear inp)", "(parse \"aab\" [some \"a\" \"b\"])", "(insert rules 'skip)", "(n)", "x", "y", "r",
    "#{61}", "<a>", "only", "pick", "after", "a/b", "insert only \"z\"", "change only \"a\" [1]",
    "remove pos", "change pos \"q\"", "insert pos \"q\"", "(break)", "(continue)", "to end", "thru end",
};
constexpr size_t TOKEN_COUNT = sizeof tokens / sizeof tokens[0];

std::string quote_text(const uint8_t* p, size_t n, bool wide) {
    std::string s = "\"";
    for (size_t i = 0; i < n; ++i) {
        uint8_t c = p[i];
        if (c == '"' || c == '^' || c < 0x20 || c >= 0x7F) {
            char esc[16];
            std::snprintf(esc, sizeof esc, "^(%X)", wide && c >= 0xF0 ? 0x1F600u + c : unsigned(c));
            s += esc;
        } else {
            s += char(c);
        }
    }
    return s + "\"";
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int*, char***) {
    fuzz::start_runtime();
    fuzz::run_setup_source(
        "alpha: make bitset! [#\"a\" - #\"z\"] digit: make bitset! \"0123456789\" "
        "nota: make bitset! [not \"a\"] r: [\"a\" r | skip] n: 0 "
        "budget: func [e m r i s] [k: k + 1 k < limit]");
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* bytes, size_t length) {
    fuzz::OptionsInput in;
    if (!fuzz::split_options(bytes, length, &in)) return 0;
    const auto [options, data, size] = in;
    size_t split = 0;
    while (split < size && data[split] != 0xFF) ++split;
    std::string text = quote_text(data, split, (options & 3) == 3);
    std::string input;
    switch (options & 3) {
        case 1: input = "to binary! " + text; break;
        case 2: input = "transcode " + text; break;
        default: input = text;
    }
    std::string rules;
    int depth = 0;
    for (size_t i = split + 1; i < size && i < split + 200; ++i) {
        const char* t = tokens[data[i] % TOKEN_COUNT];
        if (t[0] == '[' && !t[1]) ++depth;
        if (t[0] == ']' && !t[1]) {
            if (depth == 0) continue;
            --depth;
        }
        rules += t;
        rules += ' ';
    }
    while (depth-- > 0) rules += "] ";
    bool torture = options & 8;
    // The collector at every allocation is slow: a torture run gets fewer events.
    std::string source = std::string(torture ? "limit: 150" : "limit: 3000") +
                         " k: 0 n: 0 x: y: none buf: copy [] inp: " + input + " pos: inp rules: [" + rules + "] parse" +
                         ((options & 4) ? "/case" : "") + "/trace inp rules :budget";
    // Errors are the expected way out of bad rules; a crash, a leak or a hang
    // is what the fuzzer looks for.
    fuzz::run_source_raised(source.data(), source.size(), torture);
    return 0;
}

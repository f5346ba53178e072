// The preprocessor pass that every script pays, and URL parsing, each beside a
// Python job of the same reach in the same run: a regular-expression scan for
// directives over the script's text, and the standard library's URL splitter.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

// 10,000 lines of ordinary code (4 top-level values, 6 blocks each); with
// `every` > 0 each such line is followed by a line holding an #if.
#define SCRIPT_SETUP(every)                                                                          \
    "line: {x1: func [a b /local c] [c: a + b * 3 either c > 10 [\"big\"] [print [a b c]]]^/}\n"     \
    "text: make string! 1000000 repeat i 10000 [append text line "                                   \
    "if all [" #every " > 0  i // " #every " = 0] [append text {#if 1 < 2 [y: 1]^/}]]\n"                \
    "code: load/all text\n"
#define PY_SCRIPT_SETUP(every)                                                                       \
    "import re\n"                                                                                    \
    "line = \"x1: func [a b /local c] [c: a + b * 3 either c > 10 [\\\"big\\\"] [print [a b c]]]\\n\"\n" \
    "text = \"\".join(line + (\"#if 1 < 2 [y: 1]\\n\" if " #every " > 0 and i % " #every " == 0 else \"\")" \
    " for i in range(1, 10001))\n"                                                                   \
    "r = re.compile(r\"#(?:if|either|switch|case|do|local|reset|trace|process|macro|include)\\b\")\n"

#define URL "http://user@example.com:8080/a/b/c.html?q=1&r=2#frag"

const bench::TevPyJob jobs[] = {
    {"10,000 lines without directives (re scan)",
     SCRIPT_SETUP(0),
     "expand-directives code ok: 40000 = length? code",
     PY_SCRIPT_SETUP(0),
     "len(r.findall(text)) == 0"},
    {"10,000 lines, 1,000 #if (copy, re.sub)",
     SCRIPT_SETUP(10),
     "ok: 40000 + 2000 = length? expand-directives copy/deep code",
     PY_SCRIPT_SETUP(10),
     "len(r.sub(\"\", text)) < len(text)"},
    {"copy/deep of the same code alone",
     SCRIPT_SETUP(10),
     "ok: 40000 + 5000 = length? copy/deep code",
     PY_SCRIPT_SETUP(10),
     "len(text.replace(\"#\", \"\")) < len(text)"},
    {"parse-url, 10,000 times (urlsplit)",
     "",
     "loop 10000 [u: parse-url " URL "] ok: u/port = 8080",
     "from urllib.parse import urlsplit",
     "all(urlsplit(\"" URL "\").port == 8080 for _ in range(10000))"},
};

}  // namespace

static int run_benchmarks() { return bench::run_tev_py_jobs(jobs, 46); }

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

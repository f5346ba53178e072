// parse benchmarks: charset loops, literal searches, CSV-like splitting, digit runs and a block
// grammar, each beside the same job done by Python's re (or a hand-written loop) in the same run.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

// The inputs: 10 MB of letters and digits with a comma every 10 characters and
// a needle every 1,000; a block of 100,000 values in groups of word, integer, string.
#define TEXT_SETUP                                                                   \
    "piece: \"abc123xyz,\" s: make string! 10000000 loop 1000000 [append s piece]\n" \
    "alnum: make bitset! [#\"a\" - #\"z\" #\"0\" - #\"9\"]\n"                        \
    "digit: make bitset! \"0123456789\"\n"                                           \
    "chunk: copy \"\" loop 99 [append chunk piece] append chunk \"needle,xyz\"\n"     \
    "t: make string! 10000000 loop 10000 [append t chunk]\n"
#define PY_TEXT_SETUP                                                    \
    "s = \"abc123xyz,\" * 1000000\n"                                     \
    "t = (\"abc123xyz,\" * 99 + \"needle,xyz\") * 10000\n"

const bench::TevPyJob jobs[] = {
    {"charset loop over 10 MB",
     TEXT_SETUP "letters: union alnum make bitset! \",\"",
     "ok: parse s [some letters]",
     PY_TEXT_SETUP "r = re.compile(\"[a-z0-9,]+\")",
     "r.fullmatch(s) is not None"},
    {"to an absent literal through 10 MB",
     TEXT_SETUP,
     "ok: not parse s [to \"absent!\" to end]",
     PY_TEXT_SETUP "r = re.compile(\"absent!\")",
     "r.search(s) is None"},
    {"to an absent literal, /case",
     TEXT_SETUP,
     "ok: not parse/case s [to \"absent!\" to end]",
     PY_TEXT_SETUP "r = re.compile(\"absent!\")",
     "r.search(s) is None"},
    {"to an absent literal, Python ignoring case",
     TEXT_SETUP,
     "ok: not parse s [to \"absent!\" to end]",
     PY_TEXT_SETUP "r = re.compile(\"absent!\", re.IGNORECASE)",
     "r.search(s) is None"},
    {"thru each of 10,000 needles in 10 MB",
     TEXT_SETUP,
     "k: 0 ok: parse t [some [thru \"needle\" (k: k + 1)] to end] ok: k = 10000",
     PY_TEXT_SETUP "r = re.compile(\"needle\")",
     "sum(1 for _ in r.finditer(t)) == 10000"},
    {"split 10 MB at commas (1,000,000 fields)",
     TEXT_SETUP,
     "fields: parse s [collect [some [keep to \",\" skip]]] ok: 1000000 = length? fields",
     PY_TEXT_SETUP "r = re.compile(\",\")",
     "len(r.split(s)) == 1000001"},
    {"collect digit runs in 10 MB",
     TEXT_SETUP,
     "runs: parse s [collect [some [keep some digit | skip]]] ok: 1000000 = length? runs",
     PY_TEXT_SETUP "r = re.compile(\"[0-9]+\")",
     "len(r.findall(s)) == 1000000"},
    {"block grammar over 100,000 values",
     "b: make block! 100000 repeat i 33334 [append b 'w append b i append b \"s\"]",
     "ok: parse b [some [word! integer! string!]]",
     "b = []\n"
     "for i in range(1, 33335): b += [\"w\", i, \"s\"]\n"
     "b = [(\"w\",) if x == \"w\" else x for x in b]\n"
     "def grammar(b):\n"
     "    i, n = 0, len(b)\n"
     "    while i < n:\n"
     "        if i + 3 > n or type(b[i]) is not tuple or type(b[i + 1]) is not int or type(b[i + 2]) is not str: return False\n"
     "        i += 3\n"
     "    return True\n",
     "grammar(b)"},
};

}  // namespace

static int run_benchmarks() { return bench::run_tev_py_jobs(jobs, 44, "re"); }

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// Library helpers that scripts call in loops or on large texts (first, last, empty?,
// rejoin, pad, split, replace/all) and load/save of plain values, each beside the
// same job in Python in the same run. The 1 MB and
// 10 MB rows of one job show whether its cost grows linearly with the text.
#include <cstdio>
#include <string>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

// s: 10 MB, a comma every 10 characters; m: the first 1 MB of it.
#define TEXT_SETUP                                                                   \
    "piece: \"abc123xyz,\" s: make string! 10000000 loop 1000000 [append s piece]\n" \
    "m: copy/part s 1000000 digit: charset \"0123456789\"\n"
#define PY_TEXT_SETUP "s = \"abc123xyz,\" * 1000000\nm = s[:1000000]\n"

const bench::TevPyJob jobs[] = {
    {"first of a block, 1,000,000 times",
     "b: [1 2 3]",
     "ok: loop 1000000 [x: first b] ok: x = 1",
     "b = [1, 2, 3]",
     "all(b[0] == 1 for _ in range(1000000))"},
    {"last of a block, 1,000,000 times",
     "b: [1 2 3]",
     "ok: loop 1000000 [x: last b] ok: x = 3",
     "b = [1, 2, 3]",
     "all(b[-1] == 3 for _ in range(1000000))"},
    {"empty? of a string, 1,000,000 times",
     "s: \"abc\"",
     "ok: loop 1000000 [x: empty? s] ok: not x",
     "s = \"abc\"",
     "all(len(s) != 0 for _ in range(1000000))"},
    {"load 200,000 integers from text",
     "s: make string! 1400000 repeat i 200000 [append append s i #\" \"]",
     "ok: 200000 = length? load s",
     "s = \" \".join(str(i) for i in range(200000))",
     "len([int(x) for x in s.split()]) == 200000"},
    {"save 200,000 integers as text",
     "b: make block! 200000 repeat i 200000 [append b i]",
     "ok: 1000000 < length? save none b",
     "b = list(range(200000))",
     "len(\" \".join(map(str, b)).encode()) > 1000000"},
    {"rejoin 3 values, 100,000 calls",
     "",
     "ok: loop 100000 [x: rejoin [\"id-\" 12345 \"-end\"]] ok: 12 = length? x",
     "",
     "all(len(\"\".join([\"id-\", str(12345), \"-end\"])) == 12 for _ in range(100000))"},
    {"rejoin 100,000 strings in one call",
     "parts: make block! 100000 loop 100000 [append parts \"abc\"]",
     "ok: 300000 = length? rejoin parts",
     "parts = [\"abc\"] * 100000",
     "len(\"\".join(parts)) == 300000"},
    {"pad to 10 characters, 100,000 calls",
     "",
     "ok: loop 100000 [x: pad copy \"ab\" 10] ok: 10 = length? x",
     "",
     "all(len(\"ab\".ljust(10)) == 10 for _ in range(100000))"},
    {"pad/left a number, 100,000 calls",
     "",
     "ok: loop 100000 [x: pad/left 42 8] ok: 8 = length? x",
     "",
     "all(len(str(42).rjust(8)) == 8 for _ in range(100000))"},
    {"split 1 MB at commas (100,000 fields)",
     TEXT_SETUP,
     "ok: 100001 = length? split m #\",\"",
     PY_TEXT_SETUP,
     "len(m.split(\",\")) == 100001"},
    {"split 10 MB at commas (1,000,000 fields)",
     TEXT_SETUP,
     "ok: 1000001 = length? split s #\",\"",
     PY_TEXT_SETUP,
     "len(s.split(\",\")) == 1000001"},
    {"replace/all in 1 MB, 100,000 hits, longer",
     TEXT_SETUP,
     "ok: 1200000 = length? replace/all copy m \",\" \"<->\"",
     PY_TEXT_SETUP,
     "len(m.replace(\",\", \"<->\")) == 1200000"},
    {"replace/all in 10 MB, 1,000,000 hits, longer",
     TEXT_SETUP,
     "ok: 12000000 = length? replace/all copy s \",\" \"<->\"",
     PY_TEXT_SETUP,
     "len(s.replace(\",\", \"<->\")) == 12000000"},
    {"replace/all in 10 MB, 1,000,000 hits, shorter",
     TEXT_SETUP,
     "ok: 7000000 = length? replace/all copy s \"xyz,\" \"!\"",
     PY_TEXT_SETUP,
     "len(s.replace(\"xyz,\", \"!\")) == 7000000"},
    {"replace/all a charset in 1 MB (re.sub)",
     TEXT_SETUP,
     "ok: 700000 = length? replace/all copy m digit \"\"",
     PY_TEXT_SETUP "import re\nr = re.compile(\"[0-9]\")",
     "len(r.sub(\"\", m)) == 700000"},
    {"replace/all a charset in 10 MB (re.sub)",
     TEXT_SETUP,
     "ok: 7000000 = length? replace/all copy s digit \"\"",
     PY_TEXT_SETUP "import re\nr = re.compile(\"[0-9]\")",
     "len(r.sub(\"\", s)) == 7000000"},
};

}  // namespace

static int run_benchmarks() { return bench::run_tev_py_jobs(jobs, 46); }

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// load-json, to-json, load-csv and to-csv on 10 MB documents, each beside Python's
// json and csv modules on the same text in the same run, with the time ratio.
#include <cstdio>
#include <random>
#include <string>
#include "bench/bench_tev.h"
#include "startup/startup.h"

using namespace tev;

namespace {

const char* const json_path = "/tmp/tev_json_csv_bench.json";
const char* const csv_path = "/tmp/tev_json_csv_bench.csv";

// Records of the kinds web services send: numbers, words, text with escapes, nested lists.
std::string make_json(size_t size) {
    static const char* const tags[] = {"alpha", "beta", "gamma", "delta", "x y", "\\u00e9t\\u00e9"};
    std::mt19937 rng(7);
    std::string s = "[";
    for (int i = 0; s.size() < size; ++i) {
        if (i) s += ",\n";
        s += "{\"id\":" + std::to_string(i) + ",\"name\":\"item " + std::to_string(rng() % 100000) + "\"";
        s += ",\"price\":" + std::to_string(rng() % 100000) + "." + std::to_string(rng() % 100);
        s += ",\"active\":" + std::string(rng() % 2 ? "true" : "false") + ",\"note\":null";
        s += ",\"tags\":[";
        for (int t = 0; t < 3; ++t) s += std::string(t ? "," : "") + "\"" + tags[rng() % 6] + "\"";
        s += "],\"text\":\"line\\twith \\\"escapes\\\" and more text\"}";
    }
    return s + "]";
}

// Six columns; one in four rows quotes a field holding the delimiter or a quote.
std::string make_csv(size_t size) {
    std::mt19937 rng(11);
    std::string s = "id,name,price,city,comment,flag\n";
    for (int i = 0; s.size() < size; ++i) {
        s += std::to_string(i) + ",name" + std::to_string(rng() % 100000) + "," + std::to_string(rng() % 10000) +
             ".5,Paris,";
        s += (rng() % 4 == 0) ? "\"says \"\"hi\"\", then, leaves\"" : "plain comment text";
        s += (rng() % 2) ? ",true\n" : ",false\n";
    }
    return s;
}

bool write_file(const char* path, const std::string& text) {
    FILE* f = std::fopen(path, "wb");
    if (!f) return false;
    bool ok = std::fwrite(text.data(), 1, text.size(), f) == text.size();
    return std::fclose(f) == 0 && ok;
}

const bench::TevPyJob jobs[] = {
    {"load-json 10 MB (json.loads)",
     "s: read %/tmp/tev_json_csv_bench.json",
     "d: load-json s ok: block? d",
     "import json\ns = open(\"/tmp/tev_json_csv_bench.json\").read()",
     "isinstance(json.loads(s), list)"},
    {"to-json of it (json.dumps)",
     "s: read %/tmp/tev_json_csv_bench.json d: load-json s",
     "j: to-json d ok: 9000000 < length? j",
     "import json\nd = json.loads(open(\"/tmp/tev_json_csv_bench.json\").read())",
     "len(json.dumps(d, ensure_ascii=False, separators=(\",\", \":\"))) > 9000000"},
    {"load-csv 10 MB (csv.reader)",
     "s: read %/tmp/tev_json_csv_bench.csv",
     "d: load-csv s ok: 100000 < length? d",
     "import csv, io\ns = open(\"/tmp/tev_json_csv_bench.csv\", newline=\"\").read()",
     "len(list(csv.reader(io.StringIO(s)))) > 100000"},
    {"to-csv of it (csv.writer)",
     "s: read %/tmp/tev_json_csv_bench.csv d: load-csv s",
     "c: to-csv d ok: 9000000 < length? c",
     "import csv, io\nd = list(csv.reader(io.StringIO(open(\"/tmp/tev_json_csv_bench.csv\", newline=\"\").read())))\n"
     "def w():\n    o = io.StringIO()\n    csv.writer(o, lineterminator=\"\\n\").writerows(d)\n    return o.getvalue()",
     "len(w()) > 9000000"},
};

}  // namespace

static int run_benchmarks() {
    if (!write_file(json_path, make_json(10000000)) || !write_file(csv_path, make_csv(10000000))) {
        std::printf("cannot write the documents in /tmp\n");
        return 1;
    }
    bench::run_tev_py_jobs(jobs, 34);
    std::remove(json_path);
    std::remove(csv_path);
    return 0;
}

int main(int argc, char** argv) { return startup_for_tests(argc, argv, run_benchmarks); }

// The answer's header text read into a map: bounded by its length whatever the lines look like.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "io/http.h"
#include "runtime/value_stack.h"
#include "tests/datatypes/series_fixture.h"

namespace tev {
namespace {

using testing_series::mold_of;
using namespace std::string_literals;

// The text is copied into a buffer of exactly its length, with no terminator
// after it, so that the sanitizer build sees any read past the end.
std::string headers_molded(const std::string& text) {
    StackScope scope;
    std::vector<char> exact(text.begin(), text.end());
    Cell* map = http_headers_to_map(exact.data(), exact.size());
    return mold_of(map, false, true);
}

TEST(HttpHeaders, LinesBecomeWordKeysWhateverTheirEnds) {
    struct Case {
        std::string text;
        const char* molded;
    };
    const Case cases[] = {
        {"A: 1\r\nB: 2\r\n", R"(#[A: "1" B: "2"])"},
        {"A:1", R"(#[A: "1"])"},                      // no space after the colon, no line end
        {"A:", R"(#[A: ""])"},                        // the colon is the last byte
        {"A: ", R"(#[A: ""])"},
        {"A: x\nB: y", R"(#[A: "x" B: "y"])"},        // bare LF
        {"A: x\r", R"(#[A: "x"])"},                   // a CR with no LF after it
        {"A:  two spaces\r\n", R"(#[A: " two spaces"])"},
        {"junk\r\nA: 1\r\n\r\n", R"(#[A: "1"])"},     // a line without a colon, a blank line
        {": v\r\n  : w\r\n", "#[]"},                  // no name
        {"", "#[]"},
        {"Url: http://x/a:b\r\n", R"(#[Url: "http://x/a:b"])"},
        {"T: caf\xC3\xA9\r\n", "#[T: \"caf\xC3\xA9\"]"},             // UTF-8 kept
        {"T: caf\xE9\r\n", "#[T: \"caf\xC3\xA9\"]"},                 // not UTF-8: read as Latin-1
        {"T: \xED\xA0\x80", "#[T: \"\xC3\xAD\xC2\xA0^(80)\"]"},  // an encoded surrogate is not UTF-8
        {"T: \xFA\xAC\xAC\xAC", "#[T: \"\xC3\xBA\xC2\xAC\xC2\xAC\xC2\xAC\"]"},  // no lead byte above F4
        {"\0: v\r\nA\0B: w"s, R"(#[AB: "w"])"},      // NUL bytes dropped
    };
    for (const Case& c : cases) EXPECT_EQ(headers_molded(c.text), c.molded) << c.text;
}

TEST(HttpHeaders, RepeatedNamesGatherTheirValuesInOrder) {
    EXPECT_EQ(headers_molded("Set-Cookie: a=1\r\nX: 0\r\nSet-Cookie: b=2\r\nset-cookie: c=3\r\n"),
              R"(#[Set-Cookie: ["a=1" "b=2" "c=3"] X: "0"])");
}

}  // namespace
}  // namespace tev

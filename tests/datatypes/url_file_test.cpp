// url! and file!: percent decoding and encoding, local paths in both styles, and mold part limits.
#include <gtest/gtest.h>
#include <string>
#include "datatypes/file.h"
#include "datatypes/registry.h"
#include "datatypes/string.h"
#include "datatypes/url.h"
#include "os/os.h"
#include "runtime/value_stack.h"

using namespace tev;

namespace {

Cell* text_cell(const std::string& utf8, TypeId type = T_STRING) {
    Cell* c = string_push(8);
    string_append_utf8(c, utf8.data(), utf8.size());
    cell_set_type(c, type);
    return c;
}

std::string decoded(const std::string& source) {
    StackScope scope;
    Cell* out = string_push(8);
    url_percent_decode(reinterpret_cast<const uint8_t*>(source.data()), source.size(), out);
    return string_to_utf8(out);
}

TEST(PercentDecode, EscapesBecomeCharactersAndMalformedOnesStayLiteral) {
    struct Case { const char* source; const char* text; };
    const Case cases[] = {
        {"%20", " "},
        {"a%20b", "a b"},
        {"%C3%A9", "\xC3\xA9"},            // one letter from the escapes of its two bytes
        {"%e2%82%ac", "\xE2\x82\xAC"},     // lower-case hex digits too
        {"%F0%9F%98%80", "\xF0\x9F\x98\x80"},
        {"%zz", "%zz"},
        {"%2", "%2"},                      // cut at the end: nothing read past the length
        {"%", "%"},
        {"%C3", "%C3"},                    // a lead byte without its continuation
        {"%C3%", "%C3%"},
        {"%C3%41", "%C3A"},                // the continuation is no continuation byte
        {"%E9", "%E9"},                    // a lone lead byte announces three bytes
        {"%41%42", "AB"},
        {"\xC3\xA9%20", "\xC3\xA9 "},      // raw UTF-8 passes through
        {"\xFF", "\xC3\xBF"},              // a malformed byte stands for itself
    };
    for (const Case& c : cases) EXPECT_EQ(decoded(c.source), c.text) << c.source;
}

TEST(PercentDecode, StaysWithinTheGivenLength) {
    StackScope scope;
    Cell* out = string_push(8);
    const char source[] = "a%4142";  // only "a%4" is given
    url_percent_decode(reinterpret_cast<const uint8_t*>(source), 3, out);
    EXPECT_EQ(string_to_utf8(out), "a%4");
}

TEST(PercentEncode, UrlTableAndUnreservedRule) {
    struct Case { const char* text; int rule; const char* escaped; };
    const Case cases[] = {
        {"a b", URL_RULE_URL, "a%20b"},
        {"a/b:c?d=e&f#g@h", URL_RULE_URL, "a/b:c?d=e&f#g@h"},
        {"a/b:c", URL_RULE_UNRESERVED, "a%2Fb%3Ac"},
        {"-._~", URL_RULE_UNRESERVED, "-._~"},
        {"\"%;<>[]\\^`{|}", URL_RULE_URL, "%22%25%3B%3C%3E%5B%5D%5C%5E%60%7B%7C%7D"},
        {"\x7F", URL_RULE_URL, "%7F"},
        {"\xC3\xA9", URL_RULE_URL, "%C3%A9"},
    };
    for (const Case& c : cases) {
        StackScope scope;
        Cell* str = text_cell(c.text);
        Cell* out = string_push(8);
        url_percent_encode(str, out, c.rule);
        EXPECT_EQ(string_to_utf8(out), c.escaped) << c.text;
    }
}

std::string local(const std::string& name, bool full, PathStyle style) {
    StackScope scope;
    Cell* file = text_cell(name, T_FILE);
    Cell* out = string_push(8);
    file_to_local_path_style(file, out, full, style, style == PathStyle::windows ? "C:\\work\\" : "/work/");
    return string_to_utf8(out);
}

TEST(LocalPath, WindowsStyleHasDrivesServersAndBackslashes) {
    struct Case { const char* name; bool full; const char* path; };
    const Case cases[] = {
        {"/c/x", false, "c:\\x"},
        {"/c", false, "c:\\"},
        {"/c/", false, "c:\\"},
        {"/c/dir/file.txt", true, "c:\\dir\\file.txt"},
        {"/server/share", false, "\\\\server\\share"},
        {"/", false, "\\"},
        {"//x", false, "\\\\x"},
        {"a/b", false, "a\\b"},
        {"a/b", true, "C:\\work\\a\\b"},
        {"", true, "C:\\work\\"},
    };
    for (const Case& c : cases) EXPECT_EQ(local(c.name, c.full, PathStyle::windows), c.path) << c.name;
}

TEST(LocalPath, PosixStyleKeepsTheName) {
    EXPECT_EQ(local("/c/x", false, PathStyle::posix), "/c/x");
    EXPECT_EQ(local("/c/x", true, PathStyle::posix), "/c/x");
    EXPECT_EQ(local("a/b", true, PathStyle::posix), "/work/a/b");
    EXPECT_EQ(local("a/b", false, PathStyle::posix), "a/b");
}

TEST(LocalPath, TheBuildsOwnStyle) {
    StackScope scope;
    Cell* file = text_cell("/c/x", T_FILE);
    Cell* out = string_push(8);
    file_to_local_path(file, out, false);
#ifdef _WIN32
    EXPECT_EQ(string_to_utf8(out), "c:\\x");
#else
    EXPECT_EQ(string_to_utf8(out), "/c/x");
#endif
    std::string dir = file_os_current_dir();
    ASSERT_FALSE(dir.empty());
    EXPECT_EQ(dir.back(), os::DIR_SEPARATOR);
    Cell* relative = text_cell("x", T_FILE);
    Cell* full = string_push(8);
    file_to_local_path(relative, full, true);
    EXPECT_EQ(string_to_utf8(full), dir + "x");
}

// mold with a part limit, as mold/part calls it: the text written and the limit left.
std::pair<std::string, int32_t> mold_part(const std::string& text, TypeId type, int32_t limit) {
    StackScope scope;
    Cell* value = text_cell(text, type);
    Cell* out = string_push(8);
    Cell* arg = stack_push();
    set_integer(arg, limit);
    int32_t left = action_of<Act::mold>(type)(value, out, false, false, false, arg, limit, 0);
    return {string_to_utf8(out), left};
}

TEST(UrlFileMold, PartLimitsCountWhatIsWritten) {
    EXPECT_EQ(mold_part("http://x/a b", T_URL, 12), std::make_pair(std::string("http://x/a%2"), 0));
    EXPECT_EQ(mold_part("http://x", T_URL, 100), std::make_pair(std::string("http://x"), 92));
    EXPECT_EQ(mold_part("abcdef", T_FILE, 3), std::make_pair(std::string("%abc"), -1));
    EXPECT_EQ(mold_part("abcdef", T_FILE, -5), std::make_pair(std::string("%\"\""), -8));
    EXPECT_EQ(mold_part("a b", T_FILE, 100), std::make_pair(std::string("%\"a b\""), 94));
}

}  // namespace

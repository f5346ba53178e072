// The OS services below the natives: 64-bit file sizes, path spellings, environment entries, version names.
#include <gtest/gtest.h>
#include <random>
#include <string>
#include "datatypes/string.h"
#include "io/files.h"
#include "io/process.h"
#include "os/os.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

// A name no other run of the suite (the torture run goes at the same time) uses.
std::string scratch_name(const char* stem) { return stem + std::to_string(std::random_device{}()) + ".bin"; }

// A file past 4 GiB, made sparse by writing one byte at its end: its size
// must come through whole, as a float once it no longer fits an integer!.
TEST(FileLayer, SizesBeyondTheIntegerRangeAreExact) {
    const std::string path = scratch_name("os-services-test-big-");
    for (int64_t at : {int64_t(0x7FFFFFFE), int64_t(0x80000000), int64_t(0x100000005)}) {
        os::FileHandle h = os::file_open(path, os::FILE_WRITE);
        ASSERT_NE(h, os::NO_FILE);
        ASSERT_TRUE(os::file_seek(h, at));
        ASSERT_TRUE(os::file_write(h, "x", 1));
        EXPECT_EQ(os::file_size(h), at + 1);
        os::file_close(h);
        StackScope scope;
        Cell* name = stack_push();
        string_make(name, 32, T_FILE);
        string_append_ascii(name, path.data(), path.size());
        Cell* size = stack_push();
        file_size_value(size, name);
        if (at + 1 <= INT32_MAX) {
            ASSERT_TRUE(cell_is(size, T_INTEGER));
            EXPECT_EQ(get_integer(size), at + 1);
        } else {
            ASSERT_TRUE(cell_is(size, T_FLOAT));
            EXPECT_EQ(get_float(size), double(at + 1));
        }
    }
    EXPECT_TRUE(os::delete_path(path));
}

TEST(FileLayer, ShortReadGivesWhatWasThere) {
    const std::string path = scratch_name("os-services-test-short-");
    os::FileHandle h = os::file_open(path, os::FILE_WRITE);
    ASSERT_NE(h, os::NO_FILE);
    ASSERT_TRUE(os::file_write(h, "abc", 3));
    os::file_close(h);
    h = os::file_open(path, os::FILE_READ);
    char buffer[16] = {};
    EXPECT_EQ(os::file_read(h, buffer, sizeof buffer), 3);
    EXPECT_EQ(std::string(buffer, 3), "abc");
    EXPECT_EQ(os::file_read(h, buffer, sizeof buffer), 0);
    os::file_close(h);
    EXPECT_TRUE(os::delete_path(path));
}

TEST(FileLayer, DirectoriesAreNamedByTheirSpelling) {
    struct Row { const char* name; bool dir; };
    const Row rows[] = {
        {"a/", true}, {"a\\", true}, {".", true}, {"..", true}, {"a/.", true}, {"a/..", true}, {"a\\..", true},
        {"a", false}, {"", false}, {"a.", false}, {"a..", false}, {"a/b.txt", false}, {".x", false}, {"...", false},
    };
    for (const Row& r : rows) {
        StackScope scope;
        Cell* name = stack_push();
        string_make(name, 8, T_FILE);
        string_append_ascii(name, r.name, std::strlen(r.name));
        EXPECT_EQ(file_path_is_dir(name), r.dir) << r.name;
    }
}

TEST(Environment, EntriesSplitAtTheFirstEqualsAfterTheFirstCharacter) {
    struct Row { const char* entry; bool ok; const char* name; const char* value; };
    const Row rows[] = {
        {"PATH=/bin", true, "PATH", "/bin"},
        {"A=b=c", true, "A", "b=c"},
        {"=C:=C:\\dir", true, "=C:", "C:\\dir"},
        {"EMPTY=", true, "EMPTY", ""},
        {"NOVALUE", false, "", ""},
        {"=", false, "", ""},
        {"", false, "", ""},
    };
    for (const Row& r : rows) {
        std::string name, value;
        ASSERT_EQ(env_entry_split(r.entry, &name, &value), r.ok) << r.entry;
        if (!r.ok) continue;
        EXPECT_EQ(name, r.name);
        EXPECT_EQ(value, r.value);
    }
}

TEST(OsInfo, WindowsVersionNamesWithAGenericNameForUnlistedOnes) {
    struct Row { int major, minor, build; bool server; const char* name; };
    const Row rows[] = {
        {5, 1, 2600, false, "XP"}, {5, 2, 3790, true, "Server 2003 R2"}, {6, 1, 7601, false, "7"},
        {6, 1, 7601, true, "Server 2008 R1"}, {6, 3, 9600, false, "8.1"},
        {10, 0, 19045, false, "10"}, {10, 0, 22000, false, "11"}, {10, 0, 26100, false, "11"},
        {10, 0, 14393, true, "Server 2016"}, {10, 0, 17134, true, "Server 2019"},
        {10, 0, 20285, true, "Server 2022"},
        {6, 4, 9841, false, "6.4"}, {5, 3, 0, false, "5.3"}, {4, 0, 1381, false, "4.0"},
    };
    for (const Row& r : rows)
        EXPECT_EQ(os::windows_version_name(r.major, r.minor, r.build, r.server), r.name) << r.major << "." << r.minor;
}

TEST(OsInfo, DescribesTheRunningSystem) {
    os::OsInfo info = os::os_info();
    EXPECT_FALSE(info.name.empty());
    EXPECT_NE(info.arch, "");
    EXPECT_GT(info.major, 0);
}

}  // namespace
}  // namespace tev

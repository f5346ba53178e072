// Tevbin below the codec object: compression, fault positions, what only the
// boot image may hold, the library flag, and a bad boot image ending start-up.
#include <gtest/gtest.h>
#include <string>
#include <vector>
#include "datatypes/block.h"
#include "datatypes/callable.h"
#include "datatypes/dispatch.h"
#include "datatypes/error.h"
#include "datatypes/string.h"
#include "datatypes/word.h"
#include "interpreter/interpreter.h"
#include "loader/tevbin.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"
#include "startup/boot_image.h"
#include "startup/startup.h"
#include "tests/interpreter/reader.h"

namespace tev {
namespace {

std::string molded(const Cell* v) {
    StackScope scope;
    Cell* held = stack_push_copy(v);  // v may lie in a buffer that molding moves
    Cell* out = stack_push();
    string_make(out, 64);
    mold_dispatch(held, out);
    return string_to_utf8(out);
}

// Decodes bytes for the codec; the error code raised, or 0.
uint32_t decode_code(const std::vector<uint8_t>& bytes, Cell* target, TevbinUse use = TevbinUse::codec) {
    try {
        tevbin_decode(bytes.data(), bytes.size(), target, use);
        return 0;
    } catch (const LanguageThrow&) {
        return last_error_code();
    }
}

std::vector<uint8_t> image(std::initializer_list<uint8_t> tail) {
    std::vector<uint8_t> b = {'T', 'E', 'V', 'B', 'I', 'N', 2};
    b.insert(b.end(), tail);
    return b;
}

TEST(Tevbin, CompressedImagesRoundTripInBothForms) {
    test_evaluator_start();
    StackScope scope;
    std::string text = "[";
    for (int i = 0; i < 400; ++i) text += "item-" + std::to_string(i % 13) + " \"text " + std::to_string(i) + "\" 1.5 [nested block] ";
    text += "]";
    Cell* value = test_eval(text.c_str());
    std::string expected = molded(value);
    for (bool compact : {true, false}) {
        std::vector<uint8_t> packed, plain;
        tevbin_encode_records(value, 1, compact, true, &packed);
        tevbin_encode_records(value, 1, compact, false, &plain);
        ASSERT_GE(packed.size(), 8u);
        EXPECT_TRUE(packed[7] & TEVBIN_COMPRESSED) << compact;
        EXPECT_LT(packed.size(), plain.size() / 2) << compact;
        Cell* out = block_push_new(1);
        ASSERT_EQ(decode_code(packed, out), 0u) << compact;
        ASSERT_EQ(block_length(out), 1u);
        EXPECT_EQ(molded(block_head(out)), expected) << compact;
        // A cut in the packed data is refused, not half-read.
        std::vector<uint8_t> cut(packed.begin(), packed.end() - 3);
        Cell* out2 = block_push_new(1);
        EXPECT_EQ(decode_code(cut, out2), err::script::invalid_data.code) << compact;
    }
}

TEST(Tevbin, FaultsNameTheirBytePosition) {
    test_evaluator_start();
    StackScope scope;
    struct Case { const char* what; std::vector<uint8_t> bytes; uint32_t code; int32_t position; };
    const Case cases[] = {
        {"an unknown lead byte", image({1, 1, 1, 0xC5}), err::script::tb_invalid_record.code, 11},
        {"a prefix before an immediate", image({1, 1, 2, 0xC1, 0x85}), err::script::tb_invalid_record.code, 11},
        {"a symbol index past the table", image({1, 1, 2, 0x0F, 0x00}), err::script::tb_invalid_record.code, 12},
        {"a native index past the table", image({1, 1, 4, 0x15, 0x7F, 0x05, 0x00}), err::script::tb_invalid_record.code, 11},
        {"an action slot with no action", image({1, 1, 4, 0x16, 0x08, 0x05, 0x00}), err::script::tb_invalid_record.code, 11},
        {"an error code outside the catalogue", image({1, 1, 3, 0x22, 0xE7, 0x7F}), err::script::tb_invalid_record.code, 11},
        {"a string unit of 8 bytes", image({1, 1, 2, 0x07, 0x07}), err::script::tb_invalid_record.code, 11},
        {"a tuple of two components", image({1, 1, 4, 0x67, 2, 1, 2}), err::script::tb_invalid_record.code, 11},
        {"a date whose time bit and option disagree", image({1, 1, 5, 0x2F, 0x00, 0x10, 0x01, 0x00}), err::script::tb_invalid_record.code, 11},
        {"stack-held context values", image({1, 1, 3, 0x0E, 0x04, 0x00}), err::script::tb_invalid_record.code, 11},
        {"records past the announced size", image({1, 1, 1, 0x81, 0x81}), err::script::tb_invalid_record.code, 10},
        {"unknown flags", image({0x41, 1, 1, 0x81}), err::script::tb_invalid_record.code, 8},
        {"a wrong magic", std::vector<uint8_t>{'T', 'E', 'V', 'B', 'I', 'X', 2, 1, 1, 1, 0x81}, err::script::invalid_data.code, 0},
    };
    for (const Case& c : cases) {
        Cell* out = block_push_new(1);
        EXPECT_EQ(decode_code(c.bytes, out), c.code) << c.what;
        if (c.position) {
            const Cell* arg = last_error_args();
            ASSERT_TRUE(cell_is(arg, T_INTEGER)) << c.what;
            EXPECT_EQ(get_integer(arg), c.position) << c.what;
        }
    }
}

// 0xC4 records define a word while the boot image loads and leave nothing behind.
TEST(Tevbin, DefinitionRecordsBelongToTheBootImageOnly) {
    test_evaluator_start();
    StackScope scope;
    const char name[] = "tevbin-defined-word";
    std::vector<uint8_t> bytes = image({5, 1, 4, 1, sizeof name});
    bytes.insert(bytes.end(), {0, 0, 0, 0});
    bytes.insert(bytes.end(), name, name + sizeof name);
    bytes.insert(bytes.end(), {0xC4, 0x0F, 0x00, 0x87});
    Cell* out = block_push_new(1);
    EXPECT_EQ(decode_code(bytes, out, TevbinUse::codec), err::script::tb_invalid_record.code);
    ASSERT_EQ(decode_code(bytes, out, TevbinUse::boot), 0u);
    EXPECT_EQ(block_length(out), 0u);
    Cell* v = test_eval("tevbin-defined-word");
    ASSERT_TRUE(cell_is(v, T_INTEGER));
    EXPECT_EQ(get_integer(v), 7);
}

TEST(Tevbin, BootSeriesCarryTheLibraryFlag) {
    test_evaluator_start();
    StackScope scope;
    Cell* value = test_eval("[a [b] c]");
    std::vector<uint8_t> bytes;
    tevbin_encode_records(value, 1, true, false, &bytes);
    for (TevbinUse use : {TevbinUse::codec, TevbinUse::boot}) {
        Cell* out = block_push_new(1);
        ASSERT_EQ(decode_code(bytes, out, use), 0u);
        Cell outer = *block_head(out);
        Cell inner = *block_at(&outer, 1);
        bool flagged = use == TevbinUse::boot;
        EXPECT_EQ((node_buffer(series_node(&outer))->flags & SER_LIBRARY_FLAG) != 0, flagged);
        EXPECT_EQ((node_buffer(series_node(&inner))->flags & SER_LIBRARY_FLAG) != 0, flagged);
    }
}

// The library's functions were made from the boot image: their bodies are
// library code, and so is a function that library code makes.
TEST(Tevbin, LibraryFunctionsKeepTheErrorNearTheUsersCode) {
    test_evaluator_start();
    StackScope scope;
    Cell* attempt = test_eval(":attempt");
    ASSERT_TRUE(cell_is(attempt, T_FUNCTION));
    Cell body = node_buffer(attempt->w3)->cells()[0];
    EXPECT_TRUE(node_buffer(series_node(&body))->flags & SER_LIBRARY_FLAG);

    Cell* maker = test_read("func [x] [x / 0]");
    set_series_flags(series_node(maker), SER_LIBRARY_FLAG);
    set_series_flags(series_node(block_at(maker, 2)), SER_LIBRARY_FLAG);  // the body
    Cell* fn = eval_block(maker);
    Cell word = word_from_cstring("library-divider");
    word_assign(&word, fn);
    Cell* user = test_read("y: 2 library-divider y");
    Cell near = test_error_near(user);
    ASSERT_TRUE(cell_is(&near, T_BLOCK));
    EXPECT_EQ(series_node(&near), series_node(user));
    EXPECT_EQ(series_index(&near), 2u);
}

TEST(TevbinDeathTest, ABadBootImageEndsStartUpWithAFailure) {
#ifdef _WIN32
    const int status = EXIT_STARTUP_FAILED;
#else
    const int status = EXIT_STARTUP_FAILED & 0xFF;
#endif
    static const uint8_t bad_magic[] = {'N', 'O', 'T', 'B', 'I', 'N', 1, 1, 1, 1, 0x81};
    EXPECT_EXIT(boot_image_load_from(bad_magic, sizeof bad_magic), testing::ExitedWithCode(status),
                "Not a Tevbin file!");
    static const uint8_t bad_packing[] = {'T', 'E', 'V', 'B', 'I', 'N', 1, 3, 9, 9, 9, 9, 1, 0, 0, 0};
    EXPECT_EXIT(boot_image_load_from(bad_packing, sizeof bad_packing), testing::ExitedWithCode(status),
                "Tevbin compressed data corrupted!");
    static const uint8_t bad_record[] = {'T', 'E', 'V', 'B', 'I', 'N', 1, 1, 1, 1, 0xC5};
    EXPECT_EXIT(boot_image_load_from(bad_record, sizeof bad_record), testing::ExitedWithCode(status),
                "TEVBIN - invalid record at index");
}

}  // namespace
}  // namespace tev

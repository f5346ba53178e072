// The checksum native: picks the engine by method word, checks the data and the /with key.
#include <cstring>
#include <string>
#include "datatypes/binary.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/checksum.h"
#include "interpreter/natives.h"
#include "io/files.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

enum Method { M_TCP, M_CRC32, M_ADLER32, M_HASH, M_DIGEST };

struct MethodWord {
    const char* word;
    Method method;
    int digest;  // digest number for M_DIGEST
};
const MethodWord method_words[] = {
    {"tcp", M_TCP, 0},           {"md5", M_DIGEST, DIGEST_MD5},       {"sha1", M_DIGEST, DIGEST_SHA1},
    {"crc32", M_CRC32, 0},       {"adler32", M_ADLER32, 0},           {"sha256", M_DIGEST, DIGEST_SHA256},
    {"sha384", M_DIGEST, DIGEST_SHA384}, {"sha512", M_DIGEST, DIGEST_SHA512}, {"hash", M_HASH, 0},
};

// The bytes a value stands for: a binary from its index, a string as UTF-8.
// Valid until the next allocation for a binary (it points into its buffer).
struct ByteView {
    const uint8_t* data;
    size_t length;
    std::string text;  // owns the bytes of a string
};

bool bytes_of(const Cell* v, ByteView* view) {
    if (cell_is(v, T_BINARY)) {
        view->data = binary_head_address(v);
        view->length = binary_length(v);
        return true;
    }
    if (cell_is(v, T_STRING)) {
        view->text = string_to_utf8(v);
        view->data = reinterpret_cast<const uint8_t*>(view->text.data());
        view->length = view->text.size();
        return true;
    }
    return false;
}

}  // namespace

// checksum data method /with spec
void native_checksum(NativeCall& c) {
    Cell* data = c.args;
    Cell* method_word = c.args + 1;
    Cell* key = c.ref_arg(0);
    if (cell_is(data, T_FILE)) {  // the whole file, as bytes; a directory has none
        if (file_path_is_dir(data)) raise_error(err::script::invalid_arg, data);
        Cell* bytes = stack_push();
        file_read(bytes, data, nullptr, nullptr, true, false);
        *data = *bytes;
        stack_pop(1);
    }
    const MethodWord* m = nullptr;
    for (const auto& entry : method_words)
        if (series_is_word(method_word, entry.word)) m = &entry;
    if (!m) raise_error(err::script::invalid_arg, method_word);
    if (!cell_is(data, T_BINARY) && !cell_is(data, T_STRING)) raise_error(err::script::invalid_arg, data);
    if (m->method == M_HASH) {
        if (!key || !cell_is(key, T_INTEGER)) raise_bad_refine("with", key ? key : method_word);
        raise_not_available(c);  // no hash-table method has been chosen: refuse rather than answer 0
    }
    if (key && m->method != M_DIGEST) raise_bad_refine("with", key);
    // Nothing allocates in the heap of values from here until the result is
    // made, so the addresses into binaries stay valid.
    ByteView key_bytes{};
    if (key && !bytes_of(key, &key_bytes)) raise_error(err::script::invalid_arg, key);
    ByteView bytes{};
    bytes_of(data, &bytes);
    switch (m->method) {
        case M_TCP: set_integer(c.result(), checksum_tcp(bytes.data, bytes.length)); return;
        case M_CRC32: set_integer(c.result(), int32_t(checksum_crc32(bytes.data, bytes.length))); return;
        case M_ADLER32: set_integer(c.result(), int32_t(checksum_adler32(bytes.data, bytes.length))); return;
        default: break;
    }
    uint8_t digest[DIGEST_MAX_LENGTH];
    if (key) {
        hmac_bytes(m->digest, key_bytes.data, key_bytes.length, bytes.data, bytes.length, digest);
    } else {
        digest_bytes(m->digest, bytes.data, bytes.length, digest);
    }
    uint32_t n = digest_length(m->digest);
    Cell* out = stack_push();  // the digest is on the machine stack, so making the binary may move anything
    binary_make_cell(out, n);
    SeriesBuffer* b = node_buffer(series_node(out));
    std::memcpy(b->head_ptr(), digest, n);
    b->tail = b->head + n;
    *c.result() = *out;
}

}  // namespace tev

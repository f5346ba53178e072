// The compress and decompress natives: raw DEFLATE, zlib and gzip, through the engines of io/deflate.
//
// The engines write into plain memory that the collector never moves, so they
// read the argument's bytes in place; the result binary is made only at the end.
#include <cstring>
#include <string>
#include "datatypes/binary.h"
#include "datatypes/series.h"
#include "datatypes/string.h"
#include "interpreter/natives.h"
#include "io/deflate.h"
#include "runtime/errors.h"
#include "runtime/memory.h"
#include "runtime/value_stack.h"

namespace tev {
namespace {

CompressMethod method_of(const Cell* word) {
    if (series_is_word(word, "zlib")) return CompressMethod::zlib;
    if (series_is_word(word, "deflate")) return CompressMethod::deflate;
    if (series_is_word(word, "gzip")) return CompressMethod::gzip;
    raise_error(err::script::invalid_arg, word);
}

// A result that would not fit in a binary is an allocation failure like any
// other: catchable, never the end of the process.
void check_status(int status, const Cell* method) {
    if (status == COMPRESS_OK) return;
    if (status == COMPRESS_TOO_LARGE || status == COMPRESS_NO_MEMORY) raise_error(err::internal::no_memory);
    raise_error(err::script::invalid_data, method);
}

void result_from_buffer(NativeCall& c, ByteBuffer& out) {
    Cell* bin = stack_push();
    binary_make_cell(bin, uint32_t(out.size()));
    SeriesBuffer* b = node_buffer(series_node(bin));
    if (out.size()) std::memcpy(b->head_ptr(), out.data(), out.size());
    b->tail = b->head + uint32_t(out.size());
    *c.result() = *bin;
}

}  // namespace

// compress data method
void native_compress(NativeCall& c) {
    Cell* data = c.args;
    CompressMethod method = method_of(c.args + 1);
    ByteBuffer out(MAX_SERIES_BYTES);
    int status;
    if (cell_is(data, T_BINARY)) {
        status = compress_bytes(method, binary_head_address(data), binary_length(data), out);
    } else if (type_is_string(cell_type(data))) {
        std::string text = string_to_utf8(data);
        status = compress_bytes(method, reinterpret_cast<const uint8_t*>(text.data()), text.size(), out);
    } else {
        raise_error(err::script::invalid_arg, data);
    }
    check_status(status, c.args + 1);
    result_from_buffer(c, out);
}

// decompress data method /size sz
void native_decompress(NativeCall& c) {
    Cell* data = c.args;
    CompressMethod method = method_of(c.args + 1);
    if (!cell_is(data, T_BINARY)) raise_error(err::script::invalid_arg, data);
    ByteBuffer out(MAX_SERIES_BYTES);
    // The expected size is only a first capacity: the output grows past it, and
    // gzip's own length field is checked, never used to allocate.
    const Cell* size = c.ref_arg(0);
    if (size && cell_is(size, T_INTEGER) && get_integer(size) > 0 && method != CompressMethod::gzip)
        (void)out.reserve(uint32_t(get_integer(size)));  // a refusal here only means growing later
    int status = decompress_bytes(method, binary_head_address(data), binary_length(data), out);
    check_status(status, c.args + 1);
    result_from_buffer(c, out);
}

}  // namespace tev

// DEFLATE, zlib and gzip: a compact fixed-code compressor, a full decoder, and the two framings.
//
// Nothing here touches the heap of values: results go into a ByteBuffer (plain
// memory that never moves under the collector), whose limit caps what a stream
// may expand to, so a hostile stream can cost at most that much memory.
#pragma once
#include <cstddef>
#include <cstdint>

namespace tev {

// Results of every routine below; the natives turn any other than COMPRESS_OK
// into an error (no-memory for the last two, invalid-data for the rest).
enum CompressStatus : int {
    COMPRESS_OK = 0,
    COMPRESS_BAD_FORMAT = 2,      // header, trailer, checksum, length, or input after the end
    COMPRESS_TRUNCATED = 3,       // the input ends inside the stream
    COMPRESS_BAD_BLOCK_TYPE = 4,  // block type 3
    COMPRESS_BAD_DISTANCE = 5,    // a match reaching before the start of the output
    COMPRESS_BAD_CODES = 6,       // a malformed code set, or a symbol it does not allow
    COMPRESS_TOO_LARGE = 7,       // the result would pass the buffer's limit
    COMPRESS_NO_MEMORY = 8,       // the system refused memory
};

enum class CompressMethod { zlib, deflate, gzip };

// A growable byte buffer in plain memory. Writers may store up to SLACK bytes
// past the capacity (word-sized copies), never counted in the size.
class ByteBuffer {
public:
    static constexpr size_t SLACK = 16;
    explicit ByteBuffer(size_t limit);
    ~ByteBuffer();
    ByteBuffer(const ByteBuffer&) = delete;
    ByteBuffer& operator=(const ByteBuffer&) = delete;

    uint8_t* data() { return data_; }
    size_t size() const { return size_; }
    size_t capacity() const { return capacity_; }
    size_t limit() const { return limit_; }
    void set_size(size_t n) { size_ = n; }
    // Room for `extra` bytes past the size: COMPRESS_OK, or COMPRESS_TOO_LARGE
    // when size + extra passes the limit, or COMPRESS_NO_MEMORY. The data may move.
    int reserve(size_t extra);
    int append(const void* bytes, size_t length);

private:
    uint8_t* data_ = nullptr;
    size_t size_ = 0, capacity_ = 0, limit_;
};

// The raw DEFLATE stream of the input: one block with the fixed code, appended to out.
int deflate_compress(const uint8_t* in, size_t length, ByteBuffer& out);
// Decodes one raw DEFLATE stream from the start of the input, appending to out;
// *consumed receives the bytes the stream took (its last byte included).
int deflate_inflate(const uint8_t* in, size_t length, ByteBuffer& out, size_t* consumed);

// The method's whole framing: compress always wraps the input (even input that
// already looks like such a stream); decompress refuses input left after the
// stream, a wrong checksum, and a gzip length field that disagrees with the output.
int compress_bytes(CompressMethod method, const uint8_t* in, size_t length, ByteBuffer& out);
int decompress_bytes(CompressMethod method, const uint8_t* in, size_t length, ByteBuffer& out);

}  // namespace tev

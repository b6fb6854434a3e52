// The LZHUF decoder: expands one member's stream, pulled from a VolumeReader,
// into the member's target file through a 32000-byte output buffer.
//
// The decoder's state lives in one LzhufDecoder that the caller keeps (it is
// cleared at the start of every member, so one instance serves a whole
// transfer); it allocates nothing. The output buffer and the target file are
// the caller's, handed over in an OutputSink.
//
// Bytes are taken from the reader exactly when a plain 16-bit bit reader of the
// format takes them: before a read of bits, while 8 or fewer bits are left,
// one more byte. The decoder may look ahead into bytes the reader already
// holds in its buffer, which changes nothing; it never makes the reader fetch
// a block, change volumes or ask the user earlier than that rule says.
#pragma once

#include <cstdint>
#include <type_traits>

#include "package/lzhuf_tree.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"

namespace zv {

constexpr uint32_t OUTPUT_BUFFER_SIZE = 32000;

// A stream's last match is copied whole even when it runs past the expanded
// size, so a member can expand to this many bytes more than its size says.
constexpr uint32_t LZHUF_MATCH_OVERRUN = lzhuf::F - 1;

// The bit reader's buffer: a machine word, so that most symbols are decoded
// without taking another byte.
using BitWord = std::conditional_t<sizeof(void*) >= 8, uint64_t, uint32_t>;
constexpr unsigned BIT_WORD_BITS = sizeof(BitWord) * 8;

// Bits taken from the reader and not yet used. The next bit is the top bit of
// `bits`; bits below the `count` valid ones are zero.
struct BitReader {
    BitWord bits = 0;
    unsigned count = 0;
    // Zero bytes taken in place of END_OF_DATA, behind every real byte.
    unsigned phantom = 0;
    bool overrun = false;  // the codes ran on too far past the member's bytes
};

// A well-formed stream's codes end within its bytes; the bit reader may take
// a byte or two past them. A member whose decoding uses more bits than these
// past its last piece is damaged.
constexpr unsigned LZHUF_SPARE_BITS = 16;

// The expanded bytes are written straight on in `history` and handed to the
// sink in blocks; when the end comes near, the last 4096 bytes (the window)
// move back to the start. The slack behind the end lets a match be copied
// eight bytes at a time without a check on every byte.
constexpr uint32_t LZHUF_HISTORY_BLOCK = 32768;
constexpr uint32_t LZHUF_HISTORY_SLACK = lzhuf::F + 8;
constexpr uint32_t LZHUF_HISTORY_SIZE = lzhuf::N + LZHUF_HISTORY_BLOCK + LZHUF_HISTORY_SLACK;

struct LzhufDecoder {
    LzhufTree tree;
    uint8_t history[LZHUF_HISTORY_SIZE];
    BitReader input;
    // Left behind when a member ends, for the curious (tests, tools):
    uint32_t writePos;       // the window position (0..4095) the next byte would take
    uint32_t expandedCount;  // bytes of the expanded size produced (at most the size)
    uint32_t expandedSize;   // from the stream's first 4 bytes
};

// Where a member's expanded bytes go.
struct OutputSink {
    RunContext* run = nullptr;        // os for writing; ui and progressPage for questions
    FileHandle file = kNoFile;        // the open target file
    const char* targetPath = "";      // shown by the write-error question
    uint8_t* buffer = nullptr;        // OUTPUT_BUFFER_SIZE bytes, the caller's
    uint32_t held = 0;                // bytes in the buffer, from its start
};

// Writes the bytes held to the target file. A write error asks
// "%s: write error!" (35) about the target path, a short write "Disk full!"
// (41) after moving the unwritten rest to the front, so that Retry writes only
// the rest. Returns 0 when everything held was written (the buffer is then
// empty), otherwise the answer that ended the retries (ANSWER_CANCEL); the
// buffer then keeps what was not written.
int FlushOutput(OutputSink* sink);

// Appends `count` bytes; each time the buffer becomes full it is flushed at
// once. Returns 0, or the result of the flush that failed: the buffer then
// stays full with what was not written, and every later call fails
// (ANSWER_CANCEL) without taking a byte.
int PutOutputBytes(OutputSink* sink, const uint8_t* bytes, uint32_t count);
inline int PutOutputByte(OutputSink* sink, uint8_t c) {
    if (sink->held < OUTPUT_BUFFER_SIZE - 1) {
        sink->buffer[sink->held++] = c;
        return 0;
    }
    return PutOutputBytes(sink, &c, 1);
}

// Expands the member that BeginMemberRead has started on `reader` into
// `sink` (held 0 at the start): reads the expanded size (4 bytes, little-
// endian), decodes until that many bytes are produced (a last match is
// copied whole) and flushes. Returns 0 when the member was expanded and
// written completely, 2 when it failed: a read failed (the reader has told the
// user), the stream ended within the size, a write was cancelled, or the
// member is damaged (ReportDamagedMember tells the user): it declares more
// bytes than reader->sizeLimit (refused before anything is written), or its
// decoding uses more than LZHUF_SPARE_BITS beyond its pieces (counted in bits
// used, not in bytes read ahead; missing bits up to that read as zeros). A
// member of size 0 writes nothing at all. The coded data is not checked
// otherwise: corrupt data expands to wrong bytes, never to a read or write out
// of bounds, and never to more than its pieces can code.
int DecodeMember(LzhufDecoder* decoder, VolumeReader* reader, OutputSink* sink);

// Expanding a raw stream held in memory (expanded size, then coded data).
enum class StreamStatus : uint8_t {
    Done,        // expanded; *outSize may exceed the size by up to LZHUF_MATCH_OVERRUN
    NoSize,      // fewer than 4 bytes: there is no expanded size
    OutputFull,  // the output did not fit `outCapacity`; *outSize bytes were produced
    Overrun,     // the codes run on more than LZHUF_SPARE_BITS past the stream's end
};
const char* StreamStatusName(StreamStatus status);

// The expanded size at the start of a stream; false when it is shorter than 4
// bytes.
bool LzhufStreamSize(const uint8_t* in, uint32_t inSize, uint32_t* size);

// Expands `in` into `out` with the same decoder as DecodeMember. A capacity of
// the expanded size plus LZHUF_MATCH_OVERRUN always suffices.
StreamStatus DecodeLzhufStream(LzhufDecoder* decoder, const uint8_t* in, uint32_t inSize, uint8_t* out,
                               uint32_t outCapacity, uint32_t* outSize);

}  // namespace zv

// The LZHUF decoder: expands one member's stream, pulled from a VolumeReader,
// into a MemberSink of the caller's.
//
// The decoder's state lives in one LzhufDecoder that the caller keeps (it is
// cleared at the start of every member, so one instance serves a whole
// transfer); it allocates nothing. Where the bytes go, and what is asked when
// they cannot go there, is the sink's business: the decoder neither writes
// files nor tells the user anything. A damaged member is recorded in the
// reader's failure, for the caller to tell.
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

namespace zv {

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

// Where a member's expanded bytes go. The decoder hands them over in blocks
// as it produces them, as soon as Room() bytes are there (a match that ends
// the block is copied whole, so a block may run a few bytes past), so that a
// sink that has to act when it is full (write out its buffer) does so before
// any more of the stream is read: a question it asks comes in the order of
// the bytes, before the disk prompt of a later piece.
class MemberSink {
public:
    virtual ~MemberSink() = default;
    // How many more bytes the sink takes before it acts; at least 1.
    virtual uint32_t Room() const = 0;
    // Takes `count` bytes (at least 1, any number). False when they cannot
    // be taken: the expansion stops there.
    virtual bool Take(const uint8_t* bytes, uint32_t count) = 0;
    // After the last bytes of a member; false when they cannot be made final.
    virtual bool Finish() = 0;
};

// What became of a member's expansion.
enum class DecodeOutcome : uint8_t {
    Done,        // expanded, and the sink took every byte and finished
    NoSize,      // the pieces end before the stream's 4-byte size
    ReadFailed,  // reading the package failed (reader->failure says why)
    Damaged,     // the member is damaged (reader->failure says how)
    SinkFailed,  // the sink refused the bytes or could not finish
};
const char* DecodeOutcomeName(DecodeOutcome outcome);

// Expands the member that BeginMemberRead has started on `reader` into
// `sink`: reads the expanded size (4 bytes, little-endian), decodes until that
// many bytes are produced (a last match is copied whole) and finishes the
// sink. The member is damaged, recorded in reader->failure as SizeOverRecord,
// when it declares more bytes than reader->sizeLimit (refused before a byte
// goes to the sink), or as CodesOverrun when its decoding uses more than
// LZHUF_SPARE_BITS beyond its pieces (counted in bits used, not in bytes read
// ahead; missing bits up to that read as zeros). A member of size 0 gives the sink nothing, not even a
// Finish. The coded data is not checked otherwise: corrupt data expands to
// wrong bytes, never to a read or write out of bounds, and never to more than
// its pieces can code.
DecodeOutcome DecodeMember(LzhufDecoder* decoder, VolumeReader* reader, MemberSink* sink);

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

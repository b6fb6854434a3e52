#include "package/lzhuf_decoder.h"

#include <cstring>

#include "platform/bytes.h"

namespace zv {

using namespace lzhuf;

namespace {

// --- Bit input ---------------------------------------------------------------
//
// The stream's rule for taking bytes: before every read of bits (one bit, or
// eight), while 8 or fewer bits are left, one more byte is taken; a byte that
// is END_OF_DATA counts as 0, READ_FAILED fails the read. So at any point the
// bytes taken are exactly those that a plain 16-bit bit reader would have
// taken, and a failure or a disk prompt comes at the same point of the
// stream.
//
// NeedBits applies that rule. TopUpBits takes more bytes early, but only
// bytes the reader already holds in its buffer: taking those has no effect
// beyond the reader's buffer position, which nothing else looks at until the
// next member starts. The fast paths below read ahead freely and then check
// that the rule would have taken no byte from outside the buffer on the way;
// when it would have, the read is done again bit by bit with NeedBits.

inline BitWord LoadBigEndian(const uint8_t* p) {
    BitWord w;
    std::memcpy(&w, p, sizeof w);
#if defined(__GNUC__)
    if constexpr (sizeof(BitWord) == 8) {
        return static_cast<BitWord>(__builtin_bswap64(static_cast<uint64_t>(w)));
    } else {
        return static_cast<BitWord>(__builtin_bswap32(static_cast<uint32_t>(w)));
    }
#else
    BitWord v = 0;
    for (unsigned k = 0; k < sizeof w; ++k) v = v << 8 | p[k];
    return v;
#endif
}

// Takes as many whole bytes from the reader's buffer as fit below the valid
// bits, leaving at least one bit of room (so every shift stays below the word
// size).
inline void TopUpBits(BitReader* in, VolumeReader* r) {
    if (in->count >= BIT_WORD_BITS - 8) return;
    if (r->bytesLeft >= sizeof(BitWord)) {
        const unsigned take = (BIT_WORD_BITS - 1 - in->count) / 8;
        const unsigned count = in->count + 8 * take;
        in->bits |= LoadBigEndian(r->readPos) >> in->count;
        in->bits &= ~(~BitWord(0) >> count);  // keep the bits below the valid ones zero
        in->count = count;
        r->readPos += take;
        r->bytesLeft -= take;
        return;
    }
    while (r->bytesLeft != 0 && in->count < BIT_WORD_BITS - 8) {
        in->bits |= static_cast<BitWord>(*r->readPos) << (BIT_WORD_BITS - 8 - in->count);
        in->count += 8;
        ++r->readPos;
        --r->bytesLeft;
    }
}

// The byte rule before a read: while 8 or fewer bits are left, take a byte.
// False when the reader failed.
inline bool NeedBits(BitReader* in, VolumeReader* r) {
    while (in->count <= 8) {
        int32_t c = ReadPackageByte(r);
        if (c == READ_FAILED) return false;
        if (c < 0) {
            // END_OF_DATA: missing bits read as zeros, but only a few. A read
            // of bits is coming, and a fourth zero byte is needed only when
            // at least 16 zero bits are used already: the member is damaged.
            if (in->phantom == 3) {
                in->overrun = true;
                return false;
            }
            ++in->phantom;
            c = 0;
        }
        in->bits |= static_cast<BitWord>(c) << (BIT_WORD_BITS - 8 - in->count);
        in->count += 8;
    }
    return true;
}

// The index of the lowest set bit of a word that is not 0.
inline unsigned LowestSetBit(BitWord w) {
#if defined(__GNUC__)
    if constexpr (sizeof(BitWord) == 8) {
        return static_cast<unsigned>(__builtin_ctzll(static_cast<unsigned long long>(w)));
    } else {
        return static_cast<unsigned>(__builtin_ctz(static_cast<unsigned>(w)));
    }
#else
    unsigned at = 0;
    while ((w & 1) == 0) {
        w >>= 1;
        ++at;
    }
    return at;
#endif
}

// The next n bits (1..24) as a number, first bit most significant.
inline unsigned PeekBits(const BitReader& in, unsigned n) {
    return static_cast<unsigned>(in.bits >> (BIT_WORD_BITS - n));
}

inline void DropBits(BitReader* in, unsigned n) {
    in->bits <<= n;
    in->count -= n;
}

// --- Symbols and positions -----------------------------------------------------

constexpr int kFailed = -1;

// Decodes a symbol with the tree, which the caller then counts with
// UpdateTree; kFailed on a failed read. The bit reader is the caller's local
// copy, so that it stays in registers for the whole loop.
inline int DecodeSymbol(const LzhufTree& tree, BitReader* in, VolumeReader* r) {
    const uint16_t* const son = tree.son;
    if (in->count < 32) TopUpBits(in, r);  // codes longer than 24 bits are rare

    // Walk down with the bits at hand. A marker bit just below the valid ones
    // (there is room for it: at most BIT_WORD_BITS - 1 bits are held) counts
    // the bits used without a counter in the loop: it moves up one place per
    // step, and when it has left the word the walk used more bits than there
    // were. The rule would have taken no byte if more than 8 bits were left
    // before each bit read: count - (used - 1) > 8. Indexes are machine words
    // here, which spares a widening on every step.
    const unsigned markerAt = BIT_WORD_BITS - 1 - in->count;
    BitWord bits = in->bits | BitWord(1) << markerAt;
    size_t n = son[R];
    do {
        n = son[n + static_cast<size_t>(bits >> (BIT_WORD_BITS - 1))];
        bits += bits;
    } while (n < T);
    const unsigned used = bits != 0 ? LowestSetBit(bits) - markerAt : BIT_WORD_BITS;
    if (in->count >= used + 8) {
        in->bits = bits & (bits - 1);  // without the marker
        in->count -= used;
    } else {
        n = son[R];
        while (n < T) {
            if (!NeedBits(in, r)) return kFailed;
            n = son[n + PeekBits(*in, 1)];
            DropBits(in, 1);
        }
    }
    return static_cast<int>(n - T);  // the caller counts it (UpdateTree)
}

// Decodes a match position (the distance back minus one, 0..4095): eight
// bits i, then d_len[i] - 2 more; the upper 6 bits are d_code[i], the lower 6
// the last 6 bits read. kFailed on a failed read.
inline int DecodePosition(BitReader* in, VolumeReader* r) {
    // With 22 bits at hand no read of the at most 14 can need a byte.
    if (in->count < 22) TopUpBits(in, r);
    if (in->count >= 22) {
        const unsigned i = PeekBits(*in, 8);
        const unsigned bits = d_len[i] + 6u;
        const unsigned code = PeekBits(*in, bits);
        DropBits(in, bits);
        return static_cast<int>(d_code[i] << 6 | (code & 0x3F));
    }
    if (!NeedBits(in, r)) return kFailed;
    unsigned i = PeekBits(*in, 8);
    DropBits(in, 8);
    const unsigned upper = static_cast<unsigned>(d_code[i]) << 6;
    for (unsigned j = d_len[i] - 2u; j != 0; --j) {
        if (!NeedBits(in, r)) return kFailed;
        i = i << 1 | PeekBits(*in, 1);
        DropBits(in, 1);
    }
    return static_cast<int>(upper | (i & 0x3F));
}

// --- Memory output -----------------------------------------------------------

// Memory straight into the caller's buffer; running out of it is a failure.
class MemorySink : public MemberSink {
public:
    MemorySink(uint8_t* out, uint32_t capacity) : out_(out), capacity_(capacity) {}
    uint32_t size() const { return size_; }
    uint32_t Room() const override {
        const uint32_t room = capacity_ - size_;
        return room < UINT32_MAX ? room + 1 : room;  // one byte too many fails
    }
    bool Take(const uint8_t* bytes, uint32_t count) override {
        const uint32_t room = capacity_ - size_;
        const uint32_t take = count < room ? count : room;
        std::memcpy(out_ + size_, bytes, take);
        size_ += take;
        return take == count;
    }
    bool Finish() override { return true; }

private:
    uint8_t* out_;
    uint32_t capacity_;
    uint32_t size_ = 0;
};

// Bits used past the member's real bytes: all zero bytes taken in place of
// END_OF_DATA stand behind the real ones, so those of them not still held are
// the ones used.
inline bool RanPastItsBytes(const BitReader& in) {
    return in.phantom * 8 > in.count + LZHUF_SPARE_BITS;
}

// Copies a match of `length` bytes from `distance` (1..N) bytes back. Eight
// bytes at a time when the distance allows, which may write up to 7 bytes
// past the match, into the history's slack; each byte of a match that repeats
// itself is read after it has been written, as the format wants.
inline void CopyMatch(uint8_t* to, uint32_t distance, uint32_t length) {
    const uint8_t* from = to - distance;
    if (distance >= 8) {
        for (uint32_t k = 0; k < length; k += 8) std::memcpy(to + k, from + k, 8);
    } else {
        for (uint32_t k = 0; k < length; ++k) to[k] = from[k];
    }
}

DecodeOutcome Expand(LzhufDecoder* d, VolumeReader* r, MemberSink* sink) {
    d->input = BitReader{};
    std::memset(&d->tree, 0, sizeof d->tree);
    d->writePos = WINDOW_START;
    d->expandedCount = 0;
    d->expandedSize = 0;

    uint32_t size = 0;
    for (unsigned k = 0; k < 4; ++k) {
        const int32_t c = ReadPackageByte(r);
        if (c == READ_FAILED) return DecodeOutcome::ReadFailed;
        if (c < 0) return DecodeOutcome::NoSize;
        size |= static_cast<uint32_t>(c) << (8 * k);
    }
    d->expandedSize = size;
    if (size > r->sizeLimit) {  // refused before a byte is written
        RecordReadFailure(r, ReadFailureKind::SizeOverRecord);
        return DecodeOutcome::Damaged;
    }
    if (size == 0) return DecodeOutcome::Done;  // nothing written, nothing flushed

    StartTree(&d->tree);
    uint8_t* const start = d->history + N;
    FillStartHistory(d->history);  // what a match may reach before the first byte
    uint8_t* const end = d->history + N + LZHUF_HISTORY_BLOCK;  // a symbol may start below it

    uint8_t* out = start;         // where the next byte goes
    uint8_t* sent = start;        // bytes below this have gone to the sink
    uint32_t slid = 0;            // bytes produced before `start`, in earlier blocks
    uint32_t left = size;         // bytes still to come; it cannot wrap as a count could
    bool readOk = true;
    bool taken = true;
    BitReader in = d->input;      // in registers while the loop runs; stored back at the end
    LzhufTree* const tree = &d->tree;

    while (left != 0) {
        const uint32_t due = sink->Room();
        uint8_t* const limit = due < static_cast<uint32_t>(end - sent) ? sent + due : end;
        // Symbols are decoded while the block has room and the size is not
        // reached; a match that crosses either is copied whole.
        uint8_t* const roundStart = out;
        uint8_t* const stop = left < static_cast<uint32_t>(limit - out) ? out + left : limit;
        while (out < stop) {
            const int symbol = DecodeSymbol(*tree, &in, r);
            if (symbol < 256) {
                if (symbol == kFailed) {
                    readOk = false;
                    break;
                }
                *out++ = static_cast<uint8_t>(symbol);
            } else {
                const int back = DecodePosition(&in, r);
                if (back == kFailed) {
                    readOk = false;
                    break;
                }
                const uint32_t length = MatchLength(static_cast<unsigned>(symbol));
                CopyMatch(out, static_cast<uint32_t>(back) + 1, length);
                out += length;
            }
            // Counted once its bytes are out, when little else is still needed:
            // the position's bits are not coded with the tree.
            UpdateTree(tree, static_cast<unsigned>(symbol));
        }
        const uint32_t made = static_cast<uint32_t>(out - roundStart);
        left = made < left ? left - made : 0;  // a match is copied whole, even past the size
        if (out != sent) taken = sink->Take(sent, static_cast<uint32_t>(out - sent));
        sent = out;
        if (!readOk || !taken) break;
        if (out >= end) {
            std::memmove(d->history, out - N, N);
            slid += static_cast<uint32_t>(out - start);
            out = sent = start;
        }
    }
    d->input = in;
    const uint32_t produced = slid + static_cast<uint32_t>(out - start);
    d->writePos = (WINDOW_START + produced) & WINDOW_MASK;
    d->expandedCount = size - left;
    if (d->input.overrun || RanPastItsBytes(d->input)) {
        RecordReadFailure(r, ReadFailureKind::CodesOverrun);
        return DecodeOutcome::Damaged;
    }
    if (!readOk) return DecodeOutcome::ReadFailed;
    if (!taken) return DecodeOutcome::SinkFailed;
    return sink->Finish() ? DecodeOutcome::Done : DecodeOutcome::SinkFailed;
}

}  // namespace

const char* DecodeOutcomeName(DecodeOutcome outcome) {
    switch (outcome) {
    case DecodeOutcome::Done: return "expanded";
    case DecodeOutcome::NoSize: return "the data ends before the stream's size";
    case DecodeOutcome::ReadFailed: return "the package cannot be read";
    case DecodeOutcome::Damaged: return "the member is damaged";
    case DecodeOutcome::SinkFailed: return "the expanded bytes cannot be written";
    }
    return "unknown";
}

DecodeOutcome DecodeMember(LzhufDecoder* decoder, VolumeReader* reader, MemberSink* sink) {
    return Expand(decoder, reader, sink);
}

const char* StreamStatusName(StreamStatus status) {
    switch (status) {
    case StreamStatus::Done: return "expanded";
    case StreamStatus::NoSize: return "stream shorter than its 4-byte size";
    case StreamStatus::OutputFull: return "expanded data larger than the room given";
    case StreamStatus::Overrun: return "coded data runs on past the stream's end";
    }
    return "unknown";
}

bool LzhufStreamSize(const uint8_t* in, uint32_t inSize, uint32_t* size) {
    if (inSize < 4) return false;
    *size = LoadU32LE(in);
    return true;
}

StreamStatus DecodeLzhufStream(LzhufDecoder* decoder, const uint8_t* in, uint32_t inSize, uint8_t* out,
                               uint32_t outCapacity, uint32_t* outSize) {
    VolumeReader reader;
    BeginMemoryRead(&reader, in, inSize);
    MemorySink sink(out, outCapacity);
    const DecodeOutcome result = Expand(decoder, &reader, &sink);
    *outSize = sink.size();
    switch (result) {
    case DecodeOutcome::Done: return StreamStatus::Done;
    case DecodeOutcome::NoSize:
    case DecodeOutcome::ReadFailed: return StreamStatus::NoSize;  // a memory read fails only at its end
    case DecodeOutcome::Damaged: return StreamStatus::Overrun;
    case DecodeOutcome::SinkFailed: break;
    }
    return StreamStatus::OutputFull;
}

}  // namespace zv

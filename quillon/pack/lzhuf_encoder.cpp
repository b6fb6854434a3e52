#include "quillon/pack/lzhuf_encoder.h"

#include <algorithm>
#include <cmath>
#include <condition_variable>
#include <cstring>
#include <deque>
#include <mutex>
#include <thread>

#include "platform/bytes.h"

namespace quillon {

using namespace zv::lzhuf;

#if !defined(__BYTE_ORDER__) || __BYTE_ORDER__ != __ORDER_LITTLE_ENDIAN__
#error "the match finder compares 8 bytes at a time as little-endian words"
#endif

// --- Symbol coder ------------------------------------------------------------

namespace {

// Appends `count` bits (at most 32) of `value`, first bit most significant.
// Whole 32-bit words leave for the output as soon as they are complete.
inline void PutBits(LzhufWriter* w, uint64_t value, unsigned count) {
    w->pending = (w->pending << count) | value;
    w->pendingBits += count;
    if (w->pendingBits >= 32) {
        w->pendingBits -= 32;
        const uint32_t word = static_cast<uint32_t>(w->pending >> w->pendingBits);
        std::vector<uint8_t>& out = *w->out;
        if (w->used + 4 > out.size()) out.resize(out.size() * 2 + 64);
        uint8_t* p = out.data() + w->used;
        p[0] = static_cast<uint8_t>(word >> 24);
        p[1] = static_cast<uint8_t>(word >> 16);
        p[2] = static_cast<uint8_t>(word >> 8);
        p[3] = static_cast<uint8_t>(word);
        w->used += 4;
    }
}

// Codes `symbol` with the tree as it stands, then counts it in the tree. The
// code is the path from the root to the symbol's leaf (zv::SymbolCode); the
// tree never lets it grow past MAX_CODE_BITS, which one PutBits call takes.
inline void PutSymbol(LzhufWriter* w, unsigned symbol) {
    uint32_t code;
    unsigned length;
    zv::SymbolCode(w->tree, symbol, &code, &length);
    PutBits(w, code, length);
    zv::UpdateTree(&w->tree, symbol);
}

}  // namespace

void StartLzhufWriter(LzhufWriter* writer, std::vector<uint8_t>* out, uint32_t expandedSize) {
    writer->out = out;
    out->assign(std::max<size_t>(out->capacity(), 256), 0);
    zv::StoreU32LE(out->data(), expandedSize);
    writer->used = 4;
    writer->pending = 0;
    writer->pendingBits = 0;
    zv::StartTree(&writer->tree);
}

void PutLzhufLiteral(LzhufWriter* writer, uint8_t byte) { PutSymbol(writer, byte); }

void PutLzhufMatch(LzhufWriter* writer, unsigned length, unsigned distance) {
    PutSymbol(writer, MatchSymbol(length));
    const unsigned position = distance - 1;
    const unsigned upper = position >> 6;
    PutBits(writer, (PositionCode(upper) << 6) | (position & 0x3F), PositionCodeLength(upper) + 6);
}

void FinishLzhufWriter(LzhufWriter* writer) {
    std::vector<uint8_t>& out = *writer->out;
    out.resize(writer->used + 8);
    while (writer->pendingBits >= 8) {
        writer->pendingBits -= 8;
        out[writer->used++] = static_cast<uint8_t>(writer->pending >> writer->pendingBits);
    }
    if (writer->pendingBits > 0) {
        out[writer->used++] = static_cast<uint8_t>(writer->pending << (8 - writer->pendingBits));
        writer->pendingBits = 0;
    }
    out.resize(writer->used);
}

// --- Match finder ------------------------------------------------------------

namespace {

constexpr unsigned kMaxDistance = N;  // the window reaches 4096 bytes back
constexpr unsigned kHashBits = 13;
constexpr unsigned kPadding = 64;         // readable zero bytes behind the data
constexpr uint32_t kEmpty = 0xFFFFFFFFu;  // an empty chain; always too far back

inline uint64_t Load64(const uint8_t* p) {
    uint64_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

constexpr unsigned kHash3Bits = 13;

inline uint32_t Load32(const uint8_t* p) {
    uint32_t v;
    std::memcpy(&v, p, sizeof v);
    return v;
}

// Hashes of the next 4 and the next 3 bytes.
inline unsigned Hash4(const uint8_t* p) { return (Load32(p) * 2654435761u) >> (32 - kHashBits); }
inline unsigned Hash3(const uint8_t* p) { return ((Load32(p) << 8) * 2246822519u) >> (32 - kHash3Bits); }

// How many of the first `limit` bytes of `a` and `b` are equal. Reads up to 7
// bytes past `limit` on both.
inline unsigned CommonLength(const uint8_t* a, const uint8_t* b, unsigned limit) {
    unsigned n = 0;
    while (n < limit) {
        const uint64_t diff = Load64(a + n) ^ Load64(b + n);
        if (diff != 0) return std::min(limit, n + (static_cast<unsigned>(__builtin_ctzll(diff)) >> 3));
        n += 8;
    }
    return limit;
}

// Hash chains of the positions of the buffer (history and data) by their
// next 4 bytes: prev links each position to the one before it with the same
// hash; a link older than the window is never followed, so a ring of N links
// is enough. Matches of 3 bytes are found through `latest3`, the last
// position of each 3-byte hash: a short match is only worth its price when
// it is near.
struct MatchFinder {
    const uint8_t* buf = nullptr;
    std::vector<uint32_t> head;
    std::vector<uint32_t> prev;
    std::vector<uint32_t> latest3;
    unsigned chainLimit = 0;
};

void StartMatchFinder(MatchFinder* mf, const uint8_t* buf, unsigned chainLimit) {
    mf->buf = buf;
    mf->head.assign(size_t{1} << kHashBits, kEmpty);
    mf->prev.assign(N, kEmpty);
    mf->latest3.assign(size_t{1} << kHash3Bits, kEmpty);
    mf->chainLimit = std::max(chainLimit, 1u);
}

inline void InsertPosition(MatchFinder* mf, uint32_t pos) {
    const uint8_t* const p = mf->buf + pos;
    const unsigned h = Hash4(p);
    mf->prev[pos & (N - 1)] = mf->head[h];
    mf->head[h] = pos;
    mf->latest3[Hash3(p)] = pos;
}

// Hands the matches at `pos` (at least N bytes into the buffer) of up to
// `maxLength` bytes to `found(length, distance)`, in order of growing length,
// each the nearest one found of its length. Inserts `pos` afterwards.
template <class Found>
inline void FindMatches(MatchFinder* mf, uint32_t pos, unsigned maxLength, Found&& found) {
    const uint8_t* const cur = mf->buf + pos;
    const uint32_t head4 = Load32(cur);
    unsigned best = MIN_MATCH - 1;

    const unsigned h3 = Hash3(cur);
    const uint32_t near = mf->latest3[h3];
    if (pos - near <= kMaxDistance && (Load32(mf->buf + near) ^ head4) << 8 == 0) {
        best = CommonLength(mf->buf + near, cur, maxLength);
        found(best, pos - near);
    }

    const unsigned h = Hash4(cur);
    const uint32_t first = mf->head[h];
    uint32_t cand = first;
    for (unsigned steps = mf->chainLimit; steps != 0 && best < maxLength; --steps) {
        const uint32_t distance = pos - cand;
        if (distance > kMaxDistance) break;  // also ends an empty chain
        const uint8_t* const m = mf->buf + cand;
        if (m[best] == cur[best] && Load32(m) == head4) {
            const unsigned length = CommonLength(m, cur, maxLength);
            if (length > best) {
                best = length;
                found(length, distance);
            }
        }
        cand = mf->prev[cand & (N - 1)];
    }
    mf->prev[pos & (N - 1)] = first;
    mf->head[h] = pos;
    mf->latest3[h3] = pos;
}

// --- Prices ------------------------------------------------------------------

// Prices are in sixteenths of a bit.
constexpr unsigned kPriceScale = 16;

// The leaf frequencies of the decoder's tree, followed without the tree: each
// symbol counts one more, and when the root (their sum) has reached MAX_FREQ
// every one is halved first, as the tree's rebuild does. A symbol's code is
// then about log2(total / freq) bits long.
struct SymbolStats {
    uint16_t freq[N_CHAR];
    uint32_t total;
};

void StartStats(SymbolStats* s) {
    for (uint16_t& f : s->freq) f = 1;
    s->total = N_CHAR;
}

inline void CountSymbol(SymbolStats* s, unsigned symbol) {
    if (s->total == MAX_FREQ) {
        s->total = 0;
        for (uint16_t& f : s->freq) {
            f = static_cast<uint16_t>((f + 1) / 2);
            s->total += f;
        }
    }
    ++s->freq[symbol];
    ++s->total;
}

// --- Parse -------------------------------------------------------------------

// A parsed symbol: a literal byte (0..255), or a match as length << 16 |
// distance.
using Op = uint32_t;
inline Op LiteralOp(uint8_t byte) { return byte; }
inline Op MatchOp(unsigned length, unsigned distance) { return length << 16 | distance; }

// Where the parse's symbols go: filled op by op, handed on when full.
struct OpSink {
    std::vector<Op> ops;  // kOpChunk long; the first `used` are filled
    size_t used = 0;
    void* context = nullptr;
    void (*flush)(OpSink* sink) = nullptr;  // takes the ops and sets `used` to 0
};

constexpr size_t kOpChunk = 1024;
constexpr uint32_t kPriceBlock = 4096;  // positions priced with one set of prices
constexpr uint32_t kPriceLookBack = 2;

struct Parser {
    const uint8_t* buf = nullptr;
    uint32_t end = 0;  // end of the data in buf
    LzhufEncoderOptions options;
    MatchFinder finder;
    SymbolStats stats;
    uint16_t symbolPrice[N_CHAR] = {};
    uint16_t positionPrice[64] = {};
    // Prices of literals summed from literalBase on, to price the bytes a
    // match covers: literalSum[k] is the price of the k bytes from the base.
    std::vector<uint32_t> literalSum;
    uint32_t literalBase = 0;
    uint32_t pricedUntil = 0;  // prices are taken anew from here on
    uint32_t nextInsert = 0;   // the first position not yet in the finder
    uint32_t reported = 0;     // the position up to which progress was told
    OpSink* sink = nullptr;
};

void ReportProgress(Parser* p, uint32_t pos) {
    if (p->options.progress != nullptr && pos > p->reported) {
        p->options.progress->fetch_add(pos - p->reported, std::memory_order_relaxed);
    }
    p->reported = pos;
}

// 16 * log2(x) for x >= 1, rounded, from the position of the leading one bit
// and the 6 bits below it: within a quarter of a sixteenth of a bit.
struct Log2Table {
    uint16_t fraction[64];
    Log2Table() {
        for (unsigned m = 0; m < 64; ++m) {
            fraction[m] = static_cast<uint16_t>(kPriceScale * std::log2(1.0 + m / 64.0) + 0.5);
        }
    }
};

inline unsigned ScaledLog2(uint32_t x) {
    static const Log2Table table;
    const unsigned top = 31 - static_cast<unsigned>(__builtin_clz(x));
    const unsigned below = top >= 6 ? (x >> (top - 6)) & 63 : (x << (6 - top)) & 63;
    return kPriceScale * top + table.fraction[below];
}

void RefreshPrices(Parser* p, uint32_t pos) {
    const unsigned total = ScaledLog2(p->stats.total);
    for (unsigned c = 0; c < N_CHAR; ++c) {
        p->symbolPrice[c] = static_cast<uint16_t>(total - ScaledLog2(p->stats.freq[c]));
    }
    // The lazy parse looks back up to two bytes from a position it prices.
    const uint32_t from = pos - kPriceLookBack;
    const uint32_t until = std::min(p->end, pos + kPriceBlock + F);
    p->literalBase = from;
    p->literalSum.resize(until - from + 1);
    uint32_t sum = 0;
    p->literalSum[0] = 0;
    for (uint32_t q = from; q < until; ++q) {
        sum += p->symbolPrice[p->buf[q]];
        p->literalSum[q - from + 1] = sum;
    }
    p->pricedUntil = pos + kPriceBlock;
    ReportProgress(p, pos);
}

inline void Emit(Parser* p, Op op, unsigned symbol) {
    CountSymbol(&p->stats, symbol);
    OpSink* const sink = p->sink;
    sink->ops[sink->used++] = op;
    if (sink->used == kOpChunk) sink->flush(sink);
}

inline void EmitLiteral(Parser* p, uint32_t pos) { Emit(p, LiteralOp(p->buf[pos]), p->buf[pos]); }

inline void EmitMatch(Parser* p, unsigned length, unsigned distance) {
    Emit(p, MatchOp(length, distance), MatchSymbol(length));
}

// The most worthwhile match at a position: the one that saves the most
// against coding its bytes as literals. gain <= 0: none.
struct Choice {
    uint32_t length;
    uint32_t distance;
    int32_t gain;
};

inline int32_t MatchPrice(const Parser* p, unsigned length, unsigned distance) {
    return p->symbolPrice[MatchSymbol(length)] + p->positionPrice[(distance - 1) >> 6];
}

inline int32_t LiteralPrice(const Parser* p, uint32_t pos, unsigned length) {
    const uint32_t k = pos - p->literalBase;
    return static_cast<int32_t>(p->literalSum[k + length] - p->literalSum[k]);
}

// Searches `pos` (which must be the next position to insert) and inserts it.
Choice BestMatch(Parser* p, uint32_t pos) {
    Choice best{0, 0, 0};
    if (pos >= p->pricedUntil) RefreshPrices(p, pos);
    const unsigned maxLength = std::min<uint32_t>(F, p->end - pos);
    p->nextInsert = pos + 1;
    if (maxLength < MIN_MATCH) return best;
    FindMatches(&p->finder, pos, maxLength, [p, pos, &best](unsigned length, unsigned distance) {
        const int32_t gain = LiteralPrice(p, pos, length) - MatchPrice(p, length, distance);
        if (gain > best.gain) best = Choice{length, distance, gain};
    });
    return best;
}

// The price of coding `length` bytes at `pos` that a match at `distance`
// covers: as a match when it is long enough, else as literals.
inline int32_t RestPrice(const Parser* p, uint32_t pos, unsigned length, unsigned distance) {
    if (length >= MIN_MATCH) return MatchPrice(p, length, distance);
    return LiteralPrice(p, pos, length);
}

// Whether coding `skip` literals at `pos` and then `next` is cheaper than
// coding `cur` at `pos`. The two are compared over the same bytes: the one
// that ends first is continued with the rest of the other's match.
inline bool Defer(const Parser* p, uint32_t pos, const Choice& cur, const Choice& next, unsigned skip) {
    const uint32_t endCur = pos + cur.length;
    const uint32_t endNext = pos + skip + next.length;
    int32_t priceCur = MatchPrice(p, cur.length, cur.distance);
    int32_t priceNext = LiteralPrice(p, pos, skip) + MatchPrice(p, next.length, next.distance);
    if (endNext > endCur) {
        priceCur += RestPrice(p, endCur, endNext - endCur, next.distance);
    } else if (endCur > endNext) {
        priceNext += RestPrice(p, endNext, endCur - endNext, cur.distance);
    }
    return priceNext < priceCur;
}

// A match this short is also weighed against one two bytes on: a short match
// often hides a long one that starts inside it.
constexpr unsigned kLookTwoBelow = 4;

// Lazy parse: a match is put off while one that starts a byte (or, after a
// short match, two bytes) later codes the same bytes cheaper.
void ParseLazy(Parser* p, uint32_t start) {
    uint32_t pos = start;
    Choice cur = BestMatch(p, pos);
    while (pos < p->end) {
        if (cur.gain <= 0) {
            EmitLiteral(p, pos);
            ++pos;
        } else {
            if (cur.length < p->options.niceLength && pos + 1 < p->end) {
                const Choice next = BestMatch(p, pos + 1);
                if (next.gain > 0 && Defer(p, pos, cur, next, 1)) {
                    EmitLiteral(p, pos);
                    ++pos;
                    cur = next;
                    continue;
                }
                if (cur.length <= kLookTwoBelow && pos + 2 < p->end) {
                    const Choice next2 = BestMatch(p, pos + 2);
                    if (next2.gain > 0 && Defer(p, pos, cur, next2, 2)) {
                        EmitLiteral(p, pos);
                        EmitLiteral(p, pos + 1);
                        pos += 2;
                        cur = next2;
                        continue;
                    }
                }
            }
            EmitMatch(p, cur.length, cur.distance);
            pos += cur.length;
            for (uint32_t q = p->nextInsert; q < pos; ++q) InsertPosition(&p->finder, q);
            p->nextInsert = pos;
        }
        if (pos >= p->end) break;
        cur = BestMatch(p, pos);
    }
}

// --- Coding the parsed symbols ------------------------------------------------

void CodeOps(LzhufWriter* w, const Op* ops, size_t count) {
    for (size_t i = 0; i < count; ++i) {
        const Op op = ops[i];
        if (op >> 16 == 0) {
            PutSymbol(w, op);
        } else {
            PutLzhufMatch(w, op >> 16, op & 0xFFFF);
        }
    }
}

// One thread: the symbols are coded as each chunk fills.
struct DirectCoder {
    LzhufWriter* writer;
};

void FlushDirect(OpSink* sink) {
    CodeOps(static_cast<DirectCoder*>(sink->context)->writer, sink->ops.data(), sink->used);
    sink->used = 0;
}

// Two threads: the parse hands full chunks to a coding thread through a short
// queue, and gets emptied chunks back for reuse.
struct Pipeline {
    std::mutex lock;
    std::condition_variable changed;
    std::deque<std::vector<Op>> full;
    std::vector<std::vector<Op>> spare;
    bool finished = false;
    LzhufWriter* writer = nullptr;
};

constexpr size_t kPipelineDepth = 4;
constexpr size_t kThreadedMinimum = 16384;

void FlushToPipeline(OpSink* sink) {
    Pipeline* pipe = static_cast<Pipeline*>(sink->context);
    std::unique_lock<std::mutex> hold(pipe->lock);
    pipe->changed.wait(hold, [pipe] { return pipe->full.size() < kPipelineDepth; });
    sink->ops.resize(sink->used);
    pipe->full.push_back(std::move(sink->ops));
    if (!pipe->spare.empty()) {
        sink->ops = std::move(pipe->spare.back());
        pipe->spare.pop_back();
    } else {
        sink->ops = std::vector<Op>();
    }
    sink->ops.resize(kOpChunk);
    sink->used = 0;
    pipe->changed.notify_all();
}

void RunCoder(Pipeline* pipe) {
    for (;;) {
        std::vector<Op> chunk;
        {
            std::unique_lock<std::mutex> hold(pipe->lock);
            pipe->changed.wait(hold, [pipe] { return !pipe->full.empty() || pipe->finished; });
            if (pipe->full.empty()) return;
            chunk = std::move(pipe->full.front());
            pipe->full.pop_front();
            pipe->changed.notify_all();
        }
        CodeOps(pipe->writer, chunk.data(), chunk.size());
        chunk.clear();
        std::lock_guard<std::mutex> hold(pipe->lock);
        pipe->spare.push_back(std::move(chunk));
    }
}

}  // namespace

bool EncodeLzhuf(const uint8_t* data, size_t size, std::vector<uint8_t>* stream,
                 const LzhufEncoderOptions& options) {
    stream->clear();
    if (size > UINT32_MAX - LZHUF_HISTORY - kPadding) return false;
    stream->reserve(size / 2 + 64);
    LzhufWriter writer;
    StartLzhufWriter(&writer, stream, static_cast<uint32_t>(size));
    if (size == 0) {
        FinishLzhufWriter(&writer);
        return true;
    }

    std::vector<uint8_t> buffer(LZHUF_HISTORY + size + kPadding, 0);
    zv::lzhuf::FillStartHistory(buffer.data());
    std::memcpy(buffer.data() + LZHUF_HISTORY, data, size);

    Parser parser;
    parser.buf = buffer.data();
    parser.end = static_cast<uint32_t>(LZHUF_HISTORY + size);
    parser.options = options;
    parser.options.niceLength = std::max(parser.options.niceLength, MIN_MATCH);
    for (unsigned upper = 0; upper < 64; ++upper) {
        parser.positionPrice[upper] = static_cast<uint16_t>(kPriceScale * (PositionCodeLength(upper) + 6));
    }
    StartStats(&parser.stats);
    StartMatchFinder(&parser.finder, parser.buf, options.chainLimit);
    for (uint32_t pos = 0; pos < LZHUF_HISTORY; ++pos) InsertPosition(&parser.finder, pos);

    OpSink sink;
    sink.ops.resize(kOpChunk);
    parser.sink = &sink;

    // A second thread pays only when there is enough to code.
    bool threaded = options.threads == 2 && size >= kThreadedMinimum;
    Pipeline pipe;
    std::thread coder;
    if (threaded) {
        pipe.writer = &writer;
        sink.context = &pipe;
        sink.flush = FlushToPipeline;
        try {
            coder = std::thread(RunCoder, &pipe);
        } catch (const std::exception&) {
            threaded = false;
        }
    }
    DirectCoder direct{&writer};
    if (!threaded) {
        sink.context = &direct;
        sink.flush = FlushDirect;
    }

    parser.reported = LZHUF_HISTORY;
    ParseLazy(&parser, LZHUF_HISTORY);
    ReportProgress(&parser, parser.end);
    sink.flush(&sink);
    if (threaded) {
        {
            std::lock_guard<std::mutex> hold(pipe.lock);
            pipe.finished = true;
        }
        pipe.changed.notify_all();
        coder.join();
    }
    FinishLzhufWriter(&writer);
    return true;
}

}  // namespace quillon

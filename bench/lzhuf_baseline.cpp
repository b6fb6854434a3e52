#include "bench/lzhuf_baseline.h"

#include <cstring>

#include "quillon/pack/lzhuf_encoder.h"

namespace zvbench {

using namespace zv::lzhuf;

namespace {

// The history and the data in one buffer, with zero bytes behind the data so
// that every string can be read as F bytes.
std::vector<uint8_t> WindowBuffer(const uint8_t* data, size_t size) {
    std::vector<uint8_t> buf(quillon::LZHUF_HISTORY + size + F + 8, 0);
    zv::lzhuf::FillStartHistory(buf.data());
    if (size != 0) std::memcpy(buf.data() + quillon::LZHUF_HISTORY, data, size);
    return buf;
}

// --- Binary search trees of the window's strings -----------------------------

constexpr unsigned kNil = N;             // no node; also a scratch slot
constexpr unsigned kRoot = N + 1;        // parent of a tree's top node: kRoot + first byte
constexpr unsigned kWindow = N - F;      // strings kept: the last 4036 positions

struct StringTrees {
    const uint8_t* buf;
    uint32_t pos;  // the position being inserted
    // Nodes are window slots (position & (N - 1)).
    unsigned left[N + 1], right[N + 1], parent[N + 1];
    unsigned top[256];
    unsigned matchLength;
    unsigned matchSlot;
};

void StartTrees(StringTrees* t, const uint8_t* buf) {
    t->buf = buf;
    for (unsigned& s : t->parent) s = kNil;
    for (unsigned& s : t->top) s = kNil;
}

uint32_t PositionOf(const StringTrees& t, unsigned slot) {
    return t.pos - ((t.pos - slot) & (N - 1));
}

unsigned* LinkTo(StringTrees* t, unsigned slot) {
    const unsigned up = t->parent[slot];
    if (up >= kRoot) return &t->top[up - kRoot];
    return t->right[up] == slot ? &t->right[up] : &t->left[up];
}

// Inserts the string at `pos` and records the longest match met on the way.
void InsertString(StringTrees* t, uint32_t pos) {
    t->pos = pos;
    const unsigned slot = pos & (N - 1);
    const uint8_t* key = t->buf + pos;
    t->left[slot] = t->right[slot] = kNil;
    t->matchLength = 0;
    unsigned* link = &t->top[key[0]];
    unsigned up = kRoot + key[0];
    while (*link != kNil) {
        const unsigned node = *link;
        const uint8_t* other = t->buf + PositionOf(*t, node);
        unsigned i = 1;
        while (i < F && key[i] == other[i]) ++i;
        if (i > t->matchLength) {
            t->matchLength = i;
            t->matchSlot = node;
            if (i >= F) {
                // The same string: the new position takes the old one's place.
                t->parent[slot] = t->parent[node];
                t->left[slot] = t->left[node];
                t->right[slot] = t->right[node];
                if (t->left[node] != kNil) t->parent[t->left[node]] = slot;
                if (t->right[node] != kNil) t->parent[t->right[node]] = slot;
                *link = slot;
                t->parent[node] = kNil;
                return;
            }
        }
        up = node;
        link = key[i] >= other[i] ? &t->right[node] : &t->left[node];
    }
    *link = slot;
    t->parent[slot] = up;
}

void DeleteString(StringTrees* t, uint32_t pos) {
    const unsigned p = pos & (N - 1);
    if (t->parent[p] == kNil) return;
    unsigned q;
    if (t->right[p] == kNil) {
        q = t->left[p];
    } else if (t->left[p] == kNil) {
        q = t->right[p];
    } else {
        // The largest string below the left subtree takes p's place.
        q = t->left[p];
        if (t->right[q] != kNil) {
            while (t->right[q] != kNil) q = t->right[q];
            t->right[t->parent[q]] = t->left[q];
            if (t->left[q] != kNil) t->parent[t->left[q]] = t->parent[q];
            t->left[q] = t->left[p];
            t->parent[t->left[p]] = q;
        }
        t->right[q] = t->right[p];
        t->parent[t->right[p]] = q;
    }
    *LinkTo(t, p) = q;
    if (q != kNil) t->parent[q] = t->parent[p];
    t->parent[p] = kNil;
}

constexpr unsigned kHashBits = 12;
constexpr uint32_t kEmpty = 0xFFFFFFFFu;

unsigned Hash3(const uint8_t* p) {
    return ((static_cast<unsigned>(p[0]) << 8 ^ static_cast<unsigned>(p[1]) << 4 ^ p[2]) * 40503u >> 4) &
           ((1u << kHashBits) - 1);
}

}  // namespace

void EncodeLzhufBinaryTree(const uint8_t* data, size_t size, std::vector<uint8_t>* stream) {
    quillon::LzhufWriter writer;
    quillon::StartLzhufWriter(&writer, stream, static_cast<uint32_t>(size));
    const std::vector<uint8_t> buf = WindowBuffer(data, size);
    StringTrees* trees = new StringTrees;
    StartTrees(trees, buf.data());
    const uint32_t start = quillon::LZHUF_HISTORY;
    const uint32_t end = static_cast<uint32_t>(start + size);
    if (size != 0) {
        for (uint32_t k = F; k >= 1; --k) InsertString(trees, start - k);
        InsertString(trees, start);
    }
    uint32_t pos = start;
    while (pos < end) {
        unsigned length = trees->matchLength;
        if (length > end - pos) length = end - pos;
        if (length < MIN_MATCH) {
            quillon::PutLzhufLiteral(&writer, buf[pos]);
            length = 1;
        } else {
            quillon::PutLzhufMatch(&writer, length, (pos - trees->matchSlot) & (N - 1));
        }
        for (unsigned k = 0; k < length; ++k) {
            ++pos;
            if (pos >= end) break;
            DeleteString(trees, pos - kWindow);
            InsertString(trees, pos);
        }
    }
    delete trees;
    quillon::FinishLzhufWriter(&writer);
}

void EncodeLzhufGreedyNearest(const uint8_t* data, size_t size, std::vector<uint8_t>* stream) {
    quillon::LzhufWriter writer;
    quillon::StartLzhufWriter(&writer, stream, static_cast<uint32_t>(size));
    const std::vector<uint8_t> buf = WindowBuffer(data, size);
    std::vector<uint32_t> head(1u << kHashBits, kEmpty);
    std::vector<uint32_t> prev(N, kEmpty);
    auto insert = [&](uint32_t pos) {
        const unsigned h = Hash3(&buf[pos]);
        prev[pos & (N - 1)] = head[h];
        head[h] = pos;
    };
    for (uint32_t pos = 0; pos < quillon::LZHUF_HISTORY; ++pos) insert(pos);

    const uint32_t end = static_cast<uint32_t>(quillon::LZHUF_HISTORY + size);
    uint32_t pos = quillon::LZHUF_HISTORY;
    while (pos < end) {
        const unsigned maxLength = end - pos < F ? end - pos : F;
        unsigned bestLength = 0;
        unsigned bestDistance = 0;
        if (maxLength >= MIN_MATCH) {
            // Every candidate in the window: the chain is walked to its end.
            for (uint32_t cand = head[Hash3(&buf[pos])]; pos - cand <= N; cand = prev[cand & (N - 1)]) {
                unsigned length = 0;
                while (length < maxLength && buf[cand + length] == buf[pos + length]) ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestDistance = pos - cand;
                    if (length == maxLength) break;
                }
                if (cand == 0) break;
            }
        }
        if (bestLength >= MIN_MATCH) {
            quillon::PutLzhufMatch(&writer, bestLength, bestDistance);
        } else {
            quillon::PutLzhufLiteral(&writer, buf[pos]);
            bestLength = 1;
        }
        for (uint32_t k = 0; k < bestLength; ++k) insert(pos + k);
        pos += bestLength;
    }
    quillon::FinishLzhufWriter(&writer);
}

}  // namespace zvbench

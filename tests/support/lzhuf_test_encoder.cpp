#include "tests/support/lzhuf_test_encoder.h"

#include <algorithm>

namespace zvtest {

using namespace zv::lzhuf;

LzhufStreamWriter::LzhufStreamWriter() { zv::StartTree(&tree_); }

void LzhufStreamWriter::Bits(uint32_t value, unsigned count) {
    for (unsigned k = count; k-- > 0;) {
        pending_ = pending_ << 1 | ((value >> k) & 1);
        if (++pendingCount_ == 8) {
            bytes_.push_back(static_cast<uint8_t>(pending_));
            pending_ = 0;
            pendingCount_ = 0;
        }
    }
}

void LzhufStreamWriter::Symbol(unsigned symbol) {
    uint32_t code;
    unsigned length;
    zv::SymbolCode(tree_, symbol, &code, &length);
    Bits(code, length);
    zv::UpdateTree(&tree_, symbol);
}

void LzhufStreamWriter::Literal(uint8_t c) { Symbol(c); }

void LzhufStreamWriter::Match(unsigned length, unsigned position) {
    Symbol(MatchSymbol(length));
    const unsigned upper = position >> 6;
    Bits(zv::lzhuf::PositionCode(upper), zv::lzhuf::PositionCodeLength(upper));
    Bits(position & 0x3F, 6);
}

std::vector<uint8_t> LzhufStreamWriter::Finish(uint32_t expandedSize) {
    std::vector<uint8_t> stream(4 + bytes_.size() + (pendingCount_ != 0 ? 1 : 0));
    for (unsigned k = 0; k < 4; ++k) stream[k] = static_cast<uint8_t>(expandedSize >> (8 * k));
    std::copy(bytes_.begin(), bytes_.end(), stream.begin() + 4);
    if (pendingCount_ != 0) stream.back() = static_cast<uint8_t>(pending_ << (8 - pendingCount_));
    return stream;
}

std::vector<uint8_t> EncodeLzhufForTest(const std::vector<uint8_t>& data, bool literalsOnly) {
    LzhufStreamWriter writer;
    const size_t size = data.size();
    constexpr unsigned kHashBits = 14;
    constexpr unsigned kChain = 24;
    std::vector<int64_t> head(1u << kHashBits, -1);
    std::vector<int64_t> prev(size, -1);
    auto hash = [&](size_t i) {
        const uint32_t v = data[i] | data[i + 1] << 8 | data[i + 2] << 16;
        return (v * 2654435761u) >> (32 - kHashBits);
    };
    auto insert = [&](size_t i) {
        if (i + 2 >= size) return;
        const uint32_t h = hash(i);
        prev[i] = head[h];
        head[h] = static_cast<int64_t>(i);
    };

    size_t i = 0;
    while (i < size) {
        size_t bestLength = 0;
        size_t bestFrom = 0;
        if (!literalsOnly && i + MIN_MATCH <= size) {
            const size_t limit = std::min<size_t>(F, size - i);
            int64_t candidate = head[hash(i)];
            for (unsigned tries = 0; candidate >= 0 && tries < kChain; ++tries) {
                const size_t from = static_cast<size_t>(candidate);
                if (i - from > N) break;
                size_t length = 0;
                while (length < limit && data[from + length] == data[i + length]) ++length;
                if (length > bestLength) {
                    bestLength = length;
                    bestFrom = from;
                    if (length == limit) break;
                }
                candidate = prev[from];
            }
        }
        if (bestLength >= MIN_MATCH) {
            writer.Match(static_cast<unsigned>(bestLength), static_cast<unsigned>(i - bestFrom - 1));
            for (size_t k = 0; k < bestLength; ++k) insert(i + k);
            i += bestLength;
        } else {
            writer.Literal(data[i]);
            insert(i);
            ++i;
        }
    }
    return writer.Finish(static_cast<uint32_t>(size));
}

}  // namespace zvtest

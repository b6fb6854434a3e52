#include "tests/support/lzhuf_reference.h"

#include <cstring>
#include <memory>

namespace zvtest {

namespace {

constexpr int kN = 4096, kF = 60, kChars = 314, kNodes = 627, kRoot = 626;

struct Reference {
    std::function<int()> next;
    uint32_t taken = 0;
    uint16_t buf = 0;
    uint8_t len = 0;
    uint16_t freq[kNodes + 1];
    uint16_t son[kNodes];
    uint16_t prnt[kNodes + kChars];

    int Byte() {
        ++taken;
        return next();
    }
    // -1 on a failed read.
    int Bit() {
        while (len <= 8) {
            int c = Byte();
            if (c == -2) return -1;
            if (c < 0) c = 0;
            buf = static_cast<uint16_t>(buf | (c << (8 - len)));
            len = static_cast<uint8_t>(len + 8);
        }
        int bit = buf >> 15;
        buf = static_cast<uint16_t>(buf << 1);
        --len;
        return bit;
    }
    int Eight() {
        while (len <= 8) {
            int c = Byte();
            if (c == -2) return -1;
            if (c < 0) c = 0;
            buf = static_cast<uint16_t>(buf | (c << (8 - len)));
            len = static_cast<uint8_t>(len + 8);
        }
        int v = buf >> 8;
        buf = static_cast<uint16_t>(buf << 8);
        len = static_cast<uint8_t>(len - 8);
        return v;
    }

    void Start() {
        for (int c = 0; c < kChars; ++c) {
            freq[c] = 1;
            son[c] = static_cast<uint16_t>(c + kNodes);
            prnt[c + kNodes] = static_cast<uint16_t>(c);
        }
        for (int i = 0, j = kChars; j <= kRoot; ++j, i += 2) {
            freq[j] = static_cast<uint16_t>(freq[i] + freq[i + 1]);
            son[j] = static_cast<uint16_t>(i);
            prnt[i] = prnt[i + 1] = static_cast<uint16_t>(j);
        }
        freq[kNodes] = 0xFFFF;
        prnt[kRoot] = 0;
    }
    void Rebuild() {
        int j = 0;
        for (int i = 0; i < kNodes; ++i) {
            if (son[i] >= kNodes) {
                freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
                son[j] = son[i];
                ++j;
            }
        }
        for (int i = 0, k; j < kNodes; i += 2, ++j) {
            uint16_t f = static_cast<uint16_t>(freq[i] + freq[i + 1]);
            for (k = j - 1; freq[k] > f; --k) {
            }
            ++k;
            for (int m = j; m > k; --m) {
                freq[m] = freq[m - 1];
                son[m] = son[m - 1];
            }
            freq[k] = f;
            son[k] = static_cast<uint16_t>(i);
        }
        for (int i = 0; i < kNodes; ++i) {
            int k = son[i];
            prnt[k] = static_cast<uint16_t>(i);
            if (k < kNodes) prnt[k + 1] = static_cast<uint16_t>(i);
        }
    }
    void Update(int c) {
        if (freq[kRoot] == 0x8000) Rebuild();
        int n = prnt[c + kNodes];
        do {
            unsigned k = ++freq[n];
            if (k > freq[n + 1]) {
                int l = n + 1;
                while (k > freq[l + 1]) ++l;
                freq[n] = freq[l];
                freq[l] = static_cast<uint16_t>(k);
                int a = son[n];
                prnt[a] = static_cast<uint16_t>(l);
                if (a < kNodes) prnt[a + 1] = static_cast<uint16_t>(l);
                int b = son[l];
                son[l] = static_cast<uint16_t>(a);
                prnt[b] = static_cast<uint16_t>(n);
                if (b < kNodes) prnt[b + 1] = static_cast<uint16_t>(n);
                son[n] = static_cast<uint16_t>(b);
                n = l;
            }
            n = prnt[n];
        } while (n != 0);
    }
    int Symbol() {
        int n = son[kRoot];
        while (n < kNodes) {
            int b = Bit();
            if (b < 0) return -1;
            n = son[n + b];
        }
        Update(n - kNodes);
        return n - kNodes;
    }
    int Position() {
        // The prefix code by its groups: (first index, upper values, bits).
        static const int groups[6][3] = {{0x00, 1, 3}, {0x20, 3, 4}, {0x50, 8, 5},
                                         {0x90, 12, 6}, {0xC0, 24, 7}, {0xF0, 16, 8}};
        int i = Eight();
        if (i < 0) return -1;
        int upper = 0, bits = 0;
        for (int g = 5, first = 63; g >= 0; --g) {
            first -= groups[g][1];
            if (i >= groups[g][0]) {
                int span = 1 << (8 - groups[g][2]);
                upper = first + 1 + (i - groups[g][0]) / span;
                bits = groups[g][2];
                break;
            }
        }
        for (int j = bits - 2; j > 0; --j) {
            int b = Bit();
            if (b < 0) return -1;
            i = (i << 1) + b;
        }
        return upper * 64 + (i & 0x3F);
    }
};

}  // namespace

ReferenceResult ReferenceDecode(const std::function<int()>& next) {
    auto ref = std::make_unique<Reference>();
    ref->next = next;
    ReferenceResult result;
    uint32_t size = 0;
    for (int k = 0; k < 4; ++k) {
        int c = ref->Byte();
        if (c < 0) {
            result.bytesTaken = ref->taken;
            return result;
        }
        size |= static_cast<uint32_t>(c) << (8 * k);
    }
    std::vector<uint8_t> window(kN + kF - 1, 0);
    ref->Start();
    std::memset(window.data(), ' ', kN - kF);
    unsigned r = kN - kF;
    uint32_t count = 0;
    result.ok = true;
    while (count < size) {
        int c = ref->Symbol();
        if (c < 0) {
            result.ok = false;
            break;
        }
        if (c < 256) {
            result.bytes.push_back(static_cast<uint8_t>(c));
            window[r] = static_cast<uint8_t>(c);
            r = (r + 1) & (kN - 1);
            ++count;
        } else {
            int p = ref->Position();
            if (p < 0) {
                result.ok = false;
                break;
            }
            unsigned from = (r - p - 1) & (kN - 1);
            int length = c - 255 + 2;
            for (int k = 0; k < length; ++k) {
                uint8_t b = window[(from + k) & (kN - 1)];
                result.bytes.push_back(b);
                window[r] = b;
                r = (r + 1) & (kN - 1);
                ++count;
            }
        }
    }
    result.bytesTaken = ref->taken;
    return result;
}

ReferenceResult ReferenceDecode(const std::vector<uint8_t>& stream, int64_t failAt) {
    size_t index = 0;
    return ReferenceDecode([&]() -> int {
        const size_t at = index++;
        if (static_cast<int64_t>(at) == failAt) return -2;
        return at < stream.size() ? stream[at] : -1;
    });
}

}  // namespace zvtest

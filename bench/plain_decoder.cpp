#include "bench/plain_decoder.h"

#include <cstring>

namespace {

constexpr int N = 4096, F = 60, THRESHOLD = 2, N_CHAR = 256 - THRESHOLD + F, T = N_CHAR * 2 - 1, R = T - 1;
constexpr unsigned MAX_FREQ = 0x8000;

int NextByte(PlainDecoder* d) { return d->in < d->end ? *d->in++ : -1; }

int ReadBit(PlainDecoder* d) {
    while (d->len <= 8) {
        int c = NextByte(d);
        if (c < 0) c = 0;
        d->buf |= static_cast<unsigned>(c) << (8 - d->len);
        d->len += 8;
    }
    unsigned i = d->buf;
    d->buf = (d->buf << 1) & 0xFFFF;
    d->len--;
    return (i & 0x8000) != 0;
}

int ReadEightBits(PlainDecoder* d) {
    while (d->len <= 8) {
        int c = NextByte(d);
        if (c < 0) c = 0;
        d->buf |= static_cast<unsigned>(c) << (8 - d->len);
        d->len += 8;
    }
    unsigned i = d->buf;
    d->buf = (d->buf << 8) & 0xFFFF;
    d->len -= 8;
    return static_cast<int>(i >> 8);
}

void StartCounts(PlainDecoder* d) {
    for (int i = 0; i < N_CHAR; i++) {
        d->freq[i] = 1;
        d->son[i] = static_cast<uint16_t>(i + T);
        d->prnt[i + T] = static_cast<uint16_t>(i);
    }
    for (int i = 0, j = N_CHAR; j <= R; i += 2, j++) {
        d->freq[j] = static_cast<uint16_t>(d->freq[i] + d->freq[i + 1]);
        d->son[j] = static_cast<uint16_t>(i);
        d->prnt[i] = d->prnt[i + 1] = static_cast<uint16_t>(j);
    }
    d->freq[T] = 0xFFFF;
    d->prnt[R] = 0;
}

void Rebuild(PlainDecoder* d) {
    int j = 0;
    for (int i = 0; i < T; i++) {
        if (d->son[i] >= T) {
            d->freq[j] = static_cast<uint16_t>((d->freq[i] + 1) / 2);
            d->son[j] = d->son[i];
            j++;
        }
    }
    for (int i = 0, k; j < T; i += 2, j++) {
        unsigned f = d->freq[j] = static_cast<uint16_t>(d->freq[i] + d->freq[i + 1]);
        for (k = j - 1; f < d->freq[k]; k--) {
        }
        k++;
        std::memmove(&d->freq[k + 1], &d->freq[k], (j - k) * sizeof(uint16_t));
        d->freq[k] = static_cast<uint16_t>(f);
        std::memmove(&d->son[k + 1], &d->son[k], (j - k) * sizeof(uint16_t));
        d->son[k] = static_cast<uint16_t>(i);
    }
    for (int i = 0; i < T; i++) {
        int k = d->son[i];
        if (k >= T) {
            d->prnt[k] = static_cast<uint16_t>(i);
        } else {
            d->prnt[k] = d->prnt[k + 1] = static_cast<uint16_t>(i);
        }
    }
}

void Update(PlainDecoder* d, int c) {
    if (d->freq[R] == MAX_FREQ) Rebuild(d);
    c = d->prnt[c + T];
    do {
        unsigned k = ++d->freq[c];
        int l = c + 1;
        if (k > d->freq[l]) {
            while (k > d->freq[++l]) {
            }
            l--;
            d->freq[c] = d->freq[l];
            d->freq[l] = static_cast<uint16_t>(k);
            int i = d->son[c];
            d->prnt[i] = static_cast<uint16_t>(l);
            if (i < T) d->prnt[i + 1] = static_cast<uint16_t>(l);
            int j = d->son[l];
            d->son[l] = static_cast<uint16_t>(i);
            d->prnt[j] = static_cast<uint16_t>(c);
            if (j < T) d->prnt[j + 1] = static_cast<uint16_t>(c);
            d->son[c] = static_cast<uint16_t>(j);
            c = l;
        }
    } while ((c = d->prnt[c]) != 0);
}

int NextSymbol(PlainDecoder* d) {
    unsigned c = d->son[R];
    while (c < T) {
        c += static_cast<unsigned>(ReadBit(d));
        c = d->son[c];
    }
    c -= T;
    Update(d, static_cast<int>(c));
    return static_cast<int>(c);
}

int NextPosition(PlainDecoder* d) {
    static uint8_t dcode[256], dlen[256];
    if (dlen[0] == 0) {
        static const int groups[6][2] = {{1, 3}, {3, 4}, {8, 5}, {12, 6}, {24, 7}, {16, 8}};
        int index = 0, upper = 0;
        for (const auto& g : groups) {
            for (int u = 0; u < g[0]; ++u, ++upper) {
                for (int k = 0; k < (1 << (8 - g[1])); ++k, ++index) {
                    dcode[index] = static_cast<uint8_t>(upper);
                    dlen[index] = static_cast<uint8_t>(g[1]);
                }
            }
        }
    }
    unsigned i = static_cast<unsigned>(ReadEightBits(d));
    unsigned c = static_cast<unsigned>(dcode[i]) << 6;
    int j = dlen[i] - 2;
    while (j--) i = (i << 1) + static_cast<unsigned>(ReadBit(d));
    return static_cast<int>(c | (i & 0x3F));
}

}  // namespace

size_t PlainDecode(PlainDecoder* d, const uint8_t* in, size_t inSize, uint8_t* out) {
    if (inSize < 4) return 0;
    const uint32_t size = in[0] | in[1] << 8 | in[2] << 16 | static_cast<uint32_t>(in[3]) << 24;
    d->in = in + 4;
    d->end = in + inSize;
    d->buf = 0;
    d->len = 0;
    if (size == 0) return 0;
    StartCounts(d);
    std::memset(d->window, 0, sizeof d->window);
    std::memset(d->window, ' ', N - F);
    int r = N - F;
    size_t count = 0;
    while (count < size) {
        int c = NextSymbol(d);
        if (c < 256) {
            out[count++] = static_cast<uint8_t>(c);
            d->window[r++] = static_cast<uint8_t>(c);
            r &= (N - 1);
        } else {
            int i = (r - NextPosition(d) - 1) & (N - 1);
            int j = c - 255 + THRESHOLD;
            for (int k = 0; k < j; k++) {
                c = d->window[(i + k) & (N - 1)];
                out[count++] = static_cast<uint8_t>(c);
                d->window[r++] = static_cast<uint8_t>(c);
                r &= (N - 1);
            }
        }
    }
    return count;
}

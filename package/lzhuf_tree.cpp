#include "package/lzhuf_tree.h"

#include <cstring>

namespace zv {

using namespace lzhuf;

void StartTree(LzhufTree* tree) {
    for (unsigned c = 0; c < N_CHAR; ++c) {
        tree->freq[c] = 1;
        tree->son[c] = static_cast<uint16_t>(c + T);
        tree->prnt[c + T] = static_cast<uint16_t>(c);
    }
    unsigned i = 0;
    for (unsigned j = N_CHAR; j <= R; ++j, i += 2) {
        tree->freq[j] = static_cast<uint16_t>(tree->freq[i] + tree->freq[i + 1]);
        tree->son[j] = static_cast<uint16_t>(i);
        tree->prnt[i] = tree->prnt[i + 1] = static_cast<uint16_t>(j);
    }
    tree->freq[T] = 0xFFFF;
    tree->prnt[R] = 0;
}

void RebuildTree(LzhufTree* tree) {
    uint16_t* const freq = tree->freq;
    uint16_t* const son = tree->son;
    uint16_t* const prnt = tree->prnt;

    // The leaves to the front, in their order, with halved frequencies.
    unsigned j = 0;
    for (unsigned i = 0; i < T; ++i) {
        if (son[i] >= T) {
            freq[j] = static_cast<uint16_t>((freq[i] + 1) / 2);
            son[j] = son[i];
            ++j;
        }
    }
    // Join pairs from the front; each new node goes after every node of its
    // frequency or less, which keeps the order.
    unsigned i = 0;
    for (j = N_CHAR; j < T; ++j, i += 2) {
        const uint16_t f = static_cast<uint16_t>(freq[i] + freq[i + 1]);
        unsigned k = j - 1;
        while (freq[k] > f) --k;
        ++k;
        std::memmove(&freq[k + 1], &freq[k], (j - k) * sizeof(freq[0]));
        std::memmove(&son[k + 1], &son[k], (j - k) * sizeof(son[0]));
        freq[k] = f;
        son[k] = static_cast<uint16_t>(i);
    }
    for (i = 0; i < T; ++i) {
        const unsigned k = son[i];
        if (k >= T) {
            prnt[k] = static_cast<uint16_t>(i);
        } else {
            prnt[k] = prnt[k + 1] = static_cast<uint16_t>(i);
        }
    }
}

unsigned ExchangeNode(LzhufTree* tree, unsigned n, unsigned k) {
    uint16_t* const freq = tree->freq;
    uint16_t* const son = tree->son;
    uint16_t* const prnt = tree->prnt;

    // The last node that counts less than k; the guard freq[T] ends the scan.
    unsigned l = n + 2;
    while (k > freq[l]) ++l;
    --l;
    freq[n] = freq[l];
    freq[l] = static_cast<uint16_t>(k);

    const unsigned a = son[n];
    prnt[a] = static_cast<uint16_t>(l);
    if (a < T) prnt[a + 1] = static_cast<uint16_t>(l);
    const unsigned b = son[l];
    son[l] = static_cast<uint16_t>(a);
    prnt[b] = static_cast<uint16_t>(n);
    if (b < T) prnt[b + 1] = static_cast<uint16_t>(n);
    son[n] = static_cast<uint16_t>(b);
    return l;
}

}  // namespace zv

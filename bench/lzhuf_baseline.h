// Plain LZHUF encoders to measure the packer's encoder against. Both parse
// greedily: at each position the longest match is coded, or a literal when
// none reaches 3 bytes.
//
// EncodeLzhufBinaryTree finds matches the way the format's first encoders
// did: the strings of the window (the last 4036 positions, each read as up to
// 60 bytes) are kept in binary search trees, one per first byte, and the
// match is what inserting the current string meets on its way down (a longer
// match replaces a shorter one; an equal one does not). Of the initial window
// only the 60 spaces right before the data are searchable.
//
// EncodeLzhufGreedyNearest searches the whole window and takes the nearest
// of the longest matches, which codes the cheapest position: a stronger
// greedy parse than the first one.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvbench {

void EncodeLzhufBinaryTree(const uint8_t* data, size_t size, std::vector<uint8_t>* stream);
void EncodeLzhufGreedyNearest(const uint8_t* data, size_t size, std::vector<uint8_t>* stream);

}  // namespace zvbench

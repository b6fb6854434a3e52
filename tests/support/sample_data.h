// Sample contents for tests: text-like bytes that compress the way product
// files do, reproducible from a seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvtest {

// `size` bytes of words and line ends, chosen by `seed`.
std::vector<uint8_t> SampleText(size_t size, unsigned seed);

// `size` bytes that do not compress, chosen by `seed`.
std::vector<uint8_t> SampleNoise(size_t size, unsigned seed);

// The seed of the tests' random inputs: 1, so that every run tries the same
// inputs and a failure points at a change, not at luck; ZV_TEST_SEED=N
// replays seed N, and ZV_TEST_SEED=0 draws a new one each run (print it).
uint32_t TestSeed();

}  // namespace zvtest

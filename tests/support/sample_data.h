// Sample contents for tests: text-like bytes that compress the way product
// files do, reproducible from a seed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <vector>

namespace zvtest {

// `size` bytes of words and line ends, chosen by `seed`.
std::vector<uint8_t> SampleText(size_t size, unsigned seed);

}  // namespace zvtest

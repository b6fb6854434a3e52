#include "tests/support/sample_data.h"

#include <random>
#include <string>

namespace zvtest {

std::vector<uint8_t> SampleText(size_t size, unsigned seed) {
    static const char* const words[] = {"volume ", "disk ", "Zarvel ", "the ", "of ", "update ", "read ", "\r\n"};
    std::mt19937 rng(seed);
    std::string s;
    while (s.size() < size) s += words[rng() % 8];
    s.resize(size);
    return std::vector<uint8_t>(s.begin(), s.end());
}

}  // namespace zvtest

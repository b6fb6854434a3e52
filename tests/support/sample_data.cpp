#include "tests/support/sample_data.h"

#include <cstdlib>
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

std::vector<uint8_t> SampleNoise(size_t size, unsigned seed) {
    std::mt19937 rng(seed);
    std::vector<uint8_t> data(size);
    for (uint8_t& b : data) b = static_cast<uint8_t>(rng());
    return data;
}

uint32_t TestSeed() {
    static const uint32_t seed = [] {
        const char* given = std::getenv("ZV_TEST_SEED");
        uint32_t value = given != nullptr ? static_cast<uint32_t>(std::strtoul(given, nullptr, 10)) : 1;
        return value != 0 ? value : static_cast<uint32_t>(std::random_device{}());
    }();
    return seed;
}

}  // namespace zvtest

// The command-line parser on any text: whatever it reads, every text it
// keeps fits its buffer and ends inside it, an accepted line refuses no word,
// and a refusal names the word it refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "transfer/run_options.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    const std::string line(reinterpret_cast<const char*>(data), size);
    zv::RunOptions options;
    const zv::CommandLineResult result = zv::ParseCommandLine(line.c_str(), &options);
    if (std::memchr(options.logPath, '\0', sizeof options.logPath) == nullptr) std::abort();
    if (std::memchr(options.badWord, '\0', sizeof options.badWord) == nullptr) std::abort();
    if (result == zv::CommandLineResult::Ok && options.badWord[0] != '\0') std::abort();
    if (result != zv::CommandLineResult::Ok && options.badWord[0] == '\0' && line.c_str()[0] != '\0') {
        // Every refusal names a word (a refused word is never empty: it was read).
        std::abort();
    }
    if (std::strcmp(zv::CommandLineResultName(result), "?") == 0) std::abort();
    if (std::strcmp(zv::UiLevelName(options.ui), "?") == 0) std::abort();
    return 0;
}

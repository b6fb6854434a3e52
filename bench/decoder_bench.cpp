// Decoder throughput, in bytes of expanded output per second, on four kinds of
// member: English-like text, x86 machine code, zeros and random bytes.
//
// Run: build/host/bench/decoder_bench [--benchmark_filter=...]
#include <benchmark/benchmark.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <iterator>
#include <memory>
#include <random>
#include <string>
#include <vector>

#include "bench/plain_decoder.h"
#include "package/lzhuf_decoder.h"
#include "quillon/pack/lzhuf_encoder.h"

namespace {

constexpr size_t kSampleSize = 1 << 20;

enum class Kind { Text, Code, Zeros, Random };

std::vector<uint8_t> ReadFile(const std::string& path, size_t limit) {
    std::ifstream in(path, std::ios::binary);
    std::vector<uint8_t> bytes((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
    if (bytes.size() > limit) bytes.resize(limit);
    return bytes;
}

// English-like text: words drawn with a skewed distribution, in lines.
std::vector<uint8_t> MakeText(size_t size) {
    static const char* words[] = {
        "the", "of", "and", "to", "a", "in", "is", "that", "for", "it", "as", "was", "with", "be", "by",
        "on", "not", "he", "this", "are", "or", "his", "from", "at", "which", "but", "have", "an", "had",
        "they", "you", "were", "their", "one", "all", "we", "can", "her", "has", "there", "been", "if",
        "more", "when", "will", "would", "who", "so", "no", "update", "program", "directory", "version",
        "installation", "Zarvel", "library", "package", "volume", "message", "window", "settings",
        "transfer", "product", "language", "system", "between", "important", "following", "whether"};
    const size_t count = sizeof words / sizeof words[0];
    std::mt19937 rng(12345);
    std::vector<double> weights(count);
    for (size_t k = 0; k < count; ++k) weights[k] = 1.0 / static_cast<double>(k + 1);
    std::discrete_distribution<size_t> pick(weights.begin(), weights.end());
    std::string text;
    size_t line = 0;
    while (text.size() < size) {
        std::string word = words[pick(rng)];
        if (line == 0) word[0] = static_cast<char>(std::toupper(word[0]));
        text += word;
        line += word.size() + 1;
        if (rng() % 11 == 0) text += ',';
        if (line > 68) {
            text += ".\r\n";
            line = 0;
        } else {
            text += ' ';
        }
    }
    text.resize(size);
    return std::vector<uint8_t>(text.begin(), text.end());
}

// The member of the given kind, from the committed corpus (bench/corpus,
// made by make_corpus.sh) when it is there, otherwise made here. The one place
// that says where the benchmark's data comes from.
std::vector<uint8_t> SampleData(Kind kind) {
    static const char* names[] = {"english.txt", "x86.obj", "zeros.bin", "random.bin"};
    const std::vector<uint8_t> corpus =
        ReadFile(std::string(ZV_BENCH_CORPUS) + "/" + names[static_cast<int>(kind)], 64u << 20);
    if (!corpus.empty()) return corpus;
    switch (kind) {
    case Kind::Text: return MakeText(kSampleSize);
    case Kind::Code: {
        // Machine code: the file named by ZV_BENCH_CODE (a 32-bit Windows DLL
        // makes the most telling sample), else this program's own file.
        const char* named = std::getenv("ZV_BENCH_CODE");
        return ReadFile(named && *named ? named : "/proc/self/exe", kSampleSize);
    }
    case Kind::Zeros: return std::vector<uint8_t>(kSampleSize, 0);
    case Kind::Random: {
        std::vector<uint8_t> bytes(kSampleSize);
        std::mt19937 rng(777);
        for (auto& b : bytes) b = static_cast<uint8_t>(rng());
        return bytes;
    }
    }
    return {};
}

// The coded stream of the sample, made once per kind by the packer's encoder.
const std::vector<uint8_t>& SampleStream(Kind kind) {
    static std::vector<uint8_t> streams[4];
    std::vector<uint8_t>& stream = streams[static_cast<int>(kind)];
    if (stream.empty()) {
        const std::vector<uint8_t> data = SampleData(kind);
        quillon::EncodeLzhuf(data.data(), data.size(), &stream);
    }
    return stream;
}

void DecodeFromMemory(benchmark::State& state, Kind kind) {
    const std::vector<uint8_t>& stream = SampleStream(kind);
    uint32_t size = 0;
    zv::LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &size);
    std::vector<uint8_t> out(size + zv::LZHUF_MATCH_OVERRUN);
    auto decoder = std::make_unique<zv::LzhufDecoder>();
    for (auto _ : state) {
        uint32_t produced = 0;
        const zv::StreamStatus status =
            zv::DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                                  static_cast<uint32_t>(out.size()), &produced);
        if (status != zv::StreamStatus::Done || produced != size) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
    state.counters["ratio"] = static_cast<double>(stream.size()) / size;
}

// The same streams through the plain decoder (one bit at a time,
// a 16-bit bit buffer), as a yardstick on this machine.
void PlainFromMemory(benchmark::State& state, Kind kind) {
    const std::vector<uint8_t>& stream = SampleStream(kind);
    uint32_t size = 0;
    zv::LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &size);
    std::vector<uint8_t> out(size + zv::LZHUF_MATCH_OVERRUN);
    auto decoder = std::make_unique<PlainDecoder>();
    for (auto _ : state) {
        const size_t produced = PlainDecode(decoder.get(), stream.data(), stream.size(), out.data());
        if (produced < size) state.SkipWithError("decoding failed");
        benchmark::DoNotOptimize(out.data());
    }
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * size);
}

}  // namespace

BENCHMARK_CAPTURE(PlainFromMemory, text, Kind::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainFromMemory, x86_code, Kind::Code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainFromMemory, zeros, Kind::Zeros)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(PlainFromMemory, random, Kind::Random)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFromMemory, text, Kind::Text)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFromMemory, x86_code, Kind::Code)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFromMemory, zeros, Kind::Zeros)->Unit(benchmark::kMillisecond);
BENCHMARK_CAPTURE(DecodeFromMemory, random, Kind::Random)->Unit(benchmark::kMillisecond);

// "decoder_bench --once KIND [plain]" expands the sample once and exits, for
// counting instructions under a profiler (callgrind
// --toggle-collect='*DecodeLzhufStream*', or '*PlainDecode*' with "plain").
int main(int argc, char** argv) {
    if ((argc == 3 || argc == 4) && std::string(argv[1]) == "--once") {
        static const char* names[] = {"text", "code", "zeros", "random"};
        for (int k = 0; k < 4; ++k) {
            if (std::string(argv[2]) != names[k]) continue;
            const std::vector<uint8_t>& stream = SampleStream(static_cast<Kind>(k));
            uint32_t size = 0;
            zv::LzhufStreamSize(stream.data(), static_cast<uint32_t>(stream.size()), &size);
            std::vector<uint8_t> out(size + zv::LZHUF_MATCH_OVERRUN);
            if (argc == 4) {
                auto plain = std::make_unique<PlainDecoder>();
                const size_t produced = PlainDecode(plain.get(), stream.data(), stream.size(), out.data());
                std::printf("%s: %zu bytes from %zu (plain)\n", names[k], produced, stream.size());
                return produced >= size ? 0 : 1;
            }
            auto decoder = std::make_unique<zv::LzhufDecoder>();
            uint32_t produced = 0;
            const zv::StreamStatus status =
                zv::DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()),
                                      out.data(), static_cast<uint32_t>(out.size()), &produced);
            std::printf("%s: %u bytes from %zu, %s\n", names[k], produced, stream.size(),
                        zv::StreamStatusName(status));
            return status == zv::StreamStatus::Done ? 0 : 1;
        }
        std::fprintf(stderr, "kinds: text code zeros random\n");
        return 2;
    }
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

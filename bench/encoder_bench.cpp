// Encoder throughput (bytes of input per second) and ratio (stream bytes per
// input byte) on the committed corpus: English text, x86 code, zeros and
// random bytes. The packer's encoder runs on one thread and with its
// parse/code pipeline on two; the two greedy encoders of lzhuf_baseline.h are
// the yardsticks. PackCorpus packs the four files as the members of one
// package, on both processors.
//
// Run: build/host/bench/encoder_bench [--benchmark_filter=...]
//      build/host/bench/encoder_bench --ratios   (the ratio table alone)
#include <benchmark/benchmark.h>

#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <memory>
#include <string>
#include <vector>

#include "bench/lzhuf_baseline.h"
#include "package/lzhuf_decoder.h"
#include "quillon/pack/lzhuf_encoder.h"
#include "quillon/pack/member_packer.h"

namespace {

struct CorpusFile {
    const char* kind;
    const char* name;
};
const CorpusFile kCorpus[] = {
    {"text", "english.txt"}, {"x86", "x86.obj"}, {"zeros", "zeros.bin"}, {"random", "random.bin"}};

std::string CorpusPath(const CorpusFile& f) { return std::string(ZV_BENCH_CORPUS) + "/" + f.name; }

const std::vector<uint8_t>& CorpusData(int index) {
    static std::vector<uint8_t> data[4];
    static bool loaded[4] = {};
    if (!loaded[index]) {
        std::ifstream in(CorpusPath(kCorpus[index]), std::ios::binary);
        data[index].assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
        loaded[index] = true;
    }
    return data[index];
}

enum class Encoder { Ours, OursTwoThreads, BinaryTree, GreedyNearest };

void Encode(Encoder encoder, const std::vector<uint8_t>& data, std::vector<uint8_t>* stream) {
    switch (encoder) {
    case Encoder::Ours:
    case Encoder::OursTwoThreads: {
        quillon::LzhufEncoderOptions options;
        options.threads = encoder == Encoder::Ours ? 1 : 2;
        quillon::EncodeLzhuf(data.data(), data.size(), stream, options);
        break;
    }
    case Encoder::BinaryTree: zvbench::EncodeLzhufBinaryTree(data.data(), data.size(), stream); break;
    case Encoder::GreedyNearest: zvbench::EncodeLzhufGreedyNearest(data.data(), data.size(), stream); break;
    }
}

// True when `stream` expands to `data` with the updater's decoder.
bool ExpandsTo(const std::vector<uint8_t>& stream, const std::vector<uint8_t>& data) {
    auto decoder = std::make_unique<zv::LzhufDecoder>();
    std::vector<uint8_t> out(data.size() + zv::LZHUF_MATCH_OVERRUN);
    uint32_t produced = 0;
    const zv::StreamStatus status =
        zv::DecodeLzhufStream(decoder.get(), stream.data(), static_cast<uint32_t>(stream.size()), out.data(),
                              static_cast<uint32_t>(out.size()), &produced);
    out.resize(produced);
    return status == zv::StreamStatus::Done && out == data;
}

void EncodeFile(benchmark::State& state, Encoder encoder, int index) {
    const std::vector<uint8_t>& data = CorpusData(index);
    if (data.empty()) {
        state.SkipWithError("corpus file missing");
        return;
    }
    std::vector<uint8_t> stream;
    for (auto _ : state) {
        Encode(encoder, data, &stream);
        benchmark::DoNotOptimize(stream.data());
    }
    if (!ExpandsTo(stream, data)) state.SkipWithError("the stream does not expand to the input");
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations()) * static_cast<int64_t>(data.size()));
    state.counters["ratio"] = static_cast<double>(stream.size()) / static_cast<double>(data.size());
}

// The four corpus files as the members of one package, packed as quillon
// build packs them, with a job per processor (two here).
void PackCorpus(benchmark::State& state) {
    int64_t bytes = 0;
    for (auto _ : state) {
        std::vector<quillon::PackedMember> members;
        for (int i = 0; i < 4; ++i) {
            quillon::PackedMember m;
            m.sourcePath = CorpusPath(kCorpus[i]);
            m.sourceSize = CorpusData(i).size();
            bytes += static_cast<int64_t>(m.sourceSize);
            members.push_back(m);
        }
        // The packed streams go to a scratch file in the temporary folder, as
        // a build keeps them beside its output.
        quillon::MemberSpool spool;
        std::string why;
        if (!spool.Open((std::filesystem::temp_directory_path() / "encoder_bench").string(), &why)) {
            state.SkipWithError(why.c_str());
            break;
        }
        if (!quillon::PackMembers(&members, static_cast<unsigned>(state.range(0)), &spool, nullptr)) {
            state.SkipWithError("packing failed");
        }
    }
    state.SetBytesProcessed(bytes);
}

void RegisterAll() {
    struct Named {
        const char* name;
        Encoder encoder;
    } encoders[] = {{"Ours", Encoder::Ours},
                    {"OursTwoThreads", Encoder::OursTwoThreads},
                    {"BinaryTreeGreedy", Encoder::BinaryTree},
                    {"NearestGreedy", Encoder::GreedyNearest}};
    for (const Named& e : encoders) {
        for (int i = 0; i < 4; ++i) {
            const std::string name = std::string(e.name) + "/" + kCorpus[i].kind;
            benchmark::RegisterBenchmark(name.c_str(), EncodeFile, e.encoder, i)->Unit(benchmark::kMillisecond);
        }
    }
    benchmark::RegisterBenchmark("PackCorpus/jobs", PackCorpus)->Arg(1)->Arg(2)->Unit(benchmark::kMillisecond)
        ->UseRealTime();
}

// The ratio of every encoder on every file, and ours against each yardstick.
int PrintRatios() {
    std::printf("%-8s %10s %12s %12s %12s %12s %12s\n", "file", "bytes", "binary-tree", "nearest", "ours",
                "vs binary", "vs nearest");
    for (int i = 0; i < 4; ++i) {
        const std::vector<uint8_t>& data = CorpusData(i);
        if (data.empty()) {
            std::fprintf(stderr, "%s: missing\n", CorpusPath(kCorpus[i]).c_str());
            return 1;
        }
        std::vector<uint8_t> tree, nearest, ours;
        Encode(Encoder::BinaryTree, data, &tree);
        Encode(Encoder::GreedyNearest, data, &nearest);
        Encode(Encoder::Ours, data, &ours);
        const double n = static_cast<double>(data.size());
        std::printf("%-8s %10zu %12.4f %12.4f %12.4f %+11.1f%% %+11.1f%%\n", kCorpus[i].kind, data.size(),
                    tree.size() / n, nearest.size() / n, ours.size() / n,
                    100.0 * (static_cast<double>(ours.size()) / tree.size() - 1),
                    100.0 * (static_cast<double>(ours.size()) / nearest.size() - 1));
    }
    return 0;
}

}  // namespace

int main(int argc, char** argv) {
    if (argc == 2 && std::string(argv[1]) == "--ratios") return PrintRatios();
    RegisterAll();
    benchmark::Initialize(&argc, argv);
    if (benchmark::ReportUnrecognizedArguments(argc, argv)) return 1;
    benchmark::RunSpecifiedBenchmarks();
    benchmark::Shutdown();
    return 0;
}

// A whole transfer of a package shaped like a real release: 38 entries, two
// shared runtime libraries and 36 product files (six of them carrying stamped
// blocks), members expanding to 12 KB to 944 KB, about 6 MB in all. Measures
// the wall time of RunTransfer and the memory it takes: the peak of the
// blocks it allocates, and the process's peak resident size; for a package
// without integrity data and for one with it.
#include <benchmark/benchmark.h>

#include <sys/resource.h>

#include <cstring>
#include <map>
#include <random>

#include "detect/stamped_blocks.h"
#include "platform/posix_platform.h"
#include "platform/sha256.h"
#include "tests/support/host_layout.h"
#include "tests/support/fault_platform.h"
#include "tests/support/fixture_package.h"
#include "tests/support/lzhuf_test_encoder.h"
#include "tests/support/pe_builder.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "transfer/transfer.h"

namespace {

// Counts the bytes of the blocks that are allocated at once.
class CountingPlatform : public zvtest::FaultPlatform {
public:
    using FaultPlatform::FaultPlatform;
    uint64_t live = 0;
    uint64_t peak = 0;
    zv::BlockHandle AllocBlock(uint32_t size) override {
        zv::BlockHandle block = FaultPlatform::AllocBlock(size);
        if (block != 0) {
            sizes_[block] = size;
            live += size;
            if (live > peak) peak = live;
        }
        return block;
    }
    void FreeBlock(zv::BlockHandle block) override {
        live -= sizes_[block];
        sizes_.erase(block);
        FaultPlatform::FreeBlock(block);
    }

private:
    std::map<zv::BlockHandle, uint64_t> sizes_;
};

// Bytes that compress about as well as program files do.
std::vector<uint8_t> ProgramLike(std::mt19937& random, size_t size) {
    std::vector<uint8_t> bytes;
    bytes.reserve(size);
    static const char* const words[] = {"\x55\x8B\xEC", "\x83\xEC\x10", "\xE8\x00\x00", "\x8B\x45\x08", "\xC3",
                                        "Zarvel ", "version ", "\x00\x00\x00\x00", "\xFF\x15", "\x50\x51"};
    while (bytes.size() < size) {
        if (random() % 4 == 0) {
            bytes.push_back(static_cast<uint8_t>(random()));
        } else {
            const char* w = words[random() % 10];
            size_t n = std::strlen(w) ? std::strlen(w) : 1;
            bytes.insert(bytes.end(), w, w + n);
        }
    }
    bytes.resize(size);
    return bytes;
}

struct Release {
    zvtest::TempDir dir;
    zv::PackageHeader header{};
    std::map<std::string, std::vector<uint8_t>> installed;
    uint64_t expanded = 0;
    uint64_t compressed = 0;

    // With `digests`, the package carries every member's SHA-256, as quillon
    // writes it, and the transfer checks each new copy against it.
    explicit Release(bool digests) {
        zvtest::MakeDirs(dir / "WINDOWS/SYSTEM");
        zvtest::MakeDirs(dir / "ZARVEL");
        zvtest::MakeDirs(dir / "UPDATE");
        std::mt19937 random(38);
        std::vector<zvtest::FixtureMember> members;
        const zv::ProductVersion next = zv::MakeVersion(1, 2, 1, 31);
        auto add = [&](const std::string& name, uint16_t flags, const std::string& installedAt, size_t size,
                       bool carried) {
            std::vector<uint8_t> content = ProgramLike(random, size);
            if (carried) {
                std::vector<uint8_t> blocks = zvtest::MarkerBlockBytes(zv::KEY_CARRIED_SHORT, std::vector<uint8_t>(12, 1));
                zvtest::AppendBytes(&blocks, zvtest::MarkerBlockBytes(zv::KEY_CHECKSUM, {0, 0}));
                std::copy(blocks.begin(), blocks.end(), content.begin() + 64);
            }
            installed[installedAt] = content;
            zvtest::WriteFileBytes(dir / installedAt, content);
            zvtest::FixtureMember m{name, flags, next, zvtest::EncodeLzhufForTest(content),
                                    static_cast<uint16_t>((size + 1023) / 1024)};
            if (digests) {
                m.digest.resize(zv::SHA256_DIGEST_SIZE);
                zv::Sha256Bytes(content.data(), content.size(), m.digest.data());
            }
            expanded += size;
            compressed += m.data.size();
            members.push_back(m);
        };
        add("plmr.dll", 0x16, "WINDOWS/SYSTEM/PLMR.DLL", 133024, false);
        add("plmr32.dll", 0x16, "WINDOWS/SYSTEM/PLMR32.DLL", 180000, false);
        const char* carried[] = {"zvact.exe", "zvsa.bin", "zvsv.bin", "zvact32.exe", "zvsa32.bin", "zvsv32.bin"};
        for (int i = 0; i < 36; ++i) {
            std::string name = i < 6 ? carried[i] : "zvfile" + std::to_string(i) + ".dat";
            size_t size = i == 0 ? 944128 : i == 35 ? 12896 : 12896 + (random() % 180000);
            add(name, zv::ENTRY_UPDATE_ONLY, "ZARVEL/" + name, size, i < 6);
        }
        std::vector<uint8_t> image = zvtest::StampFixturePackage(zvtest::BlankUpdaterImage(4096, 1000), members,
                                                                 next, 0x409);
        zvtest::WriteFileBytes(dir / "UPDATE/SETUP.EXE", image);
        header = zv::DecodePackageHeader(image.data() + 1000);
    }
};

void BM_WholeTransfer(benchmark::State& state) {
    static Release plain(false);
    static Release checked(true);
    Release& release = state.range(0) != 0 ? checked : plain;
    zv::PosixPlatform posix(zvtest::MachineLayout(release.dir.path(), "SETUP.EXE"));
    CountingPlatform os(posix);
    zvtest::ScriptedUi ui;
    zvtest::ScriptedView view;
    zv::RunContext run;
    run.os = &os;
    run.ui = &ui;
    run.transferView = &view;
    std::strcpy(run.programPath, "C:\\UPDATE\\SETUP.EXE");
    std::strcpy(run.programDir, "C:\\UPDATE\\");
    zv::PackageTable table;
    zv::LoadPackageTable(os, run.programPath, release.header, &table);
    for (auto _ : state) {
        zv::InstalledProduct product;
        std::strcpy(product.installDir, "C:\\ZARVEL\\");
        product.runtime = zv::Plmr16Found | zv::Plmr32Found;
        if (!zv::Succeeded(zv::RunTransfer(run, table, &product))) state.SkipWithError("transfer failed");
    }
    zv::FreePackageTable(os, &table);
    struct rusage usage;
    ::getrusage(RUSAGE_SELF, &usage);
    state.SetBytesProcessed(static_cast<int64_t>(state.iterations() * release.expanded));
    state.counters["entries"] = 38;
    state.counters["expanded_MB"] = static_cast<double>(release.expanded) / 1e6;
    state.counters["packed_MB"] = static_cast<double>(release.compressed) / 1e6;
    state.counters["peak_blocks_KB"] = static_cast<double>(os.peak) / 1024;
    state.counters["max_rss_MB"] = static_cast<double>(usage.ru_maxrss) / 1024;
}
// 0: a package without integrity data; 1: with it.
BENCHMARK(BM_WholeTransfer)->Arg(0)->Arg(1)->Unit(benchmark::kMillisecond)->UseRealTime();

}  // namespace

BENCHMARK_MAIN();

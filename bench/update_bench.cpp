// A whole native update against the tools a user would compare it with.
//
// Generates a product of mixed files (program-like binaries, text, and bytes
// that do not compress, as pictures and archives do), about 200 MB in 1,500
// files by default, the same bytes on every run; packs it with quillon build;
// installs an older copy of every file; then times, on those files:
//   update  the whole transfer (RunTransfer on the POSIX platform): plan,
//           every member expanded into a new copy, flushed and checked
//           against its SHA-256, the journal, the moves into place;
//   unzip   `unzip -o` of a zip of the same files over the older copies;
//   copy    each file read and written over its older copy, flushed (fsync)
//           before the next, as a careful copy would.
// Each target is checked afterwards to hold exactly the new files. The
// times and the ratios update/unzip and update/copy are printed; with
// --rounds N each is taken N times, in turn, and the median is shown.
//
//   update_bench [--size-mb MB] [--files N] [--rounds N] [--workers N] [--dir DIR] [--product-only]
//
// With --product-only it only writes the product (DIR/source), its
// description (DIR/product.txt) and a blank updater (DIR/zvupdate.exe), for
// measuring quillon build on the same files.
// Too large for the test suite, it is run by hand. Without zip or unzip on
// the PATH the unzip comparison is skipped, and the bench says so.
#include <fcntl.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <random>
#include <string>
#include <vector>

#include "package/table.h"
#include "platform/posix_platform.h"
#include "quillon/commands/commands.h"
#include "tests/support/fixture_package.h"
#include "tests/support/host_layout.h"
#include "tests/support/scripted_ui.h"
#include "tests/support/scripted_view.h"
#include "tests/support/temp_dir.h"
#include "transfer/stage_ahead.h"
#include "transfer/transfer.h"

namespace {

namespace fs = std::filesystem;
using Clock = std::chrono::steady_clock;

struct Options {
    uint64_t sizeMB = 200;
    unsigned files = 1500;
    unsigned rounds = 1;
    std::string dir;  // empty: a fresh folder in $TMPDIR, removed at the end
    bool productOnly = false;
    int workers = -1;  // -1: as many as the updater takes on this machine
};

void Usage(std::FILE* out) {
    std::fputs("usage: update_bench [--size-mb MB] [--files N] [--rounds N] [--workers N] [--dir DIR]\n"
               "                    [--product-only]\n"
               "  --size-mb MB  the product's size (default 200)\n"
               "  --files N     its number of files (default 1500)\n"
               "  --rounds N    times each of the three is taken; the median is shown (default 1)\n"
               "  --workers N   threads that expand members during the update (default: what the\n"
               "                updater takes on this machine; 0: every member on the update's own thread)\n"
               "  --dir DIR     work in DIR (an empty or new folder; kept afterwards) rather than\n"
               "                a fresh folder in $TMPDIR\n"
               "  --product-only  only write the product, its description and a blank updater\n"
               "                into DIR, then stop\n",
               out);
}

bool ParseOptions(int argc, char** argv, Options* o) {
    for (int i = 1; i < argc; ++i) {
        const std::string a = argv[i];
        if (a == "--help" || a == "-h") {
            Usage(stdout);
            std::exit(0);
        }
        if (a == "--product-only") {
            o->productOnly = true;
            continue;
        }
        if (i + 1 >= argc) return false;
        const char* v = argv[++i];
        char* end = nullptr;
        const unsigned long n = std::strtoul(v, &end, 10);
        const bool number = *v != '\0' && *end == '\0' && n > 0;
        if (a == "--workers" && *v != '\0' && *end == '\0') {
            o->workers = static_cast<int>(std::min<unsigned long>(n, 64));
            continue;
        }
        if (a == "--size-mb" && number) {
            o->sizeMB = n;
        } else if (a == "--files" && number) {
            o->files = static_cast<unsigned>(n);
        } else if (a == "--rounds" && number) {
            o->rounds = static_cast<unsigned>(n);
        } else if (a == "--dir") {
            o->dir = v;
        } else {
            return false;
        }
    }
    return true;
}

[[noreturn]] void Die(const std::string& what) {
    std::fprintf(stderr, "update_bench: %s\n", what.c_str());
    std::exit(1);
}

// --- The product ---------------------------------------------------------------

struct ProductFile {
    std::string path;  // relative, with "/"
    std::string member;  // the member's name, with "\"
    std::vector<uint8_t> bytes;
};

// Bytes that compress about as well as program files do.
void ProgramLike(std::mt19937& random, size_t size, std::vector<uint8_t>* out) {
    static const char* const kWords[] = {"\x55\x8B\xEC", "\x83\xEC\x10", "\xE8\x00\x00", "\x8B\x45\x08", "\xC3",
                                         "Zarvel ",      "version ",     "\xFF\x15",     "\x50\x51",     "\x6A\x00"};
    out->reserve(size);
    while (out->size() < size) {
        const uint32_t r = random();
        if (r % 4 == 0) {
            out->push_back(static_cast<uint8_t>(r >> 8));
            out->push_back(static_cast<uint8_t>(r >> 16));
        } else if (r % 4 == 1) {
            out->insert(out->end(), 4, 0);
        } else {
            const char* w = kWords[(r >> 8) % 10];
            out->insert(out->end(), w, w + std::strlen(w));
        }
    }
    out->resize(size);
}

// Lines of words, as help files, scripts and settings are.
void TextLike(std::mt19937& random, size_t size, std::vector<uint8_t>* out) {
    static const char* const kWords[] = {"the",    "update", "writes",  "every", "member", "into",   "a",
                                         "new",    "copy",   "beside",  "its",   "target", "and",    "checks",
                                         "digest", "before", "product", "file",  "folder", "window", "=",
                                         "value",  "[section]", "0",    "1",     "2024",   "Zarvel", "setting"};
    constexpr size_t kCount = sizeof kWords / sizeof kWords[0];
    out->reserve(size + 16);
    while (out->size() < size) {
        const unsigned words = 3 + random() % 12;
        for (unsigned w = 0; w < words; ++w) {
            const char* word = kWords[random() % kCount];
            out->insert(out->end(), word, word + std::strlen(word));
            out->push_back(w + 1 == words ? '\r' : ' ');
        }
        out->push_back('\n');
    }
    out->resize(size);
}

// Bytes that do not compress.
void Noise(std::mt19937_64& random, size_t size, std::vector<uint8_t>* out) {
    out->resize(size);
    for (size_t i = 0; i < size; i += 8) {
        const uint64_t r = random();
        std::memcpy(out->data() + i, &r, std::min<size_t>(8, size - i));
    }
}

// The product: sizes spread over three orders of magnitude, in 24 folders;
// of every ten files four are program-like, four text and two noise.
std::vector<ProductFile> MakeProduct(const Options& o) {
    std::mt19937 random(20231);
    std::mt19937_64 noise(977);
    std::vector<double> weights(o.files);
    double sum = 0;
    std::uniform_real_distribution<double> exponent(0.0, std::log(3000.0));
    for (double& w : weights) sum += (w = std::exp(exponent(random)));
    const double total = static_cast<double>(o.sizeMB) * 1e6;
    std::vector<ProductFile> files(o.files);
    for (unsigned i = 0; i < o.files; ++i) {
        ProductFile& f = files[i];
        const size_t size = std::max<size_t>(64, static_cast<size_t>(weights[i] / sum * total));
        const unsigned kind = i % 10;
        const char* extension = kind < 4 ? "bin" : kind < 8 ? "txt" : "dat";
        char name[64];
        std::snprintf(name, sizeof name, "part%02u/file%04u.%s", i % 24, i, extension);
        f.path = name;
        f.member = name;
        std::replace(f.member.begin(), f.member.end(), '/', '\\');
        if (kind < 4) {
            ProgramLike(random, size, &f.bytes);
        } else if (kind < 8) {
            TextLike(random, size, &f.bytes);
        } else {
            Noise(noise, size, &f.bytes);
        }
    }
    return files;
}

void WriteFile(const std::string& path, const uint8_t* bytes, size_t size) {
    std::FILE* f = std::fopen(path.c_str(), "wb");
    if (f == nullptr || std::fwrite(bytes, 1, size, f) != size || std::fclose(f) != 0) Die("cannot write " + path);
}

std::vector<uint8_t> ReadFile(const std::string& path) {
    std::vector<uint8_t> bytes;
    std::FILE* f = std::fopen(path.c_str(), "rb");
    if (f == nullptr) return bytes;
    uint8_t buffer[1 << 16];
    size_t got;
    while ((got = std::fread(buffer, 1, sizeof buffer, f)) != 0) bytes.insert(bytes.end(), buffer, buffer + got);
    std::fclose(f);
    return bytes;
}

// The files as installed before the update: the same names, their bytes
// changed at the start (so that every file is really replaced).
void InstallOld(const std::vector<ProductFile>& files, const std::string& root) {
    std::error_code ignored;
    fs::remove_all(root, ignored);
    for (const ProductFile& f : files) {
        const std::string path = root + "/" + f.path;
        fs::create_directories(fs::path(path).parent_path());
        std::vector<uint8_t> old = f.bytes;
        for (size_t i = 0; i < old.size() && i < 16; ++i) old[i] ^= 0x5A;
        WriteFile(path, old.data(), old.size());
    }
    ::sync();  // the old copies' writing is not timed with what follows
}

// Every file under `root` holds the new bytes.
void CheckInstalled(const std::vector<ProductFile>& files, const std::string& root, const char* what) {
    for (const ProductFile& f : files) {
        if (ReadFile(root + "/" + f.path) != f.bytes) Die(std::string(what) + " left " + f.path + " wrong");
    }
}

// --- The three ways -----------------------------------------------------------

double Seconds(Clock::time_point start) {
    return std::chrono::duration<double>(Clock::now() - start).count();
}

// When each stage of the transfer began, for the time each took.
struct StageClock : zv::TransferObserver {
    Clock::time_point began[4] = {};
    bool seen[4] = {};
    void EntryDone(const zv::EntryReport&) override {}
    void StageBegins(zv::TransferStage stage) override {
        const unsigned k = static_cast<unsigned>(stage);
        if (k < 4) {
            began[k] = Clock::now();
            seen[k] = true;
        }
    }
};

// The installation is C:\ZARVEL of a machine laid out under `machine`, the
// package C:\UPDATE\SETUP.EXE.
struct Machine {
    std::string root;
    size_t headerAt;
    unsigned workers;

    double Update(const std::vector<ProductFile>& files) {
        InstallOld(files, root + "/ZARVEL");
        zv::PosixPlatform os(zvtest::MachineLayout(root, "SETUP.EXE"));
        zvtest::ScriptedUi ui;
        zvtest::ScriptedView view;
        zv::RunContext run;
        run.os = &os;
        run.ui = &ui;
        run.transferView = &view;
        run.stageWorkers = workers;
        std::strcpy(run.programPath, "C:\\UPDATE\\SETUP.EXE");
        std::strcpy(run.programDir, "C:\\UPDATE\\");
        const std::vector<uint8_t> image = ReadFile(root + "/UPDATE/SETUP.EXE");
        if (image.size() < headerAt + zv::PACKAGE_HEADER_SIZE) Die("the package is not there");
        const zv::PackageHeader header = zv::DecodePackageHeader(image.data() + headerAt);

        rusage usageBefore{};
        ::getrusage(RUSAGE_SELF, &usageBefore);
        const Clock::time_point start = Clock::now();
        zv::PackageTable table;
        if (zv::LoadPackageTable(os, run.programPath, header, &table) != zv::TableStatus::Loaded) {
            Die("the package's table cannot be read");
        }
        zv::InstalledProduct product;
        std::strcpy(product.installDir, "C:\\ZARVEL\\");
        // Judged by what it leaves: no message, and every file in place.
        StageClock stages;
        zv::RunTransfer(run, table, &product, &stages);
        zv::FreePackageTable(os, &table);
        const Clock::time_point end = Clock::now();
        rusage usageAfter{};
        ::getrusage(RUSAGE_SELF, &usageAfter);
        const double seconds = std::chrono::duration<double>(end - start).count();
        using zv::TransferStage;
        if (stages.seen[0] && stages.seen[1] && stages.seen[2]) {
            auto between = [](Clock::time_point a, Clock::time_point b) {
                return std::chrono::duration<double>(b - a).count();
            };
            auto cpu = [](const timeval& a, const timeval& b) {
                return static_cast<double>(b.tv_sec - a.tv_sec) + static_cast<double>(b.tv_usec - a.tv_usec) / 1e6;
            };
            std::printf("  (update: plan %.2f s, stage %.2f s, commit %.2f s, finish %.2f s; processor time %.2f s "
                        "in the program, %.2f s in the system)\n",
                        between(start, stages.began[0]), between(stages.began[0], stages.began[1]),
                        between(stages.began[1], stages.began[2]), between(stages.began[2], end),
                        cpu(usageBefore.ru_utime, usageAfter.ru_utime), cpu(usageBefore.ru_stime, usageAfter.ru_stime));
        }
        if (!ui.messages.empty()) Die("the update showed a message: " + ui.messages.front().text);
        CheckInstalled(files, root + "/ZARVEL", "the update");
        return seconds;
    }
};

double Unzip(const std::vector<ProductFile>& files, const std::string& zip, const std::string& target) {
    InstallOld(files, target);
    const std::string command = "unzip -q -o '" + zip + "' -d '" + target + "'";
    const Clock::time_point start = Clock::now();
    if (std::system(command.c_str()) != 0) Die("unzip failed: " + command);
    const double seconds = Seconds(start);
    CheckInstalled(files, target, "unzip");
    return seconds;
}

// The copy reads each source file and writes it over the old one in 1 MiB
// pieces, then flushes it before going on.
double CopyWithFlush(const std::vector<ProductFile>& files, const std::string& source, const std::string& target) {
    InstallOld(files, target);
    std::vector<char> buffer(1 << 20);
    const Clock::time_point start = Clock::now();
    for (const ProductFile& f : files) {
        const std::string from = source + "/" + f.path;
        const std::string to = target + "/" + f.path;
        const int in = ::open(from.c_str(), O_RDONLY);
        const int out = ::open(to.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
        if (in < 0 || out < 0) Die("cannot copy " + f.path);
        ssize_t got;
        while ((got = ::read(in, buffer.data(), buffer.size())) > 0) {
            if (::write(out, buffer.data(), static_cast<size_t>(got)) != got) Die("cannot write " + to);
        }
        if (got < 0 || ::fsync(out) != 0 || ::close(out) != 0) Die("cannot copy " + f.path);
        ::close(in);
    }
    const double seconds = Seconds(start);
    CheckInstalled(files, target, "the copy");
    return seconds;
}

bool HaveTool(const char* name) {
    const std::string command = std::string("command -v ") + name + " >/dev/null 2>&1";
    return std::system(command.c_str()) == 0;
}

double Median(std::vector<double> v) {
    std::sort(v.begin(), v.end());
    return v.size() % 2 ? v[v.size() / 2] : (v[v.size() / 2 - 1] + v[v.size() / 2]) / 2;
}

}  // namespace

int main(int argc, char** argv) {
    Options o;
    if (!ParseOptions(argc, argv, &o) || (o.productOnly && o.dir.empty())) {
        Usage(stderr);
        return 2;
    }
    zvtest::TempDir temp;
    const std::string work = o.dir.empty() ? temp.path() : o.dir;
    fs::create_directories(work);

    Clock::time_point start = Clock::now();
    const std::vector<ProductFile> files = MakeProduct(o);
    uint64_t total = 0;
    const std::string source = work + "/source";
    std::string description = "version 1.2.1.31\nlanguage 0x0409\n";
    for (const ProductFile& f : files) {
        fs::create_directories(fs::path(source + "/" + f.path).parent_path());
        WriteFile(source + "/" + f.path, f.bytes.data(), f.bytes.size());
        description += "file \"source/" + f.path + "\" \"" + f.member + "\"\n";
        total += f.bytes.size();
    }
    WriteFile(work + "/product.txt", reinterpret_cast<const uint8_t*>(description.data()), description.size());
    std::printf("product: %zu files, %.1f MB, made in %.1f s\n", files.size(), total / 1e6, Seconds(start));

    // Packed by quillon, into the image of an updater, as a release is.
    const unsigned workers = o.workers < 0 ? zv::StageWorkerCount() : static_cast<unsigned>(o.workers);
    Machine machine{work + "/machine", 1000, workers};
    fs::create_directories(machine.root + "/UPDATE");
    const std::vector<uint8_t> updater = zvtest::BlankUpdaterImage(4096, machine.headerAt);
    WriteFile(work + "/zvupdate.exe", updater.data(), updater.size());
    if (o.productOnly) return 0;
    std::string args[] = {"build", work + "/product.txt", "--updater", work + "/zvupdate.exe", "--output",
                          machine.root + "/UPDATE/SETUP.EXE"};
    char* buildArgv[6];
    for (int i = 0; i < 6; ++i) buildArgv[i] = &args[i][0];
    // Its listing of the members goes to a file beside the product.
    const std::string listing = work + "/quillon-build.txt";
    std::fflush(stdout);
    const int shown = ::dup(1);
    const int listed = ::open(listing.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    if (shown < 0 || listed < 0 || ::dup2(listed, 1) < 0) Die("cannot write " + listing);
    ::close(listed);
    start = Clock::now();
    const int built = quillon::RunBuild(6, buildArgv);
    const double packing = Seconds(start);
    std::fflush(stdout);
    ::dup2(shown, 1);
    ::close(shown);
    if (built != 0) Die("quillon build failed (its output: " + listing + ")");
    std::printf("packed by quillon build in %.1f s: %.1f MB\n", packing,
                fs::file_size(machine.root + "/UPDATE/SETUP.EXE") / 1e6);

    const bool zipping = HaveTool("zip") && HaveTool("unzip");
    const std::string zip = work + "/product.zip";
    if (zipping) {
        start = Clock::now();
        const std::string command = "cd '" + source + "' && zip -q -r '" + zip + "' .";
        if (std::system(command.c_str()) != 0) Die("zip failed: " + command);
        std::printf("zipped (zip -r, its default level) in %.1f s: %.1f MB\n", Seconds(start),
                    fs::file_size(zip) / 1e6);
    } else {
        std::printf("zip or unzip is not on the PATH: the unzip comparison is skipped\n");
    }

    std::vector<double> update, unzip, copy;
    for (unsigned round = 0; round < o.rounds; ++round) {
        update.push_back(machine.Update(files));
        if (zipping) unzip.push_back(Unzip(files, zip, work + "/unzipped"));
        copy.push_back(CopyWithFlush(files, source, work + "/copied"));
        std::printf("round %u: update %.2f s", round + 1, update.back());
        if (zipping) std::printf(", unzip %.2f s", unzip.back());
        std::printf(", copy with a flush per file %.2f s\n", copy.back());
        std::fflush(stdout);
    }

    const double u = Median(update), c = Median(copy);
    std::printf("\n%s of %u round%s, %zu files, %.1f MB, %u expanding thread%s:\n", o.rounds > 1 ? "median" : "time",
                o.rounds, o.rounds > 1 ? "s" : "", files.size(), total / 1e6, workers, workers == 1 ? "" : "s");
    std::printf("  update                       %8.2f s  %6.1f MB/s\n", u, total / 1e6 / u);
    if (zipping) {
        const double z = Median(unzip);
        std::printf("  unzip                        %8.2f s  %6.1f MB/s\n", z, total / 1e6 / z);
    }
    std::printf("  copy with a flush per file   %8.2f s  %6.1f MB/s\n", c, total / 1e6 / c);
    if (zipping) std::printf("  update / unzip   %.2f\n", u / Median(unzip));
    std::printf("  update / copy    %.2f\n", u / c);
    return 0;
}

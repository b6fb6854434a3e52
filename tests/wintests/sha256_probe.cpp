// sha256_probe.exe [FILE...]: the digests that the Windows build's SHA-256
// (the system's CryptoAPI) gives, one line each, for the Wine test to compare
// with those of another implementation: first those of four threads that
// start hashing at once, before anything else has hashed (so that they race
// for the provider that the run shares), each its own input many times over;
// then the empty input, "abc", a million 'a' fed in pieces of odd sizes,
// "abc" and the million hashed in two contexts open at once, each FILE read
// in pieces, and "abc" again once the run's provider has been released.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/sha256.h"

namespace {

void Print(const char* what, zv::Sha256Status status, const uint8_t* digest) {
    if (status == zv::Sha256Status::Ok) {
        char hex[zv::SHA256_HEX_SIZE];
        zv::Sha256Hex(digest, hex);
        std::printf("%s %s\n", what, hex);
    } else {
        std::printf("%s FAILED: %s\n", what, zv::Sha256StatusName(status));
    }
}

// One of the racing threads: hashes its input (100,000 x (index + 1) bytes
// of 'k' + index) in pieces, 20 times, and keeps the first digest, or the
// failure, or that a later round gave another digest.
constexpr int kThreads = 4;
constexpr int kRounds = 20;
HANDLE g_start = nullptr;

struct Racer {
    int index = 0;
    zv::Sha256Status status = zv::Sha256Status::Ok;
    bool differs = false;
    uint8_t digest[zv::SHA256_DIGEST_SIZE] = {};
};

DWORD WINAPI Race(void* parameter) {
    Racer* r = static_cast<Racer*>(parameter);
    const std::vector<char> input(100000 * static_cast<size_t>(r->index + 1), static_cast<char>('k' + r->index));
    WaitForSingleObject(g_start, INFINITE);
    for (int round = 0; round < kRounds && r->status == zv::Sha256Status::Ok; ++round) {
        zv::Sha256Context context;
        uint8_t digest[zv::SHA256_DIGEST_SIZE];
        zv::Sha256Status status = zv::Sha256Begin(&context);
        for (size_t done = 0; status == zv::Sha256Status::Ok && done < input.size(); done += 4099) {
            status = zv::Sha256Update(&context, input.data() + done, std::min<size_t>(4099, input.size() - done));
        }
        if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&context, digest);
        zv::Sha256Abandon(&context);
        r->status = status;
        if (status != zv::Sha256Status::Ok) break;
        if (round == 0) {
            std::memcpy(r->digest, digest, sizeof digest);
        } else if (std::memcmp(r->digest, digest, sizeof digest) != 0) {
            r->differs = true;
        }
    }
    return 0;
}

void RaceThreads() {
    Racer racers[kThreads];
    HANDLE threads[kThreads] = {};
    g_start = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    for (int i = 0; i < kThreads; ++i) {
        racers[i].index = i;
        threads[i] = CreateThread(nullptr, 0, Race, &racers[i], 0, nullptr);
    }
    SetEvent(g_start);
    for (int i = 0; i < kThreads; ++i) {
        char what[16];
        std::snprintf(what, sizeof what, "thread%d", i);
        if (threads[i] == nullptr) {
            std::printf("%s FAILED: no thread\n", what);
            continue;
        }
        WaitForSingleObject(threads[i], INFINITE);
        CloseHandle(threads[i]);
        if (racers[i].differs) {
            std::printf("%s FAILED: the rounds gave different digests\n", what);
        } else {
            Print(what, racers[i].status, racers[i].digest);
        }
    }
    CloseHandle(g_start);
}

}  // namespace

int main(int argc, char** argv) {
    RaceThreads();
    uint8_t digest[zv::SHA256_DIGEST_SIZE] = {};
    Print("empty", zv::Sha256Bytes("", 0, digest), digest);
    Print("abc", zv::Sha256Bytes("abc", 3, digest), digest);

    const std::vector<char> million(1000000, 'a');
    const size_t steps[] = {1, 63, 64, 65, 997, 4093};
    zv::Sha256Context context;
    zv::Sha256Status status = zv::Sha256Begin(&context);
    for (size_t done = 0, k = 0; status == zv::Sha256Status::Ok && done < million.size(); ++k) {
        const size_t n = std::min(steps[k % 6], million.size() - done);
        status = zv::Sha256Update(&context, million.data() + done, n);
        done += n;
    }
    if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&context, digest);
    zv::Sha256Abandon(&context);
    Print("million", status, digest);

    // Two contexts open at once: each has its own hash object.
    zv::Sha256Context first, second;
    uint8_t other[zv::SHA256_DIGEST_SIZE] = {};
    status = zv::Sha256Begin(&first);
    if (status == zv::Sha256Status::Ok) status = zv::Sha256Begin(&second);
    const char abc[] = "abc";
    for (size_t k = 0; status == zv::Sha256Status::Ok && k < million.size() / 1000; ++k) {
        status = zv::Sha256Update(&second, million.data() + 1000 * k, 1000);
        if (status == zv::Sha256Status::Ok && k < 3) status = zv::Sha256Update(&first, abc + k, 1);
    }
    if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&first, digest);
    if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&second, other);
    zv::Sha256Abandon(&first);
    zv::Sha256Abandon(&second);
    Print("both abc", status, digest);
    Print("both million", status, other);

    for (int i = 1; i < argc; ++i) {
        std::FILE* f = std::fopen(argv[i], "rb");
        if (f == nullptr) {
            std::printf("file FAILED: cannot open %s\n", argv[i]);
            continue;
        }
        status = zv::Sha256Begin(&context);
        std::vector<char> buffer(7777);
        size_t got = 0;
        while (status == zv::Sha256Status::Ok && (got = std::fread(buffer.data(), 1, buffer.size(), f)) != 0) {
            status = zv::Sha256Update(&context, buffer.data(), got);
        }
        std::fclose(f);
        if (status == zv::Sha256Status::Ok) status = zv::Sha256Finish(&context, digest);
        zv::Sha256Abandon(&context);
        Print("file", status, digest);
    }

    // Released at the end of the run, the provider is had anew when asked.
    zv::Sha256EndRun();
    Print("again abc", zv::Sha256Bytes("abc", 3, digest), digest);
    zv::Sha256EndRun();
    return 0;
}

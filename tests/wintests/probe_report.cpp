#include "tests/wintests/probe_report.h"

#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <vector>

#include "platform/bytes.h"

namespace zvprobe {
namespace {

const char* BaseName(const char* path) {
    const char* base = path;
    for (const char* p = path; *p != '\0'; ++p) {
        if (*p == '/' || *p == '\\') base = p + 1;
    }
    return base;
}

void PrintBytes(std::FILE* out, const void* data, uint32_t length) {
    const auto* bytes = static_cast<const uint8_t*>(data);
    uint32_t shown = length < 64 ? length : 64;
    for (uint32_t i = 0; i < shown; ++i) std::fprintf(out, "%02X", bytes[i]);
    if (shown < length) std::fprintf(out, "...");
}

void PrintText(std::FILE* out, const char* text, uint32_t length) {
    std::fputc('"', out);
    for (uint32_t i = 0; i < length; ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        if (c >= 0x20 && c < 0x7F && c != '"' && c != '\\') {
            std::fputc(c, out);
        } else {
            std::fprintf(out, "\\x%02X", c);
        }
    }
    std::fputc('"', out);
}

// Sizes beyond this are reported, not allocated.
constexpr uint32_t kLargestBlock = 16u << 20;

const char* const kVersionQueries[] = {
    "\\",
    "\\VarFileInfo\\Translation",
    "\\StringFileInfo\\040904E4\\InternalName",
    "\\StringFileInfo\\040904e4\\internalNAME",
    "StringFileInfo\\040904E4\\InternalName",
    "\\\\StringFileInfo\\\\040904E4\\InternalName\\",
    "\\StringFileInfo\\040904E4\\CompanyName",
    "\\StringFileInfo\\040904E4\\FileVersion",
    "\\StringFileInfo\\040904E4\\Missing",
    "\\StringFileInfo\\040904E4\\Internal",
    "\\StringFileInfo\\040704B0\\InternalName",
    "\\VarFileInfo\\Missing",
};

const char* const kSections[] = {"setup", "SETUP", "other", "missing"};
const char* const kKeys[] = {
    "drive", "dir", "inst", "DIR", "a", "b", "c", "d", "e", "f", "g", "h", "i", "j", "k", "l",
    "m", "n", "o", "p", "q", "r", "s", "t", "u", "v", "w", "x", "y", "z", "key with space", "missing",
};
const uint32_t kBufferSizes[] = {256, 4, 1};

}  // namespace

void ReportVersions(zv::Platform& os, std::FILE* out, int count, char** paths) {
    for (int f = 0; f < count; ++f) {
        std::fprintf(out, "== %s\n", BaseName(paths[f]));
        uint32_t size = os.VersionInfoSize(paths[f]);
        std::fprintf(out, "size %u\n", size);
        if (size == 0) continue;
        if (size > kLargestBlock) {
            std::fprintf(out, "block too large to read\n");
            continue;
        }
        std::vector<uint8_t> block(size, 0);
        if (!os.VersionInfo(paths[f], size, block.data())) {
            std::fprintf(out, "block failed\n");
            continue;
        }
        std::fprintf(out, "block crc %08X\n", zv::Crc32(block.data(), block.size()));
        for (const char* query : kVersionQueries) {
            const void* value = nullptr;
            uint32_t length = 0;
            std::fprintf(out, "q %s -> ", query);
            if (!os.QueryVersion(block.data(), query, &value, &length)) {
                std::fprintf(out, "no\n");
                continue;
            }
            std::fprintf(out, "len %u ", length);
            PrintBytes(out, value, length);
            std::fprintf(out, "\n");
        }
        std::fprintf(out, "after crc %08X\n", zv::Crc32(block.data(), block.size()));
    }
}

void DumpBlocks(zv::Platform& os, std::FILE* out, int count, char** paths) {
    for (int f = 0; f < count; ++f) {
        uint32_t size = os.VersionInfoSize(paths[f]);
        std::fprintf(out, "== %s size %u\n", BaseName(paths[f]), size);
        if (size > kLargestBlock) continue;
        std::vector<uint8_t> block(size, 0);
        if (size == 0 || !os.VersionInfo(paths[f], size, block.data())) continue;
        for (uint32_t i = 0; i < size; i += 32) {
            std::fprintf(out, "%04X ", i);
            PrintBytes(out, block.data() + i, size - i < 32 ? size - i : 32);
            std::fprintf(out, "\n");
        }
    }
}

void ReportSettings(zv::Platform& os, std::FILE* out, int count, char** files) {
    for (int f = 0; f < count; ++f) {
        std::fprintf(out, "== %s\n", BaseName(files[f]));
        for (const char* section : kSections) {
            for (const char* key : kKeys) {
                for (uint32_t size : kBufferSizes) {
                    char buffer[256];
                    std::memset(buffer, 'Z', sizeof buffer);
                    uint32_t length = os.ProfileString(section, key, "dflt  ", buffer, size, files[f]);
                    std::fprintf(out, "s [%s] %s /%u -> %u ", section, key, size, length);
                    PrintText(out, buffer, length < size ? length + 1 : size);
                    std::fprintf(out, "\n");
                }
                std::fprintf(out, "i [%s] %s -> %u %u\n", section, key, os.ProfileInt(section, key, 7, files[f]),
                             os.ProfileInt(section, key, -3, files[f]));
            }
        }
    }
}

void ReportLanguages(zv::Platform& os, LanguageCodePageFunction codePage, std::FILE* out, int count, char** ids) {
    for (int i = 0; i < count; ++i) {
        uint32_t id = static_cast<uint32_t>(std::strtoul(ids[i], nullptr, 16));
        char name[256];
        std::memset(name, 0, sizeof name);
        uint32_t length = os.LanguageName(id, name, 255);
        std::fprintf(out, "lang %04X -> %u ", id, length);
        PrintText(out, name, static_cast<uint32_t>(std::strlen(name)));
        std::fprintf(out, " code page %u\n", codePage(id));
    }
}

int RunProbe(zv::Platform& os, LanguageCodePageFunction codePage, int argc, char** argv) {
    if (argc < 2) {
        std::fprintf(stderr, "usage: probe version|dump FILE... | ini FILE... | lang HEXID...\n");
        return 2;
    }
    if (std::strcmp(argv[1], "version") == 0) {
        ReportVersions(os, stdout, argc - 2, argv + 2);
    } else if (std::strcmp(argv[1], "ini") == 0) {
        ReportSettings(os, stdout, argc - 2, argv + 2);
    } else if (std::strcmp(argv[1], "dump") == 0) {
        DumpBlocks(os, stdout, argc - 2, argv + 2);
    } else if (std::strcmp(argv[1], "lang") == 0) {
        ReportLanguages(os, codePage, stdout, argc - 2, argv + 2);
    } else {
        std::fprintf(stderr, "probe: unknown command %s\n", argv[1]);
        return 2;
    }
    return 0;
}

}  // namespace zvprobe

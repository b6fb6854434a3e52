// quillon detect: what the updater would detect on a machine and what its
// detection page would say.
#include <cstdio>
#include <cstring>
#include <memory>
#include <string>
#include <vector>

#include "detect/detection.h"
#include "detect/product_files.h"
#include "detect/product_version.h"
#include "quillon/base/cli.h"
#include "quillon/base/shown_text.h"
#include "quillon/commands/commands.h"
#include "quillon/machine/machine.h"
#include "quillon/read/updater_file.h"
#include "transfer/startup.h"


namespace quillon {
namespace {

const char kDetectHelp[] =
    "usage: quillon detect --windows-dir DIR --system-dir DIR [--updater FILE]\n"
    "                      [--drive LETTER=DIR]... [--language ID]\n"
    "\n"
    "Runs the updater's product detection against a directory tree that stands\n"
    "for a machine and prints what it found (the settings of zvact.ini, the\n"
    "installation directory, the variants and runtime libraries, and what each\n"
    "product file's version resource gave), then the texts of the detection\n"
    "page exactly as the page would show them, judged against the package of\n"
    "the updater FILE (without --updater the page is not judged).\n"
    "\n";

std::string FlagNames(uint32_t flags, const std::vector<std::pair<uint32_t, const char*>>& names) {
    std::string out;
    for (const auto& [bit, name] : names) {
        if (flags & bit) out += std::string(" ") + name;
    }
    return out;
}

void PrintRecord(const char* field, const char* file, const zv::FileVersionRecord& r) {
    char parts[32];
    zv::FormatVersionParts(r.version, parts, sizeof parts);
    std::printf("%-13s %-12s status %u %-14s version %-16s language 0x%04X\n", field, file,
                static_cast<unsigned>(r.status), zv::VersionStatusName(r.status), parts, static_cast<unsigned>(r.language));
}

void PrintProduct(const zv::InstalledProduct& p) {
    std::printf("drive         \"%s\"\n", Shown(p.drive).c_str());
    std::printf("dir           \"%s\"\n", Shown(p.dir).c_str());
    std::printf("inst          %u\n", static_cast<unsigned>(p.inst));
    std::printf("installDir    \"%s\"\n", Shown(p.installDir).c_str());
    std::printf("variants      0x%02X%s\n", static_cast<unsigned>(p.variants),
                FlagNames(p.variants, {{zv::Act16, "Act16"}, {zv::Sa16, "Sa16"}, {zv::Act32, "Act32"}, {zv::Sa32, "Sa32"}})
                    .c_str());
    std::printf("runtime       0x%02X%s\n", static_cast<unsigned>(p.runtime),
                FlagNames(p.runtime, {{zv::Plmr16Found, "Plmr16Found"},
                                      {zv::Plmr32Found, "Plmr32Found"},
                                      {zv::Plmr16InUse, "Plmr16InUse"},
                                      {zv::Plmr32InUse, "Plmr32InUse"}})
                    .c_str());
    PrintRecord("act16", zv::kAct16Name, p.act16);
    PrintRecord("sa16", zv::kSa16Name, p.sa16);
    PrintRecord("act32", zv::kAct32Name, p.act32);
    PrintRecord("sa32", zv::kSa32Name, p.sa32);
}

void PrintPage(const zv::UpdateVerdict& v) {
    std::printf("detection page (dialog 402):\n");
    std::printf("  [100] %s\n", v.version16Text);
    std::printf("  [101] %s\n", v.version32Text);
    std::printf("  [102] %s\n", v.languageText);
    std::printf("  [103] %s\n", v.installTypeText);
    std::printf("  [104] %s\n", Shown(v.directoryText).c_str());
    std::printf("  [120] %s\n", v.message);
    std::printf("  [140] %s\n", v.hint);
    std::printf("  Next  %s\n", v.canProceed ? "enabled" : "disabled");
}

}  // namespace

int RunDetect(int argc, char** argv) {
    MachineOptions o;
    std::unique_ptr<zv::Platform> machine;
    int exitCode = StartMachineCommand(argc, argv, kDetectHelp, &o, &machine);
    if (exitCode >= 0) return exitCode;
    zv::Platform& os = *machine;
    zv::PackageHeader header{};
    if (!o.updater.empty()) {
        std::string error;
        if (ReadUpdaterHeader(os, o.updater, &header, &error) != UpdaterOpen::Ok) {
            return Fail(EXIT_FAILED, "%s", error.c_str());
        }
    }

    zv::RunContext run;
    run.os = &os;
    zv::InstalledProduct product;
    zv::PackageTable table;
    zv::PrepareUpdate(run, header, &product, &table);

    char windows[zv::kMaxPath] = {};
    os.WindowsDirectory(windows, sizeof windows);
    std::printf("settings      %s%szvact.ini\n", windows, windows[0] != '\0' && windows[std::strlen(windows) - 1] != '\\' ? "\\" : "");
    PrintProduct(product);
    std::printf("programPath   \"%s\"\n", Shown(run.programPath).c_str());
    if (!o.updater.empty()) {
        char parts[32], shown[32];
        zv::FormatVersionParts(header.version, parts, sizeof parts);
        zv::FormatVersion(header.version, shown, sizeof shown);
        std::printf("package       version %s (%s), language 0x%04X\n", parts, shown, static_cast<unsigned>(header.language));
        std::printf("file table    %s", zv::TableStatusName(table.status));
        if (table.status == zv::TableStatus::Loaded) std::printf(", %u entries", static_cast<unsigned>(table.entryCount));
        std::printf("\n");
    }
    std::printf("\n");
    if (product.variants == 0) {
        std::printf("Zarvel is not installed: the updater shows its not-installed page.\n");
    } else if (o.updater.empty()) {
        std::printf("Zarvel is installed; give --updater to judge the detection page.\n");
    } else {
        PrintPage(zv::EvaluateUpdate(run, product, header, table.status));
    }
    zv::FreePackageTable(os, &table);
    return EXIT_OK;
}

}  // namespace quillon

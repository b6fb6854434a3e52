#include "detect/detection.h"

#include <cstring>

#include "detect/product_files.h"
#include "detect/product_version.h"
#include "detect/stamped_blocks.h"
#include "package/paths.h"
#include "platform/files.h"
#include "platform/text.h"
#include "string_ids.h"

namespace zv {
namespace {

const char kSettingsFile[] = "zvact.ini";
const char kSettingsSection[] = "setup";
constexpr uint32_t kDefaultInst = 1;
constexpr uint32_t kFullInstallation = 2;
constexpr int kTextSize = 255;  // what every text of the page is loaded with

// The longest name appended to the installation directory.
const char* const kLongestProbedName = kAct32Name;

struct ProductFile {
    const char* name;  // also the expected internal name
    uint32_t flag;
    bool mainProgram;  // also needs its marker word's bit 2 clear
    FileVersionRecord InstalledProduct::*record;
};

const ProductFile kProductFiles[] = {
    {kAct16Name, Act16, true, &InstalledProduct::act16},
    {kSa16Name, Sa16, false, &InstalledProduct::sa16},
    {kAct32Name, Act32, true, &InstalledProduct::act32},
    {kSa32Name, Sa32, false, &InstalledProduct::sa32},
};

constexpr int32_t kMarkerWordRefused = 0x4;

struct RuntimeLibrary {
    const char* name;
    uint32_t found;
    uint32_t inUse;
    uint32_t variantFlags;  // cleared when the library is not found
};

const RuntimeLibrary kRuntimeLibraries[] = {
    {kRuntime16Name, Plmr16Found, Plmr16InUse, Act16 | Sa16},
    {kRuntime32Name, Plmr32Found, Plmr32InUse, Act32 | Sa32},
};

bool EndsWith(const char* text, char c) {
    size_t n = std::strlen(text);
    return n > 0 && text[n - 1] == c;
}

// installDir from drive and dir: the drive's first character and ":", the
// directory, and a closing "\". False when it would not leave room for the
// longest probed name within a path.
bool ComposeInstallDir(const InstalledProduct& product, char* installDir) {
    char composed[kMaxPath + sizeof product.dir + 4] = {};
    size_t n = 0;
    if (product.drive[0] != '\0') {
        composed[n++] = product.drive[0];
        composed[n++] = ':';
    }
    std::strcpy(composed + n, product.dir);
    if (!EndsWith(composed, '\\')) std::strcat(composed, "\\");
    if (std::strlen(composed) + std::strlen(kLongestProbedName) > kMaxPath - 1) return false;
    std::strcpy(installDir, composed);
    return true;
}

}  // namespace

void SetProgramPaths(RunContext& run) {
    Platform& os = *run.os;
    os.ModulePath(run.programPath, sizeof run.programPath);
    CopyText(run.programDir, sizeof run.programDir, run.programPath);
    char* last = nullptr;
    for (char* p = run.programDir; *p != '\0'; ++p) {
        if (*p == '\\' || *p == '/') last = p;
    }
    if (last != nullptr) {
        last[1] = '\0';
    } else {
        run.programDir[0] = '\0';
    }
}

namespace {

void ProbeProductFiles(Platform& os, InstalledProduct* product) {
    for (const ProductFile& file : kProductFiles) {
        char path[kMaxPath];
        CopyText(path, sizeof path, product->installDir);
        AppendText(path, sizeof path, file.name);
        FileVersionRecord& record = product->*file.record;
        if (ReadFileVersion(os, path, file.name, &record) != Matched) continue;
        if (file.mainProgram && (ReadMarkerWord(os, path, KEY_MARKER_WORD) & kMarkerWordRefused) != 0) continue;
        product->variants |= file.flag;
    }
}

void FindRuntimeLibraries(Platform& os, InstalledProduct* product) {
    char windowsDir[kMaxPath] = {};
    os.WindowsDirectory(windowsDir, sizeof windowsDir);
    for (const RuntimeLibrary& library : kRuntimeLibraries) {
        char currentDir[kMaxPath] = {};
        char destDir[kMaxPath] = {};
        uint32_t result = os.FindSharedFile(library.name, windowsDir, product->installDir, currentDir,
                                            sizeof currentDir, destDir, sizeof destDir);
        if (result & SHARED_FILE_IN_USE) product->runtime |= library.inUse;
        if (currentDir[0] != '\0') {
            char path[kMaxPath];
            CopyText(path, sizeof path, currentDir);
            bool fits = AppendBackslash(path, sizeof path) && AppendText(path, sizeof path, library.name);
            if (fits && FileExists(os, path)) product->runtime |= library.found;
        }
        // A variant counts only together with its runtime library.
        if (!(product->runtime & library.found)) product->variants &= ~library.variantFlags;
    }
}

void LoadString(unsigned id, char* buffer) { LoadText(id, buffer, kTextSize); }

void FormatVariantVersion(const InstalledProduct& product, uint32_t mainFlag, uint32_t otherFlag,
                          const FileVersionRecord& main, const FileVersionRecord& other, char* buffer) {
    if (product.variants & (mainFlag | otherFlag)) {
        FormatVersion((product.variants & mainFlag) ? main.version : other.version, buffer, kTextSize);
    } else {
        LoadString(IDS_NONE, buffer);
    }
}

void Refuse(UpdateVerdict* verdict, unsigned messageId) {
    verdict->messageId = messageId;
    LoadString(messageId, verdict->message);
    verdict->hintId = IDS_HINT_QUIT;
    LoadString(IDS_HINT_QUIT, verdict->hint);
    verdict->canProceed = false;
}

}  // namespace

bool LocateProduct(Platform& os, InstalledProduct* product) {
    *product = InstalledProduct{};
    os.ProfileString(kSettingsSection, "drive", "", product->drive, sizeof product->drive, kSettingsFile);
    os.ProfileString(kSettingsSection, "dir", "", product->dir, sizeof product->dir, kSettingsFile);
    product->inst = os.ProfileInt(kSettingsSection, "inst", static_cast<int32_t>(kDefaultInst), kSettingsFile);
    if (product->dir[0] == '\0') return false;  // not installed
    if (std::strlen(product->dir) > 3 && EndsWith(product->dir, '\\')) product->dir[std::strlen(product->dir) - 1] = '\0';
    // A directory too long for its files' paths counts as no installation.
    return ComposeInstallDir(*product, product->installDir);
}

void ProbeProduct(Platform& os, InstalledProduct* product) {
    if (product->installDir[0] == '\0') return;
    ProbeProductFiles(os, product);
    FindRuntimeLibraries(os, product);
}

UpdateVerdict EvaluateUpdate(RunContext& run, const InstalledProduct& product, const PackageHeader& header,
                             TableStatus table) {
    UpdateVerdict verdict;
    FormatVariantVersion(product, Act16, Sa16, product.act16, product.sa16, verdict.version16Text);
    FormatVariantVersion(product, Act32, Sa32, product.act32, product.sa32, verdict.version32Text);

    uint32_t language = 0;
    if (product.variants & Sa16) {
        language = product.sa16.language;
    } else if (product.variants & Sa32) {
        language = product.sa32.language;
    }
    if (language != 0) {
        run.os->LanguageName(language, verdict.languageText, kTextSize);
    } else {
        LoadString(IDS_UNKNOWN, verdict.languageText);
    }

    CopyText(verdict.directoryText, sizeof verdict.directoryText, product.installDir);
    StripTrailingBackslash(verdict.directoryText);

    bool act16 = (product.variants & Act16) != 0;
    bool act32 = (product.variants & Act32) != 0;
    LoadString(!act16 && !act32                    ? IDS_INST_MINIMAL
               : product.inst == kFullInstallation ? IDS_INST_FULL
                                                   : IDS_INST_NORMAL,
               verdict.installTypeText);
    // Whatever is installed, a package that cannot be read cannot update it.
    if (table != TableStatus::Loaded) {
        Refuse(&verdict, table == TableStatus::NoMemory ? IDS_NO_MEMORY : IDS_PACKAGE_DAMAGED);
        return verdict;
    }
    if (!act16 && !act32) {
        Refuse(&verdict, IDS_CD_INSTALL);
        return verdict;
    }

    // One flagged main program not newer than the package is enough, and one
    // in the package's language.
    bool versionPasses = (act16 && CompareVersions(product.act16.version, header.version) <= 0) ||
                         (act32 && CompareVersions(product.act32.version, header.version) <= 0);
    bool languagePasses = (act16 && product.act16.language == header.language) ||
                          (act32 && product.act32.language == header.language);
    if (!versionPasses) {
        Refuse(&verdict, IDS_VERSION_BLOCKED);
    } else if (!languagePasses) {
        Refuse(&verdict, IDS_LANGUAGE_REFUSED);
    } else if (product.runtime & Plmr32InUse) {
        Refuse(&verdict, IDS_PLMR32_IN_USE);
    } else if (product.runtime & Plmr16InUse) {
        Refuse(&verdict, IDS_PLMR16_IN_USE);
    } else {
        verdict.messageId = 0;
        verdict.message[0] = '\0';
        verdict.hintId = IDS_HINT_NEXT;
        LoadString(IDS_HINT_NEXT, verdict.hint);
        verdict.canProceed = true;
    }
    return verdict;
}

}  // namespace zv

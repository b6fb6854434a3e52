// Writing a laid-out package to its volume files.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <vector>

#include "package/table_writer.h"
#include "quillon/pack/member_spool.h"
#include "quillon/pack/package_layout.h"

namespace quillon {

struct PackageWriteReport {
    // Called once when another build holds the output's lock and this one
    // waits for it (nullptr: nothing is said).
    void (*waiting)(const std::string& outputPath) = nullptr;
    // Called with volume 1's temporary file once every volume is written,
    // before any is put in place (to sign it); false with *error stops the
    // build with nothing put in place.
    std::function<bool(const std::string& firstVolume, std::string* error)> finishFirstVolume;
    std::vector<std::string> written;       // the volume files, in order
    std::vector<std::string> removedStale;  // volumes of an earlier build beyond the last, removed
    std::vector<std::string> keptStale;     // files of such a volume's name that are not volumes
};

// Writes volume 1 at `outputPath` (the stamped image, the table region, then
// member data) and the continuation volumes beside it, named as the updater
// looks for them, from the streams of `entries` (table order, pieces filled
// by LayOutPackage), copied from where `streams` says they lie in `spool`. Every file is written under a temporary name of this
// process first and only renamed into place when all of them are complete,
// under the output's lock (OutputLock), so that of two builds into one output
// each puts its whole package in place, one after the other. Volumes beyond
// the last that an earlier build left are then removed. Returns false with
// the reason in *error; no output file is then left behind (nor changed).
bool WritePackage(const std::string& outputPath, const std::vector<uint8_t>& stampedImage,
                  const std::vector<uint8_t>& table, const std::vector<zv::EntryDescription>& entries,
                  const std::vector<SpooledStream>& streams, MemberSpool* spool, const PackageLayout& layout,
                  PackageWriteReport* report, std::string* error);

}  // namespace quillon

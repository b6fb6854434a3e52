// Writing a laid-out package to its volume files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/table_writer.h"
#include "quillon/package_layout.h"

namespace quillon {

// Writes volume 1 at `outputPath` (the stamped image, the table region, then
// member data) and the continuation volumes beside it, named as the updater
// looks for them, from the streams of `entries` (table order, pieces filled
// by LayOutPackage). Every file is written under a temporary name first and
// only renamed into place when all of them are complete. Returns false with
// the reason in *error; no output file is then left behind (nor changed).
bool WritePackage(const std::string& outputPath, const std::vector<uint8_t>& stampedImage,
                  const std::vector<uint8_t>& table, const std::vector<zv::EntryDescription>& entries,
                  const std::vector<const std::vector<uint8_t>*>& streams, const PackageLayout& layout,
                  std::vector<std::string>* written, std::string* error);

}  // namespace quillon

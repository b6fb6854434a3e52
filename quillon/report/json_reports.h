// The JSON forms of what list, verify and plan print (docs/json-output.md).
#pragma once

#include <cstdint>
#include <string>

#include "package/format.h"
#include "quillon/read/updater_file.h"
#include "quillon/report/json.h"

namespace quillon {

// quillon list --json: the header and every entry of a stamped updater.
void PrintPackageJson(const UpdaterFile& file);

// A version as JSON: {"parts": "1.2.1.31", "shown": "1.01", "high": ..., "low": ...}.
void WriteVersion(JsonWriter& json, zv::ProductVersion version);

// The names of the flags of an entry ("shared", "update-only", "ignored",
// and "0xNN" for bits of no name).
void WriteFlags(JsonWriter& json, uint16_t flags);

}  // namespace quillon

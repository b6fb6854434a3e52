// Opening a stamped updater file: its header and its file table.
#pragma once

#include <cstddef>
#include <string>

#include "package/integrity.h"
#include "package/table.h"
#include "platform/platform.h"

namespace quillon {

enum class UpdaterOpen {
    Ok,
    Unreadable,   // the file cannot be read
    NoHeader,     // no header block in the file
    SeveralHeaders,
    Unstamped,    // the header holds entryCount 0
    TableFailed,  // the table could not be loaded or is damaged (see table.status)
};

struct UpdaterFile {
    std::string path;
    size_t fileSize = 0;
    size_t headerOffset = 0;
    zv::PackageHeader header{};
    zv::PackageTable table;
    // The integrity block behind the table's records (never Damaged in a
    // file that opened: a damaged block makes the table Damaged).
    zv::PackageIntegrity integrity;
};

// Reads the header of `path` and loads its table through `os`. On anything
// but Ok, *error says what is wrong in words for the user. The table is
// loaded by the same code the updater uses; free it with CloseUpdaterFile.
// Ok includes a table whose records are whole but a member's name is refused
// (table.status NamesRefused): it may be shown, and every command that reads
// it must say that the updater refuses it (TableNameProblem).
UpdaterOpen OpenUpdaterFile(zv::Platform& os, const std::string& path, UpdaterFile* file,
                            std::string* error);
void CloseUpdaterFile(zv::Platform& os, UpdaterFile* file);

// Only the header of `path`, for the commands that leave the table to
// detection, as the updater does: OpenUpdaterFile's outcome (with TableFailed
// the header is still read), the file closed again.
UpdaterOpen ReadUpdaterHeader(zv::Platform& os, const std::string& path, zv::PackageHeader* header,
                              std::string* error);

// Where a Damaged table is damaged, in words for the user: the entry or the
// integrity block, its offset in the region, and what is wrong.
std::string TableDamageText(const zv::PackageTable& table);

// Whether the package carries integrity data: "SHA-256 of every member",
// "no integrity data", or a newer packer's block that is not read.
std::string IntegrityText(const zv::PackageIntegrity& integrity);
// The same as one word for JSON: "present", "absent" or "newer".
const char* IntegrityWord(const zv::PackageIntegrity& integrity);

// For a table with a refused name: which entry, its name and why, in words
// for the user (names with control characters escaped); empty otherwise.
std::string TableNameProblem(const zv::PackageTable& table);

// Why the updater refuses the name `name` of entry `index` (from 0) of
// `table`: the member name check's phrase, or, for the entry the table's
// check refused (a duplicate), its phrase and the earlier entry
// ("... (entry 3)"). Empty when the name is taken. Verify and extract report
// a refused name with it and never join such a name to a directory.
std::string RefusedNameReason(const zv::PackageTable& table, unsigned index, const char* name);

// The expanded bytes of every member, as the table's sizes in KB tell them:
// the total of a progress bar.
uint64_t TableExpandedSize(const zv::PackageTable& table);

}  // namespace quillon

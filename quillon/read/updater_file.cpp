#include "quillon/read/updater_file.h"

#include <vector>

#include "package/table_writer.h"
#include "quillon/base/cli.h"
#include "quillon/base/shown_text.h"

namespace quillon {

UpdaterOpen OpenUpdaterFile(zv::Platform& os, const std::string& path, UpdaterFile* file,
                            std::string* error) {
    *file = UpdaterFile{};
    file->path = path;
    std::vector<uint8_t> image;
    std::string why;
    if (!ReadWholeFile(path, &image, &why)) {
        *error = path + ": cannot read: " + why;
        return UpdaterOpen::Unreadable;
    }
    file->fileSize = image.size();
    switch (zv::FindPackageHeader(image.data(), image.size(), &file->headerOffset)) {
    case zv::HeaderSearch::NotFound:
        *error = path + ": no package header block; this is not an updater program";
        return UpdaterOpen::NoHeader;
    case zv::HeaderSearch::Several:
        *error = path + ": more than one package header block; the file cannot be told apart";
        return UpdaterOpen::SeveralHeaders;
    case zv::HeaderSearch::Found:
        break;
    }
    file->header = zv::DecodePackageHeader(image.data() + file->headerOffset);
    if (file->header.entryCount == 0) {
        *error = path + ": the updater is not stamped: it carries no package";
        return UpdaterOpen::Unstamped;
    }
    zv::TableStatus status = zv::LoadPackageTable(os, path.c_str(), file->header, &file->table);
    if (!zv::TableCanBeWalked(status)) {
        *error = path + ": file table: " + zv::TableStatusName(status);
        if (status == zv::TableStatus::Damaged) *error += " (" + TableDamageText(file->table) + ")";
        return UpdaterOpen::TableFailed;
    }
    zv::ReadPackageIntegrity(file->table, &file->integrity);
    return UpdaterOpen::Ok;
}

std::string TableDamageText(const zv::PackageTable& table) {
    const zv::TableCheck& check = table.check;
    if (check.damage == zv::TableDamage::IntegrityBlock) {
        return "integrity data at table offset " + std::to_string(check.offset) + ": " +
               zv::IntegrityDamageName(check.integrity);
    }
    return "entry " + std::to_string(check.entryIndex + 1) + " at table offset " + std::to_string(check.offset) +
           ": " + zv::TableDamageName(check.damage);
}

std::string IntegrityText(const zv::PackageIntegrity& integrity) {
    switch (integrity.status) {
    case zv::IntegrityStatus::Present: return "SHA-256 of every member";
    case zv::IntegrityStatus::Damaged: return std::string("damaged: ") + zv::IntegrityDamageName(integrity.damage);
    case zv::IntegrityStatus::Absent: break;
    }
    if (integrity.version > zv::INTEGRITY_VERSION) {
        return "integrity data of a newer format (version " + std::to_string(integrity.version) + "), not read";
    }
    return "no integrity data";
}

const char* IntegrityWord(const zv::PackageIntegrity& integrity) {
    switch (integrity.status) {
    case zv::IntegrityStatus::Present: return "present";
    case zv::IntegrityStatus::Damaged: return "damaged";
    case zv::IntegrityStatus::Absent: break;
    }
    return integrity.version > zv::INTEGRITY_VERSION ? "newer" : "absent";
}

void CloseUpdaterFile(zv::Platform& os, UpdaterFile* file) { zv::FreePackageTable(os, &file->table); }

UpdaterOpen ReadUpdaterHeader(zv::Platform& os, const std::string& path, zv::PackageHeader* header,
                              std::string* error) {
    UpdaterFile file;
    const UpdaterOpen opened = OpenUpdaterFile(os, path, &file, error);
    *header = file.header;
    CloseUpdaterFile(os, &file);
    return opened;
}

std::string TableNameProblem(const zv::PackageTable& table) {
    if (table.status != zv::TableStatus::NamesRefused) return std::string();
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (uint32_t i = 0; i < table.check.entryIndex; ++i) entry = zv::NextPackageEntry(entry);
    std::string text = "entry " + std::to_string(table.check.entryIndex + 1) + " '" + Shown(zv::EntryName(entry)) +
                       "': " + zv::MemberNameProblemName(table.check.nameProblem);
    if (table.check.nameProblem == zv::MemberNameProblem::Duplicate) {
        text += " (entry " + std::to_string(table.check.earlierIndex + 1) + ")";
    }
    return text + "; the updater refuses this package as damaged";
}

std::string RefusedNameReason(const zv::PackageTable& table, unsigned index, const char* name) {
    const zv::MemberNameProblem problem = zv::CheckMemberName(name);
    if (problem != zv::MemberNameProblem::None) return zv::MemberNameProblemName(problem);
    if (table.status == zv::TableStatus::NamesRefused && table.check.entryIndex == index) {
        return std::string(zv::MemberNameProblemName(table.check.nameProblem)) + " (entry " +
               std::to_string(table.check.earlierIndex + 1) + ")";
    }
    return std::string();
}

uint64_t TableExpandedSize(const zv::PackageTable& table) {
    uint64_t total = 0;
    zv::PackageEntry entry = zv::FirstPackageEntry(table);
    for (unsigned i = 0; i < table.entryCount; ++i, entry = zv::NextPackageEntry(entry)) {
        total += static_cast<uint64_t>(zv::EntrySizeKB(entry)) * 1024;
    }
    return total;
}

}  // namespace quillon

#include "quillon/report/json_reports.h"

#include <cstdio>

#include "detect/product_version.h"
#include "platform/languages.h"
#include "platform/sha256.h"
#include "quillon/base/name_encoding.h"

namespace quillon {

void WriteVersion(JsonWriter& json, zv::ProductVersion version) {
    char parts[32];
    char shown[32];
    zv::FormatVersionParts(version, parts, sizeof parts);
    zv::FormatVersion(version, shown, sizeof shown);
    json.BeginObject();
    json.Key("parts").String(parts);
    json.Key("shown").String(shown);
    json.Key("high").Number(version.high);
    json.Key("low").Number(version.low);
    json.EndObject();
}

void WriteFlags(JsonWriter& json, uint16_t flags) {
    json.BeginArray();
    if (flags & zv::ENTRY_IGNORED) json.String("ignored");
    if (flags & zv::ENTRY_SHARED) json.String("shared");
    if (flags & zv::ENTRY_UPDATE_ONLY) json.String("update-only");
    const uint16_t other =
        flags & static_cast<uint16_t>(~(zv::ENTRY_IGNORED | zv::ENTRY_SHARED | zv::ENTRY_UPDATE_ONLY));
    if (other != 0) {
        char hex[16];
        std::snprintf(hex, sizeof hex, "0x%02X", other);
        json.String(hex);
    }
    json.EndArray();
}

void PrintPackageJson(const UpdaterFile& f) {
    const zv::PackageHeader& h = f.header;
    JsonWriter json;
    json.BeginObject();
    json.Key("file").String(f.path);
    json.Key("fileSize").Number(f.fileSize);
    json.Key("headerOffset").Number(f.headerOffset);
    json.Key("entryCount").Number(h.entryCount);
    json.Key("tableOffset").Number(h.tableOffset);
    json.Key("tableSize").Number(h.tableSize);
    json.Key("dataOffset").Number(h.dataOffset);
    json.Key("version");
    WriteVersion(json, h.version);
    json.Key("language").Number(h.language);
    const zv::Language* language = zv::FindLanguage(h.language);
    json.Key("languageName");
    if (language != nullptr) {
        json.String(DecodeFromCodePage(language->name, 1252));
    } else {
        json.Null();
    }
    json.Key("codePage").Number(LanguageCodePage(h.language));
    json.Key("integrity").String(IntegrityWord(f.integrity));
    json.Key("integrityVersion");
    if (f.integrity.version != 0) {
        json.Number(f.integrity.version);
    } else {
        json.Null();
    }
    json.Key("entries").BeginArray();
    zv::PackageEntry e = zv::FirstPackageEntry(f.table);
    for (unsigned i = 0; i < f.table.entryCount; ++i, e = zv::NextPackageEntry(e)) {
        json.BeginObject();
        json.Key("index").Number(i + 1);
        // The name itself: the JSON writer escapes what needs escaping.
        json.Key("name").String(DecodeFromCodePage(zv::EntryName(e), LanguageCodePage(h.language)));
        json.Key("flags");
        WriteFlags(json, zv::EntryFlags(e));
        json.Key("version");
        if (zv::EntryHasVersion(e)) {
            WriteVersion(json, zv::EntryVersion(e));
        } else {
            json.Null();
        }
        json.Key("sizeKB").Number(zv::EntrySizeKB(e));
        json.Key("pieces").BeginArray();
        for (const uint8_t* p = zv::EntryPieces(e);; p += zv::PACKAGE_PIECE_SIZE) {
            const zv::PackagePiece piece = zv::ReadPackagePiece(p);
            if (zv::IsLastPiece(piece)) break;
            json.BeginObject();
            json.Key("volume").Number(piece.volume);
            json.Key("offset").Number(piece.offset);
            json.Key("length").Number(piece.length);
            json.EndObject();
        }
        json.EndArray();
        json.Key("sha256");
        if (const uint8_t* digest = zv::MemberDigest(f.integrity, i)) {
            char hex[zv::SHA256_HEX_SIZE];
            zv::Sha256Hex(digest, hex);
            json.String(hex);
        } else {
            json.Null();
        }
        json.EndObject();
    }
    json.EndArray();
    json.EndObject();
}

}  // namespace quillon

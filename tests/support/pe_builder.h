// Small executables with a version resource and marker blocks, written by our
// own code, so that every case of the version and marker readers is a few
// lines: PE32 and PE32+ images with a resource section, and 16-bit NE files
// with a resource table. They hold no code; they load as data files.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "package/format.h"

namespace zvtest {

// One text of a string table.
struct VersionText {
    std::string key;    // "InternalName"
    std::string value;  // UTF-8; UTF-16 in the 32-bit layout, the bytes as they are in the 16-bit one
    bool noValue = false;  // wValueLength 0: the key with no text at all, not even its zero
};

struct VersionTextTable {
    std::string key;  // "040904E4"
    std::vector<VersionText> texts;
};

// What a version resource says.
struct VersionInfoDescription {
    bool fixedInfo = true;  // false: the root carries no VS_FIXEDFILEINFO
    zv::ProductVersion fileVersion{0, 0};
    zv::ProductVersion productVersion{0, 0};
    bool varFileInfo = true;
    std::vector<uint32_t> translations;  // language | code page << 16, in order
    bool stringFileInfo = true;
    std::vector<VersionTextTable> tables;
};

// The usual resource: the file version (also as product version), one
// translation (language, code page 1252) and table `table` with
// "CompanyName", "FileVersion" and "InternalName" = `internalName`.
VersionInfoDescription ProductVersionInfo(zv::ProductVersion version, uint16_t language,
                                   const std::string& internalName, const std::string& table = "040904E4");

enum class VersionLayout { Wide, Narrow };  // 32-bit (wType, UTF-16) or 16-bit (8-bit texts)

// The bytes of a VS_VERSIONINFO resource.
std::vector<uint8_t> BuildVersionInfo(const VersionInfoDescription& desc, VersionLayout layout);

enum class ExeFormat { Pe32, Pe32Plus, Ne };

const char* ExeFormatName(ExeFormat format);

struct FixtureResource {
    uint16_t type = 16;     // numeric type, unless typeName is set
    std::string typeName;   // a named type
    uint16_t id = 1;        // numeric id, unless name is set
    std::string name;       // a named resource
    uint16_t language = 0x409;  // PE only; NE resources have none
    std::vector<uint8_t> data;
};

struct ExeDescription {
    ExeFormat format = ExeFormat::Pe32;
    std::vector<FixtureResource> resources;  // in directory order
    std::vector<uint8_t> data;               // the data section (PE) or bytes behind the tables (NE)
    uint16_t neAlignShift = 4;
};

std::vector<uint8_t> BuildExecutable(const ExeDescription& desc);

// A file of `format` whose one resource is the version resource made from
// `info` (id 1, language 0x409) in its format's layout, with `data` in its
// data section.
std::vector<uint8_t> BuildVersionedExecutable(ExeFormat format, const VersionInfoDescription& info,
                                              const std::vector<uint8_t>& data = {});

// 77 77, the key (little-endian), the data.
std::vector<uint8_t> MarkerBlockBytes(uint32_t key, const std::vector<uint8_t>& data);

// Appends `more` to `bytes`.
void AppendBytes(std::vector<uint8_t>* bytes, const std::vector<uint8_t>& more);

}  // namespace zvtest

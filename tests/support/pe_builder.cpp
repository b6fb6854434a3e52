#include "tests/support/pe_builder.h"

#include <algorithm>
#include <cstdio>
#include <stdexcept>

#include "platform/bytes.h"

namespace zvtest {
namespace {

void PutU16(std::vector<uint8_t>& out, size_t at, uint16_t v) { zv::StoreU16LE(out.data() + at, v); }
void PutU32(std::vector<uint8_t>& out, size_t at, uint32_t v) { zv::StoreU32LE(out.data() + at, v); }
void PushU16(std::vector<uint8_t>& out, uint16_t v) {
    out.push_back(static_cast<uint8_t>(v));
    out.push_back(static_cast<uint8_t>(v >> 8));
}
void PushU32(std::vector<uint8_t>& out, uint32_t v) {
    PushU16(out, static_cast<uint16_t>(v));
    PushU16(out, static_cast<uint16_t>(v >> 16));
}
void PadTo(std::vector<uint8_t>& out, size_t alignment) {
    while (out.size() % alignment != 0) out.push_back(0);
}
size_t AlignUp(size_t n, size_t alignment) { return (n + alignment - 1) / alignment * alignment; }

std::u16string Utf16(const std::string& utf8) {
    std::u16string out;
    for (size_t i = 0; i < utf8.size();) {
        unsigned c = static_cast<uint8_t>(utf8[i]);
        unsigned extra = c >= 0xF0 ? 3 : c >= 0xE0 ? 2 : c >= 0xC0 ? 1 : 0;
        unsigned code = extra == 0 ? c : c & (0x3F >> extra);
        ++i;
        for (unsigned k = 0; k < extra && i < utf8.size(); ++k, ++i) code = (code << 6) | (utf8[i] & 0x3F);
        if (code >= 0x10000) {
            code -= 0x10000;
            out.push_back(static_cast<char16_t>(0xD800 + (code >> 10)));
            out.push_back(static_cast<char16_t>(0xDC00 + (code & 0x3FF)));
        } else {
            out.push_back(static_cast<char16_t>(code));
        }
    }
    return out;
}

// A node of VS_VERSIONINFO before it is laid out.
struct VersionNode {
    std::string key;
    std::vector<uint8_t> value;
    uint16_t valueLength = 0;  // as stored: bytes, or characters for a wide text
    uint16_t type = 0;         // wide layout only: 1 for texts
    std::vector<VersionNode> children;
};

std::vector<uint8_t> LayOut(const VersionNode& node, VersionLayout layout) {
    std::vector<uint8_t> out;
    PushU16(out, 0);
    PushU16(out, node.valueLength);
    if (layout == VersionLayout::Wide) {
        PushU16(out, node.type);
        for (char16_t c : Utf16(node.key)) PushU16(out, c);
        PushU16(out, 0);
    } else {
        out.insert(out.end(), node.key.begin(), node.key.end());
        out.push_back(0);
    }
    PadTo(out, 4);
    out.insert(out.end(), node.value.begin(), node.value.end());
    for (const VersionNode& child : node.children) {
        PadTo(out, 4);
        AppendBytes(&out, LayOut(child, layout));
    }
    if (out.size() > 0xFFFF) throw std::length_error("version node too long");
    PutU16(out, 0, static_cast<uint16_t>(out.size()));
    return out;
}

VersionNode TextNode(const VersionText& text, VersionLayout layout) {
    VersionNode node;
    node.key = text.key;
    node.type = 1;
    if (text.noValue) return node;
    if (layout == VersionLayout::Wide) {
        std::u16string wide = Utf16(text.value);
        for (char16_t c : wide) PushU16(node.value, c);
        PushU16(node.value, 0);
        node.valueLength = static_cast<uint16_t>(wide.size() + 1);
    } else {
        node.value.assign(text.value.begin(), text.value.end());
        node.value.push_back(0);
        node.valueLength = static_cast<uint16_t>(node.value.size());
    }
    return node;
}

std::vector<uint8_t> FixedFileInfo(const VersionInfoDescription& desc, VersionLayout layout) {
    std::vector<uint8_t> out;
    PushU32(out, 0xFEEF04BD);  // signature
    PushU32(out, 0x00010000);  // structure version
    PushU32(out, desc.fileVersion.high);
    PushU32(out, desc.fileVersion.low);
    PushU32(out, desc.productVersion.high);
    PushU32(out, desc.productVersion.low);
    PushU32(out, 0x3F);  // flags mask
    PushU32(out, 0);     // flags
    PushU32(out, layout == VersionLayout::Wide ? 0x00040004 : 0x00000001);  // NT Win32 / Win16
    PushU32(out, layout == VersionLayout::Wide ? 2 : 1);  // DLL / application
    PushU32(out, 0);
    PushU32(out, 0);
    PushU32(out, 0);
    return out;
}

// --- PE -------------------------------------------------------------------------

constexpr uint32_t kFileAlignment = 0x200;
constexpr uint32_t kSectionAlignment = 0x1000;
constexpr uint32_t kPeOffset = 0x80;

struct Section {
    std::string name;
    uint32_t rva;
    std::vector<uint8_t> bytes;
};

struct LanguageItem {
    uint16_t language;
    const std::vector<uint8_t>* data;
};
struct NameItem {
    std::string name;  // empty: numeric
    uint16_t id;
    std::vector<LanguageItem> languages;
};
struct TypeItem {
    std::string name;
    uint16_t id;
    std::vector<NameItem> names;
};

// Named entries first, by name; then numeric ones, ascending.
template <typename T>
void SortEntries(std::vector<T>& items) {
    std::stable_sort(items.begin(), items.end(), [](const T& a, const T& b) {
        if (a.name.empty() != b.name.empty()) return !a.name.empty();
        if (!a.name.empty()) return a.name < b.name;
        return a.id < b.id;
    });
}

std::vector<uint8_t> ResourceSection(const std::vector<FixtureResource>& resources, uint32_t rva) {
    std::vector<TypeItem> types;
    for (const FixtureResource& r : resources) {
        auto type = std::find_if(types.begin(), types.end(), [&](const TypeItem& t) {
            return t.name == r.typeName && (!r.typeName.empty() || t.id == r.type);
        });
        if (type == types.end()) type = types.insert(types.end(), TypeItem{r.typeName, r.type, {}});
        auto name = std::find_if(type->names.begin(), type->names.end(), [&](const NameItem& n) {
            return n.name == r.name && (!r.name.empty() || n.id == r.id);
        });
        if (name == type->names.end()) name = type->names.insert(type->names.end(), NameItem{r.name, r.id, {}});
        name->languages.push_back(LanguageItem{r.language, &r.data});
    }
    SortEntries(types);
    for (TypeItem& t : types) SortEntries(t.names);

    // Directories, then data entries, then names, then data.
    auto directorySize = [](size_t entries) { return 16 + 8 * entries; };
    size_t size = directorySize(types.size());
    std::vector<size_t> typeDirs, nameDirs;
    for (const TypeItem& t : types) {
        typeDirs.push_back(size);
        size += directorySize(t.names.size());
    }
    for (const TypeItem& t : types) {
        for (const NameItem& n : t.names) {
            nameDirs.push_back(size);
            size += directorySize(n.languages.size());
        }
    }
    size_t dataEntries = size;
    size_t leafCount = 0;
    for (const TypeItem& t : types) {
        for (const NameItem& n : t.names) leafCount += n.languages.size();
    }
    size += 16 * leafCount;
    std::vector<uint8_t> out(size, 0);
    auto addName = [&out](const std::string& name) {
        size_t at = out.size();
        std::u16string wide = Utf16(name);
        PushU16(out, static_cast<uint16_t>(wide.size()));
        for (char16_t c : wide) PushU16(out, c);
        return static_cast<uint32_t>(0x80000000u | at);
    };
    auto writeDirectory = [&out](size_t at, size_t named, size_t ids) {
        PutU16(out, at + 12, static_cast<uint16_t>(named));
        PutU16(out, at + 14, static_cast<uint16_t>(ids));
    };
    auto countNamed = [](const auto& items) {
        return static_cast<size_t>(std::count_if(items.begin(), items.end(), [](const auto& i) { return !i.name.empty(); }));
    };
    writeDirectory(0, countNamed(types), types.size() - countNamed(types));
    size_t nameDirIndex = 0;
    size_t leaf = 0;
    std::vector<std::pair<size_t, const std::vector<uint8_t>*>> blobs;
    for (size_t ti = 0; ti < types.size(); ++ti) {
        const TypeItem& t = types[ti];
        size_t entry = 16 + 8 * ti;
        PutU32(out, entry, t.name.empty() ? t.id : addName(t.name));
        PutU32(out, entry + 4, static_cast<uint32_t>(0x80000000u | typeDirs[ti]));
        writeDirectory(typeDirs[ti], countNamed(t.names), t.names.size() - countNamed(t.names));
        for (size_t ni = 0; ni < t.names.size(); ++ni, ++nameDirIndex) {
            const NameItem& n = t.names[ni];
            size_t nameEntry = typeDirs[ti] + 16 + 8 * ni;
            PutU32(out, nameEntry, n.name.empty() ? n.id : addName(n.name));
            PutU32(out, nameEntry + 4, static_cast<uint32_t>(0x80000000u | nameDirs[nameDirIndex]));
            writeDirectory(nameDirs[nameDirIndex], 0, n.languages.size());
            for (size_t li = 0; li < n.languages.size(); ++li, ++leaf) {
                size_t languageEntry = nameDirs[nameDirIndex] + 16 + 8 * li;
                size_t dataEntry = dataEntries + 16 * leaf;
                PutU32(out, languageEntry, n.languages[li].language);
                PutU32(out, languageEntry + 4, static_cast<uint32_t>(dataEntry));
                blobs.emplace_back(dataEntry, n.languages[li].data);
            }
        }
    }
    for (const auto& [dataEntry, data] : blobs) {
        PadTo(out, 8);
        PutU32(out, dataEntry, static_cast<uint32_t>(rva + out.size()));
        PutU32(out, dataEntry + 4, static_cast<uint32_t>(data->size()));
        out.insert(out.end(), data->begin(), data->end());
    }
    return out;
}

std::vector<uint8_t> BuildPe(const ExeDescription& desc) {
    bool plus = desc.format == ExeFormat::Pe32Plus;
    std::vector<Section> sections;
    sections.push_back(Section{".data", kSectionAlignment, desc.data.empty() ? std::vector<uint8_t>(16, 0) : desc.data});
    uint32_t resourceRva = static_cast<uint32_t>(AlignUp(kSectionAlignment + sections[0].bytes.size(), kSectionAlignment));
    if (!desc.resources.empty()) {
        sections.push_back(Section{".rsrc", resourceRva, ResourceSection(desc.resources, resourceRva)});
    }
    const uint32_t optionalSize = plus ? 240 : 224;
    const uint32_t headersEnd = kPeOffset + 4 + 20 + optionalSize + 40 * static_cast<uint32_t>(sections.size());
    const uint32_t headersSize = static_cast<uint32_t>(AlignUp(headersEnd, kFileAlignment));

    std::vector<uint8_t> out(headersSize, 0);
    out[0] = 'M';
    out[1] = 'Z';
    PutU16(out, 2, 0x90);  // bytes on the last page
    PutU16(out, 4, 3);     // pages
    PutU16(out, 8, 4);     // header paragraphs
    PutU16(out, 0x18, 0x40);
    PutU32(out, 0x3C, kPeOffset);
    std::copy_n("PE\0\0", 4, out.begin() + kPeOffset);
    size_t file = kPeOffset + 4;
    PutU16(out, file, plus ? 0x8664 : 0x014C);
    PutU16(out, file + 2, static_cast<uint16_t>(sections.size()));
    PutU16(out, file + 16, static_cast<uint16_t>(optionalSize));
    PutU16(out, file + 18, plus ? 0x0022 : 0x0102);  // executable; large addresses / 32-bit machine
    size_t opt = file + 20;
    PutU16(out, opt, plus ? 0x20B : 0x10B);
    out[opt + 2] = 6;  // linker version
    uint32_t imageEnd = kSectionAlignment;
    for (const Section& s : sections) {
        imageEnd = static_cast<uint32_t>(AlignUp(s.rva + s.bytes.size(), kSectionAlignment));
    }
    PutU32(out, opt + 8, static_cast<uint32_t>(sections[0].bytes.size()));  // initialised data
    if (plus) {
        PutU32(out, opt + 24, 0x40000000);  // image base, low word (high word 1)
        PutU32(out, opt + 28, 0x1);
    } else {
        PutU32(out, opt + 24, kSectionAlignment);  // base of data
        PutU32(out, opt + 28, 0x00400000);         // image base
    }
    PutU32(out, opt + 32, kSectionAlignment);
    PutU32(out, opt + 36, kFileAlignment);
    PutU16(out, opt + 40, 4);  // OS version
    PutU16(out, opt + 48, 4);  // subsystem version
    PutU32(out, opt + 56, imageEnd);
    PutU32(out, opt + 60, headersSize);
    PutU16(out, opt + 68, 2);  // GUI subsystem
    size_t stack = opt + 72;
    if (plus) {
        PutU32(out, stack, 0x100000);
        PutU32(out, stack + 8, 0x1000);
        PutU32(out, stack + 16, 0x100000);
        PutU32(out, stack + 24, 0x1000);
    } else {
        PutU32(out, stack, 0x100000);
        PutU32(out, stack + 4, 0x1000);
        PutU32(out, stack + 8, 0x100000);
        PutU32(out, stack + 12, 0x1000);
    }
    size_t directories = opt + (plus ? 112 : 96);
    PutU32(out, opt + (plus ? 108 : 92), 16);
    if (sections.size() > 1) {
        PutU32(out, directories + 16, sections[1].rva);
        PutU32(out, directories + 20, static_cast<uint32_t>(sections[1].bytes.size()));
    }
    size_t table = opt + optionalSize;
    for (const Section& s : sections) {
        std::copy(s.name.begin(), s.name.end(), out.begin() + table);
        uint32_t rawSize = static_cast<uint32_t>(AlignUp(s.bytes.size(), kFileAlignment));
        PutU32(out, table + 8, static_cast<uint32_t>(s.bytes.size()));
        PutU32(out, table + 12, s.rva);
        PutU32(out, table + 16, rawSize);
        PutU32(out, table + 20, static_cast<uint32_t>(out.size()));
        PutU32(out, table + 36, 0xC0000040);  // initialised data, readable, writable
        out.insert(out.end(), s.bytes.begin(), s.bytes.end());
        PadTo(out, kFileAlignment);
        table += 40;
    }
    return out;
}

// --- NE ---------------------------------------------------------------------------

constexpr uint32_t kNeOffset = 0x40;

std::vector<uint8_t> BuildNe(const ExeDescription& desc) {
    const uint32_t unit = 1u << desc.neAlignShift;
    // The resource table, relative to its own start; names follow the types.
    std::vector<uint8_t> table;
    PushU16(table, desc.neAlignShift);
    struct Pending {
        size_t entry;
        const FixtureResource* resource;
    };
    std::vector<Pending> pending;
    std::vector<std::pair<size_t, std::string>> nameRefs;
    std::vector<std::string> typeOrder;
    std::vector<std::vector<const FixtureResource*>> groups;
    for (const FixtureResource& r : desc.resources) {
        std::string key = r.typeName.empty() ? "#" + std::to_string(r.type) : r.typeName;
        auto at = std::find(typeOrder.begin(), typeOrder.end(), key);
        if (at == typeOrder.end()) {
            typeOrder.push_back(key);
            groups.emplace_back();
            at = typeOrder.end() - 1;
        }
        groups[static_cast<size_t>(at - typeOrder.begin())].push_back(&r);
    }
    for (const auto& group : groups) {
        const FixtureResource& first = *group.front();
        if (first.typeName.empty()) {
            PushU16(table, static_cast<uint16_t>(0x8000 | first.type));
        } else {
            nameRefs.emplace_back(table.size(), first.typeName);
            PushU16(table, 0);
        }
        PushU16(table, static_cast<uint16_t>(group.size()));
        PushU32(table, 0);
        for (const FixtureResource* r : group) {
            pending.push_back(Pending{table.size(), r});
            PushU16(table, 0);  // offset, filled below
            PushU16(table, static_cast<uint16_t>((r->data.size() + unit - 1) / unit));
            PushU16(table, 0x0030);  // moveable, shareable
            if (r->name.empty()) {
                PushU16(table, static_cast<uint16_t>(0x8000 | r->id));
            } else {
                nameRefs.emplace_back(table.size(), r->name);
                PushU16(table, 0);
            }
            PushU32(table, 0);
        }
    }
    PushU16(table, 0);
    for (const auto& [at, name] : nameRefs) {
        PutU16(table, at, static_cast<uint16_t>(table.size()));
        table.push_back(static_cast<uint8_t>(name.size()));
        table.insert(table.end(), name.begin(), name.end());
    }
    table.push_back(0);

    // Header, resource table, resident names, module references (none),
    // imported names, entry table, non-resident names, data, resources.
    std::vector<uint8_t> out(kNeOffset + 0x40, 0);
    out[0] = 'M';
    out[1] = 'Z';
    PutU16(out, 2, 0x80);
    PutU16(out, 4, 1);
    PutU16(out, 8, 4);
    PutU16(out, 0x18, 0x40);
    PutU32(out, 0x3C, kNeOffset);
    const size_t ne = kNeOffset;
    out[ne] = 'N';
    out[ne + 1] = 'E';
    out[ne + 2] = 5;   // linker version
    out[ne + 3] = 10;
    out[ne + 0x0C] = 0x0A;  // program flags: multiple data, protected-mode only
    out[ne + 0x0D] = 0x03;  // application flags: uses the Windows API
    PutU16(out, ne + 0x22, 0x40);  // segment table (no segments)
    PutU16(out, ne + 0x24, 0x40);  // resource table
    out.resize(out.size() + table.size());
    std::copy(table.begin(), table.end(), out.end() - static_cast<std::ptrdiff_t>(table.size()));
    PutU16(out, ne + 0x26, static_cast<uint16_t>(out.size() - ne));  // resident names
    const std::string module = "ZVFIXTURE";
    out.push_back(static_cast<uint8_t>(module.size()));
    out.insert(out.end(), module.begin(), module.end());
    PushU16(out, 0);
    out.push_back(0);
    PutU16(out, ne + 0x28, static_cast<uint16_t>(out.size() - ne));  // module references
    PutU16(out, ne + 0x2A, static_cast<uint16_t>(out.size() - ne));  // imported names
    out.push_back(0);
    PutU16(out, ne + 0x04, static_cast<uint16_t>(out.size() - ne));  // entry table
    PutU16(out, ne + 0x06, 2);
    PushU16(out, 0);
    PutU32(out, ne + 0x2C, static_cast<uint32_t>(out.size()));  // non-resident names
    const std::string description = "Fixture";
    out.push_back(static_cast<uint8_t>(description.size()));
    out.insert(out.end(), description.begin(), description.end());
    PushU16(out, 0);
    out.push_back(0);
    PutU16(out, ne + 0x20, static_cast<uint16_t>(description.size() + 4));
    PutU16(out, ne + 0x32, desc.neAlignShift);  // segment alignment shift
    PutU16(out, ne + 0x34, static_cast<uint16_t>(desc.resources.size()));
    out[ne + 0x36] = 2;  // Windows
    PutU16(out, ne + 0x3E, 0x030A);  // Windows 3.10
    out.insert(out.end(), desc.data.begin(), desc.data.end());
    for (const Pending& p : pending) {
        PadTo(out, unit);
        if (out.size() / unit > 0xFFFF) throw std::length_error("NE resource beyond reach of its shift");
        PutU16(out, ne + 0x40 + p.entry, static_cast<uint16_t>(out.size() / unit));
        out.insert(out.end(), p.resource->data.begin(), p.resource->data.end());
    }
    PadTo(out, unit);
    return out;
}

}  // namespace

VersionInfoDescription ProductVersionInfo(zv::ProductVersion version, uint16_t language, const std::string& internalName,
                                   const std::string& table) {
    VersionInfoDescription desc;
    desc.fileVersion = version;
    desc.productVersion = version;
    desc.translations = {static_cast<uint32_t>(language) | (1252u << 16)};
    char versionText[32];
    std::snprintf(versionText, sizeof versionText, "%u.%u.%u.%u", zv::VersionMajor(version),
                  zv::VersionMinor(version), zv::VersionRelease(version), zv::VersionBuild(version));
    desc.tables = {VersionTextTable{table,
                                    {{"CompanyName", "Fixture Works"},
                                     {"FileVersion", versionText},
                                     {"InternalName", internalName}}}};
    return desc;
}

std::vector<uint8_t> BuildVersionInfo(const VersionInfoDescription& desc, VersionLayout layout) {
    VersionNode root;
    root.key = "VS_VERSION_INFO";
    if (desc.fixedInfo) {
        root.value = FixedFileInfo(desc, layout);
        root.valueLength = static_cast<uint16_t>(root.value.size());
    }
    if (desc.stringFileInfo) {
        VersionNode strings;
        strings.key = "StringFileInfo";
        strings.type = 1;
        for (const VersionTextTable& t : desc.tables) {
            VersionNode table;
            table.key = t.key;
            table.type = 1;
            for (const VersionText& text : t.texts) table.children.push_back(TextNode(text, layout));
            strings.children.push_back(table);
        }
        root.children.push_back(strings);
    }
    if (desc.varFileInfo) {
        VersionNode vars;
        vars.key = "VarFileInfo";
        vars.type = 1;
        VersionNode translation;
        translation.key = "Translation";
        for (uint32_t t : desc.translations) PushU32(translation.value, t);
        translation.valueLength = static_cast<uint16_t>(translation.value.size());
        vars.children.push_back(translation);
        root.children.push_back(vars);
    }
    return LayOut(root, layout);
}

const char* ExeFormatName(ExeFormat format) {
    switch (format) {
    case ExeFormat::Pe32: return "pe32";
    case ExeFormat::Pe32Plus: return "pe32plus";
    case ExeFormat::Ne: return "ne";
    }
    return "?";
}

std::vector<uint8_t> BuildExecutable(const ExeDescription& desc) {
    return desc.format == ExeFormat::Ne ? BuildNe(desc) : BuildPe(desc);
}

std::vector<uint8_t> BuildVersionedExecutable(ExeFormat format, const VersionInfoDescription& info,
                                              const std::vector<uint8_t>& data) {
    ExeDescription desc;
    desc.format = format;
    desc.data = data;
    FixtureResource version;
    version.data = BuildVersionInfo(info, format == ExeFormat::Ne ? VersionLayout::Narrow : VersionLayout::Wide);
    desc.resources.push_back(version);
    return BuildExecutable(desc);
}

std::vector<uint8_t> MarkerBlockBytes(uint32_t key, const std::vector<uint8_t>& data) {
    std::vector<uint8_t> out = {0x77, 0x77};
    PushU32(out, key);
    out.insert(out.end(), data.begin(), data.end());
    return out;
}

void AppendBytes(std::vector<uint8_t>* bytes, const std::vector<uint8_t>& more) {
    bytes->insert(bytes->end(), more.begin(), more.end());
}

}  // namespace zvtest

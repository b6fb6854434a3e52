#include "platform/version_resource.h"

#include <cstring>

#include "platform/bytes.h"
#include "platform/code_page.h"
#include "platform/text.h"

namespace zv {
namespace {

// --- Reading the file ---------------------------------------------------------

bool ReadU16(const FileBytes& file, uint64_t offset, uint16_t* value) {
    uint8_t b[2];
    if (!file.readAt(file, offset, b, 2)) return false;
    *value = LoadU16LE(b);
    return true;
}

bool ReadU32(const FileBytes& file, uint64_t offset, uint32_t* value) {
    uint8_t b[4];
    if (!file.readAt(file, offset, b, 4)) return false;
    *value = LoadU32LE(b);
    return true;
}

bool ReadMemory(const FileBytes& file, uint64_t offset, void* out, uint32_t count) {
    if (offset > file.size || count > file.size - offset) return false;
    if (count != 0) std::memcpy(out, static_cast<const uint8_t*>(file.context) + offset, count);
    return true;
}

// Offset of the "PE\0\0" or "NE" header, from the "MZ" header's e_lfanew.
bool NewHeaderOffset(const FileBytes& file, uint32_t* offset) {
    uint16_t mz;
    if (!ReadU16(file, 0, &mz) || mz != 0x5A4D) return false;  // "MZ"
    return ReadU32(file, 0x3C, offset);
}

// --- PE ---------------------------------------------------------------------------
//
// From the "PE\0\0" signature: the 20-byte file header (section count at 2,
// optional header size at 16), then the optional header, whose magic 0x10B
// (PE32) or 0x20B (PE32+) decides where the data directories lie; entry 2 is
// the resource directory (RVA, size). The section table follows the
// optional header, 40 bytes a section: virtual address at 12, size of raw
// data at 16, pointer to raw data at 20. The file is read as it lies, not as
// it would be loaded: an RVA is found through the section that holds it.

constexpr uint32_t kPeSectionSize = 40;
constexpr uint32_t kResourceDirectoryIndex = 2;
constexpr uint16_t kVersionType = 16;  // RT_VERSION
constexpr uint16_t kVersionId = 1;     // VS_VERSION_INFO

struct PeImage {
    uint64_t sections = 0;  // file offset of the section table
    uint16_t sectionCount = 0;
    uint32_t resourceRva = 0;
};

bool ReadPeImage(const FileBytes& file, uint32_t pe, ExecutableKind kind, PeImage* image) {
    uint64_t fileHeader = uint64_t{pe} + 4;
    uint16_t optionalSize;
    if (!ReadU16(file, fileHeader + 2, &image->sectionCount) || !ReadU16(file, fileHeader + 16, &optionalSize)) {
        return false;
    }
    uint64_t optional = fileHeader + 20;
    uint64_t countAt = optional + (kind == ExecutableKind::Pe32 ? 92 : 108);
    uint64_t directories = optional + (kind == ExecutableKind::Pe32 ? 96 : 112);
    uint32_t directoryCount;
    if (!ReadU32(file, countAt, &directoryCount) || directoryCount <= kResourceDirectoryIndex) return false;
    if (!ReadU32(file, directories + 8 * kResourceDirectoryIndex, &image->resourceRva)) return false;
    image->sections = optional + optionalSize;
    return image->resourceRva != 0;
}

bool RvaToOffset(const FileBytes& file, const PeImage& image, uint32_t rva, uint64_t* offset) {
    for (uint32_t i = 0; i < image.sectionCount; ++i) {
        uint64_t section = image.sections + uint64_t{i} * kPeSectionSize;
        uint32_t address, rawSize, rawPointer;
        if (!ReadU32(file, section + 12, &address) || !ReadU32(file, section + 16, &rawSize) ||
            !ReadU32(file, section + 20, &rawPointer)) {
            return false;
        }
        if (rva >= address && uint64_t{rva} < uint64_t{address} + rawSize) {
            *offset = uint64_t{rawPointer} + (rva - address);
            return true;
        }
    }
    return false;
}

// A resource directory: 16 bytes (named entry count at 12, id entry count at
// 14), then its entries of 8 bytes, the named ones first. An entry's first
// word is its id (high bit clear) or a name; its second word is, relative to
// the start of the resource section, a subdirectory (high bit set) or a data
// entry (RVA of the data, size).
constexpr uint32_t kSubdirectoryBit = 0x80000000u;

// The second word of the id entry `id` of the directory at `directory`.
bool FindIdEntry(const FileBytes& file, uint64_t directory, uint16_t id, uint32_t* target) {
    uint16_t named, ids;
    if (!ReadU16(file, directory + 12, &named) || !ReadU16(file, directory + 14, &ids)) return false;
    for (uint32_t i = 0; i < ids; ++i) {
        uint64_t entry = directory + 16 + 8 * (uint64_t{named} + i);
        uint32_t name;
        if (!ReadU32(file, entry, &name) || !ReadU32(file, entry + 4, target)) return false;
        if (name == id) return true;
    }
    return false;
}

// The second word of the language entry that the system's resource loader
// takes from the language directory at `languages`: the neutral language
// (0) when it is listed, else the user's language, else U.S. English, else
// the first entry, named or not.
bool PickLanguage(const FileBytes& file, uint64_t languages, uint16_t userLanguage, uint32_t* target) {
    uint16_t named, ids;
    if (!ReadU16(file, languages + 12, &named) || !ReadU16(file, languages + 14, &ids) || named + ids == 0) {
        return false;
    }
    const uint16_t preferred[] = {0, userLanguage, kUsEnglish};
    for (uint16_t language : preferred) {
        if (FindIdEntry(file, languages, language, target)) return true;
    }
    return ReadU32(file, languages + 16 + 4, target);
}

bool FindPeVersion(const FileBytes& file, uint32_t pe, ExecutableKind kind, uint16_t userLanguage,
                   VersionResourceSpan* span) {
    PeImage image;
    uint64_t root;
    if (!ReadPeImage(file, pe, kind, &image) || !RvaToOffset(file, image, image.resourceRva, &root)) return false;
    uint32_t target;
    if (!FindIdEntry(file, root, kVersionType, &target) || !(target & kSubdirectoryBit)) return false;
    if (!FindIdEntry(file, root + (target & ~kSubdirectoryBit), kVersionId, &target) ||
        !(target & kSubdirectoryBit)) {
        return false;
    }
    if (!PickLanguage(file, root + (target & ~kSubdirectoryBit), userLanguage, &target) ||
        (target & kSubdirectoryBit)) {
        return false;
    }
    uint32_t dataRva, dataSize;
    if (!ReadU32(file, root + target, &dataRva) || !ReadU32(file, root + target + 4, &dataSize)) return false;
    uint64_t offset;
    if (!RvaToOffset(file, image, dataRva, &offset)) return false;
    span->kind = kind;
    span->offset = offset;
    span->length = dataSize;
    return true;
}

// --- NE ---------------------------------------------------------------------------
//
// From the "NE" signature: the offset of the resource table at 0x24 (relative
// to the signature). The table starts with the alignment shift, then one
// group per type: type id (0 ends the table; high bit set for a numeric
// type), resource count, 4 reserved bytes, and that many 12-byte entries:
// offset and length in units of 1 << shift, flags, id (high bit set for a
// numeric id), 4 reserved bytes.

constexpr uint16_t kNeNumeric = 0x8000;
constexpr uint32_t kNeEntrySize = 12;

bool FindNeVersion(const FileBytes& file, uint32_t ne, VersionResourceSpan* span) {
    uint16_t tableOffset;
    if (!ReadU16(file, uint64_t{ne} + 0x24, &tableOffset)) return false;
    uint64_t table = uint64_t{ne} + tableOffset;
    uint16_t shift;
    if (!ReadU16(file, table, &shift) || shift >= 32) return false;
    uint64_t group = table + 2;
    for (;;) {
        uint16_t type, count;
        if (!ReadU16(file, group, &type) || type == 0 || !ReadU16(file, group + 2, &count)) return false;
        if (type == (kNeNumeric | kVersionType)) {
            for (uint32_t i = 0; i < count; ++i) {
                uint64_t entry = group + 8 + uint64_t{i} * kNeEntrySize;
                uint16_t units, lengthUnits, id;
                if (!ReadU16(file, entry, &units) || !ReadU16(file, entry + 2, &lengthUnits) ||
                    !ReadU16(file, entry + 6, &id)) {
                    return false;
                }
                if (id != (kNeNumeric | kVersionId)) continue;
                uint64_t length = uint64_t{lengthUnits} << shift;
                span->kind = ExecutableKind::Ne;
                span->offset = uint64_t{units} << shift;
                span->length = length > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(length);
                return true;
            }
        }
        group += 8 + uint64_t{count} * kNeEntrySize;
    }
}

// True when the file holds the resource's data in full. A PE data entry
// gives the data's exact size. An NE length is counted in alignment units,
// so it may take in padding behind the data; there the data is what the
// root's wLength claims, at most the table's length.
bool DataIsWhole(const FileBytes& file, const VersionResourceSpan& span) {
    uint64_t length = span.length;
    if (span.kind == ExecutableKind::Ne) {
        uint16_t rootLength;
        if (!ReadU16(file, span.offset, &rootLength)) return false;
        if (rootLength < length) length = rootLength;
    }
    return length <= file.size - span.offset;
}

// --- The block ---------------------------------------------------------------------

constexpr uint32_t kHeader16 = 4;  // wLength, wValueLength
constexpr uint32_t kHeader32 = 6;  // and wType
constexpr uint32_t kFixedInfoSize = 52;  // VS_FIXEDFILEINFO
const uint8_t kConvertedSignature[4] = {'F', 'E', '2', 'X'};

uint32_t Align4(uint32_t n) { return (n + 3u) & ~3u; }

bool Is16(const uint8_t* block) { return block[4] >= 0x20; }

// The first bytes of the resource, those past the file's end as zero.
void ReadResourceHead(const FileBytes& file, const VersionResourceSpan& span, uint8_t* head, uint32_t count) {
    std::memset(head, 0, count);
    for (uint32_t i = 0; i < count && i < span.length; ++i) {
        if (!file.readAt(file, span.offset + i, head + i, 1)) break;
    }
}

// One node of the tree, with its extent cut to the room its parent gives it.
struct Node {
    uint32_t start = 0;
    uint32_t end = 0;           // start + wLength, at most the parent's end
    uint16_t length = 0;        // wLength as stored
    uint16_t valueLength = 0;   // wValueLength as stored
    uint16_t type = 0;          // wType; 0 in the 16-bit layout
    uint32_t keyStart = 0;
    uint32_t keyChars = 0;      // without the terminating zero
    uint32_t valueStart = 0;
    uint32_t valueBytes = 0;
    uint32_t children = 0;
};

struct Tree {
    uint8_t* block;
    uint32_t size;
    uint32_t bound;  // end of the tree: the root's wLength, at most size
    bool is16;
};

// Reads the node at `start` that must end by `limit`; false when its header
// or its key does not fit.
bool ReadNode(const Tree& tree, uint32_t start, uint32_t limit, Node* node) {
    uint32_t header = tree.is16 ? kHeader16 : kHeader32;
    if (start > limit || limit - start < header) return false;
    const uint8_t* p = tree.block + start;
    node->start = start;
    node->length = LoadU16LE(p);
    node->valueLength = LoadU16LE(p + 2);
    node->type = tree.is16 ? 0 : LoadU16LE(p + 4);
    node->end = node->length < limit - start ? start + node->length : limit;
    node->keyStart = start + header;
    uint32_t unit = tree.is16 ? 1 : 2;
    uint32_t at = node->keyStart;
    for (;;) {
        if (at > node->end || node->end - at < unit) return false;  // no zero ends the key
        bool zero = tree.is16 ? tree.block[at] == 0 : LoadU16LE(tree.block + at) == 0;
        at += unit;
        if (zero) break;
    }
    node->keyChars = (at - node->keyStart) / unit - 1;
    node->valueStart = Align4(at);
    node->valueBytes = tree.is16 || node->type == 0 ? node->valueLength : 2u * node->valueLength;
    node->children = Align4(node->valueStart + node->valueBytes);
    return true;
}

bool KeyEquals(const Tree& tree, const Node& node, const char* key, uint32_t keyLength) {
    if (node.keyChars != keyLength) return false;
    for (uint32_t i = 0; i < keyLength; ++i) {
        auto byte = static_cast<uint8_t>(key[i]);
        unsigned want = tree.is16 ? byte : Cp1252ToUnicode(byte);
        unsigned have = tree.is16 ? tree.block[node.keyStart + i]
                                  : LoadU16LE(tree.block + node.keyStart + 2 * i);
        if (FoldAz(want) != FoldAz(have)) return false;
    }
    return true;
}

bool FindChild(const Tree& tree, const Node& parent, const char* key, uint32_t keyLength, Node* child) {
    uint32_t at = parent.children;
    while (at < parent.end) {
        if (!ReadNode(tree, at, parent.end, child)) return false;
        if (KeyEquals(tree, *child, key, keyLength)) return true;
        if (child->length == 0) return false;
        at = Align4(at + child->length);
    }
    return false;
}

const char kEmptyText[1] = {'\0'};

// The 8-bit copy of the UTF-16 text at `node`'s value, written into the room
// behind the resource at the text's own offset, as the system does.
void ConvertText(const Tree& tree, const Node& node, const void** value, uint32_t* length) {
    *value = kEmptyText;
    *length = 0;
    if (node.valueLength == 0) return;
    uint32_t rootLength = LoadU16LE(tree.block);
    uint64_t out = uint64_t{rootLength} + 4 + node.valueStart;
    if (node.valueStart >= rootLength || out >= tree.size) return;
    uint64_t room = rootLength - node.valueStart;
    if (room > tree.size - out) room = tree.size - out;
    uint8_t* dest = tree.block + out;
    // The text runs to its zero, or to the end of the tree.
    uint32_t chars = 0;
    while (node.valueStart + 2 * (chars + 1) <= tree.bound &&
           LoadU16LE(tree.block + node.valueStart + 2 * chars) != 0) {
        ++chars;
    }
    *value = dest;
    if (uint64_t{chars} + 1 > room) {
        dest[0] = '\0';  // too long for its room: the system answers an empty text
        return;
    }
    for (uint32_t i = 0; i < chars; ++i) dest[i] = UnicodeToCp1252(LoadU16LE(tree.block + node.valueStart + 2 * i));
    dest[chars] = '\0';
    *length = chars + 1;
}

}  // namespace

FileBytes MemoryFileBytes(const uint8_t* bytes, size_t size) {
    FileBytes file;
    file.context = bytes;
    file.size = size;
    file.readAt = ReadMemory;
    return file;
}

ExecutableKind ExecutableKindOf(const FileBytes& file) {
    uint32_t header;
    uint8_t signature[4];
    if (!NewHeaderOffset(file, &header) || !file.readAt(file, header, signature, 2)) {
        return ExecutableKind::Unknown;
    }
    if (signature[0] == 'N' && signature[1] == 'E') return ExecutableKind::Ne;
    if (!file.readAt(file, header, signature, 4) || std::memcmp(signature, "PE\0\0", 4) != 0) {
        return ExecutableKind::Unknown;
    }
    uint16_t magic;
    if (!ReadU16(file, uint64_t{header} + 24, &magic)) return ExecutableKind::Unknown;
    if (magic == 0x10B) return ExecutableKind::Pe32;
    if (magic == 0x20B) return ExecutableKind::Pe32Plus;
    return ExecutableKind::Unknown;
}

bool FindVersionResource(const FileBytes& file, uint16_t userLanguage, VersionResourceSpan* span) {
    *span = VersionResourceSpan{};
    ExecutableKind kind = ExecutableKindOf(file);
    uint32_t header;
    if (kind == ExecutableKind::Unknown || !NewHeaderOffset(file, &header)) return false;
    bool found = kind == ExecutableKind::Ne ? FindNeVersion(file, header, span)
                                            : FindPeVersion(file, header, kind, userLanguage, span);
    if (!found || span->length == 0 || span->offset >= file.size || !DataIsWhole(file, *span)) {
        *span = VersionResourceSpan{};
        return false;
    }
    return true;
}

uint32_t VersionBlockNeed(const void* block, uint32_t size) {
    if (size < kHeader32) return kHeader32;
    const auto* bytes = static_cast<const uint8_t*>(block);
    uint32_t rootLength = LoadU16LE(bytes);
    uint32_t need = Is16(bytes) ? rootLength : 2 * rootLength + 4;
    return need < kHeader32 ? kHeader32 : need;
}

bool IsVersionBlock16(const void* block, uint32_t size) {
    return size >= kHeader32 && Is16(static_cast<const uint8_t*>(block));
}

uint32_t VersionBlockSize(const FileBytes& file, uint16_t userLanguage) {
    VersionResourceSpan span;
    if (!FindVersionResource(file, userLanguage, &span)) return 0;
    uint8_t head[kHeader32];
    ReadResourceHead(file, span, head, sizeof head);
    uint64_t size;
    if (span.kind == ExecutableKind::Ne) {
        // The system leaves room for its own wide copies of 16-bit texts. Its
        // size for a resource shorter than the fixed file information wraps
        // round to a size no block can have: such a file has no version
        // information to give.
        if (span.length < kFixedInfoSize) return 0;
        size = (uint64_t{span.length} - kFixedInfoSize) * 4;
    } else {
        size = uint64_t{span.length} * 2 + 4;
    }
    uint32_t need = VersionBlockNeed(head, sizeof head);
    if (size < need) size = need;
    return size > UINT32_MAX ? UINT32_MAX : static_cast<uint32_t>(size);
}

bool ReadVersionBlock(const FileBytes& file, uint16_t userLanguage, void* block, uint32_t size) {
    VersionResourceSpan span;
    if (!FindVersionResource(file, userLanguage, &span)) return false;
    auto* bytes = static_cast<uint8_t*>(block);
    std::memset(bytes, 0, size);
    uint64_t available = file.size - span.offset;
    uint32_t count = span.length < size ? span.length : size;
    if (count > available) count = static_cast<uint32_t>(available);
    if (count != 0 && !file.readAt(file, span.offset, bytes, count)) return false;
    if (size < VersionBlockNeed(bytes, size)) return false;
    // The system marks the block of a 32-bit executable, whatever layout its
    // resource has; not over the root's own header, though, whose length and
    // layout byte bound every later query.
    uint32_t rootLength = LoadU16LE(bytes);
    if (span.kind != ExecutableKind::Ne && rootLength >= kHeader32 &&
        uint64_t{rootLength} + sizeof kConvertedSignature <= size) {
        std::memcpy(bytes + rootLength, kConvertedSignature, sizeof kConvertedSignature);
    }
    return true;
}

bool QueryVersionBlock(void* block, uint32_t size, const char* subBlock, const void** value,
                       uint32_t* length) {
    if (size < kHeader32) return false;
    Tree tree;
    tree.block = static_cast<uint8_t*>(block);
    tree.size = size;
    tree.is16 = Is16(tree.block);
    uint32_t rootLength = LoadU16LE(tree.block);
    tree.bound = rootLength < size ? rootLength : size;
    Node node;
    if (!ReadNode(tree, 0, tree.bound, &node)) return false;
    const char* part = subBlock;
    while (*part != '\0') {
        if (*part == '\\') {
            ++part;
            continue;
        }
        uint32_t partLength = 0;
        while (part[partLength] != '\0' && part[partLength] != '\\') ++partLength;
        Node child;
        if (!FindChild(tree, node, part, partLength, &child)) return false;
        node = child;
        part += partLength;
    }
    if (!tree.is16 && node.type != 0) {
        ConvertText(tree, node, value, length);
        return true;
    }
    if (node.valueStart > tree.bound) {
        *value = kEmptyText;
        *length = 0;
        return true;
    }
    // A value is never handed out past the end of the tree.
    uint32_t room = tree.bound - node.valueStart;
    *value = tree.block + node.valueStart;
    *length = node.valueLength < room ? node.valueLength : room;
    if (*length == 0) *value = kEmptyText;
    return true;
}

}  // namespace zv

// Reading the version resource of an executable file straight from its
// bytes, and answering the three questions that the updater asks of it, the
// way the system's version library answers them.
//
// Executables: PE32 and PE32+ (the "MZ" header's e_lfanew points at
// "PE\0\0") and 16-bit NE ("NE" there), whatever the file's name ends with.
// The resource taken is the one of type 16 (RT_VERSION) with the numeric id 1;
// no other id is looked at. Of its languages (PE only; NE resources have
// none) the one the system's resource loader would take: the neutral
// language, else the user's, else U.S. English, else the first listed.
// A resource whose data the file does not hold in full counts as absent, as
// the system's version library refuses such a file.
//
// The block is what GetFileVersionInfoA gives:
//
//   0 .. wLength                the resource bytes as stored in the file
//   wLength .. wLength + 4      "FE2X" (32-bit layout only)
//   wLength + 4 .. 2*wLength+4  room where queries put 8-bit copies of the
//                               resource's UTF-16 texts (32-bit layout only)
//
// Two layouts of VS_VERSIONINFO exist, told apart by the byte at offset 4
// (a key character in the 16-bit layout, the low byte of wType in the 32-bit
// one). Every node is 32-bit aligned from the start of the block:
//
//   16-bit: u16 wLength, u16 wValueLength, char key[] (zero-terminated),
//           padding, value (wValueLength bytes), padding, children
//   32-bit: u16 wLength, u16 wValueLength, u16 wType, UTF-16 key[], padding,
//           value (wValueLength bytes, or UTF-16 characters when wType is
//           not 0), padding, children
//
// Every function here is safe on any bytes: nothing is read or written
// outside the file's bytes or the block's `size`. Malformed nodes (lengths
// shorter than their header, keys without their zero) end the search for a
// child; a node or value that claims more room than its parent has is cut at
// the parent's end.
#pragma once

#include <cstddef>
#include <cstdint>

namespace zv {

// Random access to a file's bytes.
struct FileBytes {
    const void* context = nullptr;  // the reader's own
    uint64_t size = 0;              // the file's length
    // Copies `count` bytes from `offset` into `out`; false unless all of them
    // lie inside the file and were read.
    bool (*readAt)(const FileBytes& file, uint64_t offset, void* out, uint32_t count) = nullptr;
};

// A FileBytes over bytes in memory, which must outlive it.
FileBytes MemoryFileBytes(const uint8_t* bytes, size_t size);

enum class ExecutableKind : uint8_t { Unknown, Pe32, Pe32Plus, Ne };

// The language a reader takes for the user's unless told otherwise.
constexpr uint16_t kUsEnglish = 0x0409;

struct VersionResourceSpan {
    ExecutableKind kind = ExecutableKind::Unknown;
    uint64_t offset = 0;  // file offset of the resource's first byte
    // As the resource table gives it. An NE length counts whole alignment
    // units, which may run past the file's end behind the data.
    uint32_t length = 0;
};

// The kind of executable the bytes hold, from their headers alone.
ExecutableKind ExecutableKindOf(const FileBytes& file);

// Locates the version resource (type 16, id 1) in the language taken for a
// user of `userLanguage`. False when the file is no PE or NE executable or
// has no such resource, or when the resource is empty or its data is not
// all inside the file.
bool FindVersionResource(const FileBytes& file, uint16_t userLanguage, VersionResourceSpan* span);

// What GetFileVersionInfoSizeA gives for the file to a user of
// `userLanguage`: 0 without a version resource; otherwise a size that holds
// the block described above.
uint32_t VersionBlockSize(const FileBytes& file, uint16_t userLanguage);

// What GetFileVersionInfoA puts into `block` (`size` bytes, as given by
// VersionBlockSize): the resource bytes (NE padding past the file's end
// read as zero), the rest of the block zeroed, and "FE2X" behind a 32-bit
// layout. False when there is no version resource, or when `size` is too
// small for the whole block (the system would hand out a cut block instead).
bool ReadVersionBlock(const FileBytes& file, uint16_t userLanguage, void* block, uint32_t size);

// The smallest size a block needs so that queries on it stay inside it:
// wLength for the 16-bit layout, 2 * wLength + 4 for the 32-bit one (at
// least 6 either way). Reads the first bytes of a block of `size` bytes.
uint32_t VersionBlockNeed(const void* block, uint32_t size);

// True when the block holds the 16-bit layout.
bool IsVersionBlock16(const void* block, uint32_t size);

// VerQueryValueA on a block of `size` bytes. `subBlock` is a path of keys
// separated by "\" (empty parts are skipped; keys are compared without
// regard to the case of the letters A to Z); the answer is the value of the
// node it names: "\" the root's fixed file information,
// "\VarFileInfo\Translation" the translation list,
// "\StringFileInfo\040904E4\InternalName" a text of that table.
//
// *value points into the block; *length is the value's wValueLength for
// values given as they are stored, and for the 32-bit layout's texts
// (wType not 0) the length of the 8-bit copy, its zero included, which the
// query writes into the room behind the resource (characters outside code
// page 1252 take the system's best fit, or "?"). A text node with no value
// (wValueLength 0) is present and empty: *value points at a zero byte and
// *length is 0; so is a text whose 8-bit copy has no room in the block.
// False when a key is missing or the block is malformed on the way to it.
bool QueryVersionBlock(void* block, uint32_t size, const char* subBlock, const void** value,
                       uint32_t* length);

}  // namespace zv

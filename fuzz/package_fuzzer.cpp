// A whole package as the updater reads it: the header's table loaded from the
// program file (records and names checked), then every member's pieces read
// from damaged volumes and expanded.
//
// Input, front to back: the entry count (1 byte, 1 to 16), the table size (2
// bytes, up to 2048), 16 decision bytes, the table, then the program file's
// data and two continuation volumes, each a 2-byte length (up to 8192) and
// its bytes. A volume's file is then damaged as a decision byte says: kept,
// stretched by repeating it to 70,000 bytes and cut at a multiple of 32,000
// (where the reader's blocks end), emptied, cut to one byte, or given another
// volume number. Faults of the file calls come from the decision bytes too.
//
// Checks, besides the sanitizers: a table that loads has only names the
// member name check accepts; a member is never expanded past what its record
// allows (its size in KB) and, done, never to more than its pieces can code
// (16 spare bits past them); the failure the reader records agrees with the
// decoder's outcome; every file is closed; the questions are finite.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "fuzz/memory_platform.h"
#include "package/lzhuf_decoder.h"
#include "package/member_name.h"
#include "package/table.h"
#include "package/volume_reader.h"
#include "platform/bytes.h"
#include "platform/run_context.h"
#include "transfer/member_output.h"
#include "transfer/package_messages.h"

namespace {

constexpr uint32_t kTableOffset = 64;

using zvfuzz::AnsweringUi;
using zvfuzz::Check;
using zvfuzz::CheckRecordedFailure;
using zvfuzz::Input;

// Damages a volume's file as `how` says (0xFF, as in the seeds: kept).
std::vector<uint8_t> Damage(std::vector<uint8_t> bytes, uint8_t how, uint16_t number) {
    switch ((0xFF - how) & 7) {
    case 4: {  // cut where a block of the reader ends
        if (bytes.empty()) return bytes;
        const size_t whole = bytes.size();
        while (bytes.size() < 70000) bytes.push_back(bytes[bytes.size() % whole]);
        bytes.resize(32000u * (1u + ((how >> 4) & 1)));
        return bytes;
    }
    case 5: return {};
    case 6: return {static_cast<uint8_t>(number)};
    case 7:
        if (bytes.size() >= 2) zv::StoreU16LE(bytes.data(), static_cast<uint16_t>(number + 1 + (how >> 5)));
        return bytes;
    default: return bytes;
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const uint32_t entryCount = 1 + in.Byte() % 16;
    const uint32_t tableSize = in.U16() % 2049;
    const std::vector<uint8_t> decisions = in.Bytes(16);
    const std::vector<uint8_t> table = in.Bytes(tableSize);

    // The program file: its image, the table, then the data.
    std::vector<uint8_t> program(kTableOffset, 0x90);
    program[0] = 'M';
    program[1] = 'Z';
    program.insert(program.end(), table.begin(), table.end());
    const std::vector<uint8_t> tail = in.Bytes(in.U16() % 8193);
    program.insert(program.end(), tail.begin(), tail.end());
    const uint8_t how1 = decisions.empty() ? 0xFF : decisions[0];
    if (((0xFF - how1) & 7) == 4) program = Damage(program, how1, 1);

    zvfuzz::MemoryPlatform os;
    os.decisions = decisions;
    os.writeLimit = 80000;
    os.AddFile("A:\\SETUP.EXE", program);
    for (uint16_t n = 2; n <= 3; ++n) {
        std::vector<uint8_t> volume(2);
        zv::StoreU16LE(volume.data(), n);
        const std::vector<uint8_t> bytes = in.Bytes(in.U16() % 8193);
        volume.insert(volume.end(), bytes.begin(), bytes.end());
        const uint8_t how = decisions.size() > n ? decisions[n] : 0xFF;
        os.AddFile(n == 2 ? "A:\\SETUP002" : "A:\\SETUP003", Damage(volume, how, n));
    }

    zv::PackageHeader header{};
    header.marker = zv::PACKAGE_MARKER;
    header.key = zv::PACKAGE_KEY;
    header.entryCount = static_cast<uint16_t>(entryCount);
    header.tableOffset = kTableOffset;
    header.tableSize = static_cast<uint32_t>(table.size());
    zv::PackageTable loaded;
    const zv::TableStatus status = zv::LoadPackageTable(os, "A:\\SETUP.EXE", header, &loaded);
    Check(os.openHandles == 0);
    if (status != zv::TableStatus::Loaded) {
        Check(status != zv::TableStatus::NamesRefused || loaded.check.damage == zv::TableDamage::MemberName);
        zv::FreePackageTable(os, &loaded);
        return 0;
    }

    AnsweringUi ui(6);
    ui.answers = decisions;
    zv::RunContext run;
    zvfuzz::StartRun(&run, &os, &ui);
    std::vector<uint8_t> input(zv::INPUT_BUFFER_SIZE);
    std::vector<uint8_t> output(zv::OUTPUT_BUFFER_SIZE);
    static auto decoder = std::make_unique<zv::LzhufDecoder>();
    zv::MessageReadQuestions questions(run);
    zv::VolumeReader reader;
    if (zv::StartVolumeReader(&reader, &run, &questions, run.programPath, input.data())) {
        zv::PackageEntry entry = zv::FirstPackageEntry(loaded);
        for (uint32_t k = 0; k < loaded.entryCount; ++k, entry = zv::NextPackageEntry(entry)) {
            Check(zv::CheckMemberName(zv::EntryName(entry)) == zv::MemberNameProblem::None);
            uint64_t pieceBytes = 0;
            for (const uint8_t* p = zv::EntryPieces(entry);; p += zv::PACKAGE_PIECE_SIZE) {
                const zv::PackagePiece piece = zv::ReadPackagePiece(p);
                if (zv::IsLastPiece(piece)) break;
                pieceBytes += piece.length;
            }
            ui.asked = 0;
            const zv::FileHandle file = os.Create("A:\\OUT.BIN");
            zv::FileOutput sink(run, file, "A:\\OUT.BIN", output.data());
            zv::BeginMemberRead(&reader, entry);
            decoder->expandedSize = 0;
            const zv::DecodeOutcome result = zv::DecodeMember(decoder.get(), &reader, &sink);
            CheckRecordedFailure(result, reader.failure);
            zv::TellReadFailure(run, reader.failure);
            os.Close(file);
            Check(decoder->expandedSize <= reader.sizeLimit || decoder->expandedCount == 0);
            if (result == zv::DecodeOutcome::Done) {
                Check(decoder->expandedSize <= reader.sizeLimit);
                // The codes of at most the pieces' bits and 16 more, each
                // symbol at least one bit and at most 60 bytes.
                const uint64_t bits = pieceBytes >= 4 ? 8 * (pieceBytes - 4) + zv::LZHUF_SPARE_BITS : 0;
                Check(decoder->expandedSize <= bits * zv::lzhuf::F);
            }
        }
        zv::CloseVolumeReader(&reader);
    }
    zv::FreePackageTable(os, &loaded);
    Check(os.openHandles == 0);
    return 0;
}

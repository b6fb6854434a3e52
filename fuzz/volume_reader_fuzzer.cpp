// The volume reader and the decoder's output over a file table and volume
// files made from the input, with read, seek, open and write faults and the
// user's answers chosen by the input too.
//
// Input, front to back: the entry count (1 byte, up to 12), the table size
// (2 bytes, little-endian, up to 1024), 32 decision bytes, the table, then up
// to four volume files, each a 2-byte length (up to 4096) and its bytes. A
// table that does not pass CheckPackageTable is not walked, as in the updater.
// Each member is decoded into a target file, read whole into memory, or read
// byte by byte to its end; each way the failure the reader records must
// agree with what it returned. fuzz/make_seeds.cpp writes inputs of this form.
#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <memory>

#include "fuzz/fuzz_input.h"
#include "fuzz/memory_platform.h"
#include "package/lzhuf_decoder.h"
#include "package/table.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "transfer/member_output.h"
#include "transfer/package_messages.h"

namespace {

using zvfuzz::AnsweringUi;
using zvfuzz::Check;
using zvfuzz::CheckRecordedFailure;
using zvfuzz::Input;

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    Input in{data, size};
    const uint32_t entryCount = in.Byte() % 13;
    const uint32_t tableSize = in.U16() % 1025;
    const std::vector<uint8_t> decisions = in.Bytes(32);
    std::vector<uint8_t> table = in.Bytes(tableSize);
    if (zv::CheckPackageTable(table.data(), static_cast<uint32_t>(table.size()), entryCount).damage !=
        zv::TableDamage::None) {
        return 0;
    }

    zvfuzz::MemoryPlatform os;
    os.decisions = decisions;
    os.writeLimit = 40000;  // one full block, then the disk is full
    os.AddFile("A:\\SETUP.EXE", in.Bytes(in.U16() % 4097));
    for (const char* name : {"A:\\SETUP002", "A:\\SETUP003", "A:\\SETUP004"}) {
        if (in.Empty()) break;
        os.AddFile(name, in.Bytes(in.U16() % 4097));
    }
    AnsweringUi ui(8);
    ui.answers = decisions;

    zv::RunContext run;
    zvfuzz::StartRun(&run, &os, &ui);

    std::vector<uint8_t> input(zv::INPUT_BUFFER_SIZE);
    std::vector<uint8_t> output(zv::OUTPUT_BUFFER_SIZE);
    static auto decoder = std::make_unique<zv::LzhufDecoder>();
    zv::MessageReadQuestions questions(run);
    zv::VolumeReader reader;
    if (!zv::StartVolumeReader(&reader, &run, &questions, run.programPath, input.data())) return 0;

    zv::PackageEntry entry{table.data()};
    for (uint32_t k = 0; k < entryCount; ++k, entry = zv::NextPackageEntry(entry)) {
        zv::BeginMemberRead(&reader, entry);
        if (decisions.empty() || (decisions[k % decisions.size()] & 0x80) == 0) {
            const zv::FileHandle file = os.Create("A:\\OUT.BIN");
            zv::FileOutput sink(run, file, "A:\\OUT.BIN", output.data());
            const zv::DecodeOutcome result = zv::DecodeMember(decoder.get(), &reader, &sink);
            Check(sink.held() <= zv::OUTPUT_BUFFER_SIZE);
            CheckRecordedFailure(result, reader.failure);
            // Told only when the user was not asked already.
            Check(zv::TellReadFailure(run, reader.failure) ==
                  (reader.failure.kind != zv::ReadFailureKind::None && !zv::ReadFailureAsked(reader.failure.kind)));
            os.Close(file);
        } else if ((decisions[k % decisions.size()] & 0x40) != 0) {
            // Its bytes whole, as the stage reads a member ahead for a worker:
            // all of its pieces, or a recorded failure (or too little room).
            const uint64_t packed = zv::EntryPackedSize(entry);
            std::vector<uint8_t> bytes(static_cast<size_t>(std::min<uint64_t>(packed, 1u << 16)));
            uint64_t got = 0;
            const bool read = zv::ReadMemberBytes(&reader, bytes.data(), bytes.size(), &got);
            Check(got <= bytes.size());
            if (read) {
                Check(got == packed && reader.failure.kind == zv::ReadFailureKind::None);
            } else {
                Check(reader.failure.kind != zv::ReadFailureKind::None || packed > bytes.size());
            }
        } else {
            // Every byte to the end; past it END_OF_DATA must stay.
            int32_t c;
            uint32_t taken = 0;
            do {
                c = zv::ReadPackageByte(&reader);
                Check(c >= zv::READ_FAILED && c <= 255);
                Check(reader.bytesLeft <= zv::INPUT_BUFFER_SIZE);
            } while (c >= 0 && ++taken < (1u << 16));
            Check((c == zv::READ_FAILED) == (reader.failure.kind != zv::ReadFailureKind::None));
            if (c == zv::END_OF_DATA && reader.file != zv::kNoFile) {
                Check(zv::ReadPackageByte(&reader) < 0);
            }
        }
    }
    zv::CloseVolumeReader(&reader);
    Check(os.openHandles == 0);
    return 0;
}

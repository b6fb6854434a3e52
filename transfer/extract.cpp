#include "transfer/extract.h"

#include <cstring>

#include "platform/messages.h"
#include "platform/text.h"
#include "string_ids.h"

namespace zv {
namespace {

// The new file is written under this name in the target's directory.
const char kNewFileName[] = "~zvnew.tmp";

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Creates the directories that `name` names below `directory`, one prefix at a
// time. Returns ANSWER_RETRY when the last creation attempted succeeded, 0
// when none was attempted or the last one failed.
int CreateMissingDirectories(Platform& os, const char* directory, const char* name) {
    int answer = 0;
    char prefix[kMaxPath] = {};
    CopyText(prefix, sizeof prefix, directory);
    size_t base = std::strlen(prefix);
    for (const char* p = name; *p != '\0'; ++p) {
        if (!IsSeparator(*p)) continue;
        size_t length = static_cast<size_t>(p - name);
        if (base + length + 1 > sizeof prefix) break;
        std::memcpy(prefix + base, name, length);
        prefix[base + length] = '\0';
        if (os.EnterDirectory(prefix)) continue;
        answer = os.MakeDirectory(prefix) ? ANSWER_RETRY : 0;
    }
    return answer;
}

// Creates the new file; asks while it cannot be created. Returns 0 with the
// file open, or the result that ends the member (0 too, with *file kNoFile,
// when the user chose to leave the installed file as it is).
TransferResult CreateNewFile(TransferSession& s, const char* name, const char* directory, bool existed,
                             FileHandle* file) {
    RunContext& run = *s.run;
    for (;;) {
        *file = run.os->Create(s.newPath);
        if (*file != kNoFile) return 0;
        int answer;
        if (existed) {
            answer = AskAbortRetryIgnore(run, run.progressPage, IDS_WRITE_PROTECTED, s.targetPath);
        } else {
            answer = CreateMissingDirectories(*run.os, directory, name);
            if (answer == 0) answer = AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, s.targetPath);
        }
        switch (answer) {
        case ANSWER_RETRY: continue;
        case ANSWER_ABORT: return -1;
        case ANSWER_IGNORE: return 0;
        default: return ANSWER_CANCEL;
        }
    }
}

// Expands the member into the open new file and makes it durable.
TransferResult WriteMember(TransferSession& s, PackageEntry entry, FileHandle file, uint8_t* buffer) {
    RunContext& run = *s.run;
    OutputSink sink;
    sink.run = &run;
    sink.file = file;
    sink.targetPath = s.targetPath;
    sink.buffer = buffer;
    BeginMemberRead(&s.reader, entry);
    if (static_cast<int16_t>(DecodeMember(s.decoder, &s.reader, &sink)) != 0) return ANSWER_CANCEL;
    while (!run.os->Flush(file)) {
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, s.targetPath) != ANSWER_RETRY) {
            return ANSWER_CANCEL;
        }
    }
    return 0;
}

}  // namespace

MemberNameProblem ComposeTargetPaths(const char* directory, const char* name, char* targetPath, char* newPath) {
    targetPath[0] = '\0';
    newPath[0] = '\0';
    const MemberNameProblem problem = CheckMemberName(name);
    if (problem != MemberNameProblem::None) return problem;
    const char* last = std::strrchr(name, '\\');
    const size_t fileStart = last == nullptr ? 0 : static_cast<size_t>(last + 1 - name);
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    if (directoryLength + nameLength > MEMBER_NAME_MAX ||
        directoryLength + fileStart + sizeof kNewFileName - 1 > MEMBER_NAME_MAX) {
        return MemberNameProblem::TooLong;
    }
    std::memcpy(targetPath, directory, directoryLength);
    std::memcpy(targetPath + directoryLength, name, nameLength + 1);
    std::memcpy(newPath, targetPath, directoryLength + fileStart);
    std::memcpy(newPath + directoryLength + fileStart, kNewFileName, sizeof kNewFileName);
    return MemberNameProblem::None;
}

TransferResult ExtractMember(TransferSession& s, const char* name, PackageEntry entry, const char* directory,
                             bool carried) {
    RunContext& run = *s.run;
    Platform& os = *run.os;
    s.written = false;
    if (ComposeTargetPaths(directory, name, s.targetPath, s.newPath) != MemberNameProblem::None) {
        return IDS_INVALID_DIRECTORY;
    }
    BlockHandle block = 0;
    auto* buffer = static_cast<uint8_t*>(AllocGlobalBlock(os, OUTPUT_BUFFER_SIZE, &block));
    if (buffer == nullptr) return IDS_NO_MEMORY;

    FileHandle probe = os.Open(s.targetPath, OpenMode::Read);
    bool existed = probe != kNoFile;
    os.Close(probe);

    TransferResult result = 0;
    bool written = false;
    for (;;) {
        // An installed file that cannot be written is write protected: the
        // new copy could not take its place either.
        if (existed) {
            FileHandle check = os.Open(s.targetPath, OpenMode::ReadWrite);
            if (check == kNoFile) {
                int answer = AskAbortRetryIgnore(run, run.progressPage, IDS_WRITE_PROTECTED, s.targetPath);
                if (answer == ANSWER_RETRY) continue;
                result = answer == ANSWER_ABORT ? -1 : 0;
                break;
            }
            os.Close(check);
        }
        FileHandle file = kNoFile;
        result = CreateNewFile(s, name, directory, existed, &file);
        if (file == kNoFile) break;  // Abort, Cancel, or Ignore: the installed file stays
        result = WriteMember(s, entry, file, buffer);
        os.Close(file);
        if (result != 0) break;
        if (carried) {
            result = static_cast<TransferResult>(WriteStampedBlocks(run, s.newPath, s.save, s.targetPath));
            if (result != 0) {
                CopyText(run.errorFileName, sizeof run.errorFileName, s.targetPath);
                break;
            }
        }
        // Put the new file in place; the installed one stays until it does.
        for (;;) {
            if (os.Replace(s.newPath, s.targetPath)) {
                written = true;
                break;
            }
            int answer = AskAbortRetryIgnore(run, run.progressPage, IDS_WRITE_PROTECTED, s.targetPath);
            if (answer == ANSWER_RETRY) continue;
            result = answer == ANSWER_ABORT ? -1 : 0;
            break;
        }
        break;
    }
    if (!written) os.Remove(s.newPath);
    s.written = written;
    FreeGlobalBlock(os, &block);
    return result;
}

}  // namespace zv

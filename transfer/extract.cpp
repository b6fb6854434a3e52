#include "transfer/extract.h"

#include <cstring>

#include "platform/messages.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "string_ids.h"
#include "transfer/journal.h"
#include "transfer/member_output.h"

namespace zv {
namespace {

bool IsSeparator(char c) { return c == '\\' || c == '/'; }

// Creates the directories that `name` names below `directory`, one prefix at
// a time. True when the last creation attempted succeeded, false when none
// was attempted or the last one failed.
bool CreateMissingDirectories(Platform& os, const char* directory, const char* name) {
    bool created = false;
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
        created = os.MakeDirectory(prefix);
    }
    return created;
}

// Creates the new copy; asks while it cannot be created.
WriteOutcome CreateStagedCopy(StageSession& s, const StageRequest& request, FileHandle* file) {
    RunContext& run = *s.run;
    for (;;) {
        *file = run.os->Create(request.staged);
        if (*file != kNoFile) return WriteOutcome::Done;
        if (CreateMissingDirectories(*run.os, request.directory, request.name)) continue;
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, request.target) != ANSWER_RETRY) {
            return WriteOutcome::Cancelled;
        }
    }
}

// Expands the member into the open new copy and makes it durable.
WriteOutcome WriteMember(StageSession& s, const StageRequest& request, FileHandle file, uint8_t* buffer) {
    RunContext& run = *s.run;
    FileOutput output(run, file, request.target, buffer);
    BeginMemberRead(&s.reader, request.entry);
    // Whatever stopped the expansion has been told already: a read error or a
    // damaged member by the reader, a write by the output's question.
    if (DecodeMember(s.decoder, &s.reader, &output) != DecodeOutcome::Done) return WriteOutcome::Cancelled;
    while (!run.os->Flush(file)) {
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, request.target) != ANSWER_RETRY) {
            return WriteOutcome::Cancelled;
        }
    }
    return WriteOutcome::Done;
}

// Reads the new copy back and compares the SHA-256 of its bytes with the
// member's digest. What is checked is what is on the disk. A member that
// cannot be checked (the system's SHA-256 fails) is never taken as written.
WriteOutcome CheckStagedCopy(StageSession& s, const StageRequest& request, uint8_t* buffer, WriteResult* result) {
    Platform& os = *s.run->os;
    FileHandle file = os.Open(request.staged, OpenMode::Read);
    if (file == kNoFile) {
        SetFailure(result, IDS_READ_ERROR, request.target);
        return result->outcome;
    }
    Sha256Context hash;
    Sha256Status status = Sha256Begin(&hash);
    int32_t got = 0;
    while (status == Sha256Status::Ok && (got = os.Read(file, buffer, OUTPUT_BUFFER_SIZE)) > 0) {
        status = Sha256Update(&hash, buffer, static_cast<size_t>(got));
    }
    os.Close(file);
    uint8_t digest[SHA256_DIGEST_SIZE];
    if (status == Sha256Status::Ok && got == 0) status = Sha256Finish(&hash, digest);
    Sha256Abandon(&hash);
    if (got < 0) {
        SetFailure(result, IDS_READ_ERROR, request.target);
    } else if (status == Sha256Status::NoMemory) {
        SetFailure(result, IDS_NO_MEMORY, request.target);
    } else if (status != Sha256Status::Ok) {
        SetFailure(result, IDS_CANNOT_HASH, request.target);
    } else if (std::memcmp(digest, request.digest, SHA256_DIGEST_SIZE) != 0) {
        SetFailure(result, IDS_MEMBER_DAMAGED, request.name);
    }
    return result->outcome;
}

}  // namespace

const char* WriteOutcomeName(WriteOutcome outcome) {
    switch (outcome) {
    case WriteOutcome::Done: return "done";
    case WriteOutcome::Kept: return "kept: write protected, ignored";
    case WriteOutcome::Stopped: return "stopped";
    case WriteOutcome::Cancelled: return "cancelled";
    case WriteOutcome::Failed: return "failed";
    }
    return "unknown";
}

void SetFailure(WriteResult* result, unsigned messageId, const char* subject) {
    result->outcome = WriteOutcome::Failed;
    result->messageId = messageId;
    CopyText(result->subject, sizeof result->subject, subject);
}

int32_t LongestTargetDirectory(const char* name) {
    const char* last = std::strrchr(name, '\\');
    const int32_t fileStart = last == nullptr ? 0 : static_cast<int32_t>(last + 1 - name);
    const int32_t nameLength = static_cast<int32_t>(std::strlen(name));
    const int32_t room = static_cast<int32_t>(MEMBER_NAME_MAX);
    // The target's directory also holds its new copy and backup while the
    // update runs.
    const int32_t forTarget = room - nameLength;
    const int32_t forWorkFiles = room - fileStart - static_cast<int32_t>(TRANSACTION_NAME_LENGTH);
    return forTarget < forWorkFiles ? forTarget : forWorkFiles;
}

MemberNameProblem ComposeTargetPath(const char* directory, const char* name, char* targetPath) {
    targetPath[0] = '\0';
    const MemberNameProblem problem = CheckMemberName(name);
    if (problem != MemberNameProblem::None) return problem;
    const size_t directoryLength = std::strlen(directory);
    const size_t nameLength = std::strlen(name);
    if (static_cast<int64_t>(directoryLength) > LongestTargetDirectory(name)) return MemberNameProblem::TooLong;
    std::memcpy(targetPath, directory, directoryLength);
    std::memcpy(targetPath + directoryLength, name, nameLength + 1);
    return MemberNameProblem::None;
}

WriteOutcome StageMember(StageSession& s, const StageRequest& request, WriteResult* result) {
    RunContext& run = *s.run;
    Platform& os = *run.os;
    result->outcome = WriteOutcome::Done;
    BlockHandle block = 0;
    auto* buffer = static_cast<uint8_t*>(AllocGlobalBlock(os, OUTPUT_BUFFER_SIZE, &block));
    if (buffer == nullptr) {
        SetFailure(result, IDS_NO_MEMORY, request.target);
        return result->outcome;
    }
    for (;;) {
        // An installed file that cannot be written is write protected: the
        // new copy could not take its place either. Found and asked here,
        // before anything installed changes.
        if (request.installed) {
            FileHandle check = os.Open(request.target, OpenMode::ReadWrite);
            if (check == kNoFile) {
                int answer = AskAbortRetryIgnore(run, run.progressPage, IDS_WRITE_PROTECTED, request.target);
                if (answer == ANSWER_RETRY) continue;
                result->outcome = answer == ANSWER_ABORT ? WriteOutcome::Stopped : WriteOutcome::Kept;
                break;
            }
            os.Close(check);
        }
        FileHandle file = kNoFile;
        result->outcome = CreateStagedCopy(s, request, &file);
        if (file == kNoFile) break;
        result->outcome = WriteMember(s, request, file, buffer);
        os.Close(file);
        if (result->outcome == WriteOutcome::Done && request.digest != nullptr) {
            CheckStagedCopy(s, request, buffer, result);
        }
        break;
    }
    if (result->outcome != WriteOutcome::Done) os.Remove(request.staged);
    FreeGlobalBlock(os, &block);
    return result->outcome;
}

}  // namespace zv

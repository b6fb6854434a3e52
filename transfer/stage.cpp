#include "transfer/stage.h"

#include <cstring>

#include "platform/files.h"
#include "platform/messages.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "string_ids.h"
#include "transfer/journal.h"
#include "transfer/member_output.h"
#include "transfer/package_messages.h"
#include "transfer/stage_ahead.h"

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

// Creates the new copy; asks while it cannot be created. Something at its
// name (it was vacant when the transfer began) is not asked about: nothing
// is ever opened there, and the transfer ends.
WriteOutcome CreateStagedCopy(StageSession& s, const StageRequest& request, FileHandle* file, WriteResult* result) {
    RunContext& run = *s.run;
    for (;;) {
        bool taken = false;
        *file = run.os->CreateNew(request.staged, &taken);
        if (*file != kNoFile) return WriteOutcome::Done;
        if (taken) {
            SetFailure(result, IDS_LINK_REFUSED, request.staged);
            return result->outcome;
        }
        if (CreateMissingDirectories(*run.os, request.directory, request.name)) continue;
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, request.target) != ANSWER_RETRY) {
            return WriteOutcome::Cancelled;
        }
    }
}

// What went into a new copy as it was written.
struct WrittenBytes {
    uint64_t size = 0;                              // the bytes the system reported written
    Sha256Status status = Sha256Status::NotBegun;  // the hashing's outcome
    uint8_t digest[SHA256_DIGEST_SIZE] = {};       // their SHA-256, when status is Ok
};

// Expands the member into the open new copy and makes it durable, hashing
// the bytes as they are written; *written is filled once it is flushed.
WriteOutcome WriteMember(StageSession& s, const StageRequest& request, FileHandle file, uint8_t* buffer,
                         WrittenBytes* written) {
    RunContext& run = *s.run;
    FileOutput output(run, file, request.target, buffer);
    // Hashed for the digest's check, or for the journal's record of the
    // copy, which the carried blocks would change.
    if (request.digest != nullptr || request.carried == nullptr) output.HashWritten();
    BeginMemberRead(&s.reader, request.entry);
    const DecodeOutcome decoded = DecodeMember(s.decoder, &s.reader, &output);
    if (decoded != DecodeOutcome::Done) {
        // A member cut short or damaged is told now; a stream that ends
        // before its size fails without a message of its own. Anything else
        // that stopped the expansion was a question of the reader's or the
        // output's, answered with Cancel.
        if (TellReadFailure(run, s.reader.failure) || decoded == DecodeOutcome::NoSize) {
            return WriteOutcome::Unreadable;
        }
        return WriteOutcome::Cancelled;
    }
    while (!run.os->Flush(file)) {
        if (AskRetryCancel(run, run.progressPage, IDS_WRITE_ERROR, request.target) != ANSWER_RETRY) {
            return WriteOutcome::Cancelled;
        }
    }
    // The digest is of the bytes the system took; it is trusted from here,
    // once they are on the disk.
    written->size = output.written();
    written->status = output.FinishHash(written->digest);
    return WriteOutcome::Done;
}

// The largest new copy whose size a seek can tell.
constexpr uint64_t kLargestSizedCopy = INT32_MAX;

// Whether the new copy holds exactly the bytes the system reported written:
// a write reported whole of which not everything reached the file leaves it
// shorter. Nothing else can write it (its handle shares no writing), so with
// its size right its bytes are the ones hashed. The file is left positioned
// at its end. False, with *seekFailed, when its size cannot be told.
bool HoldsWhatWasWritten(Platform& os, FileHandle file, const WrittenBytes& written, bool* seekFailed) {
    const int32_t end = os.Seek(file, 0, SeekOrigin::End);
    *seekFailed = end < 0;
    return end >= 0 && static_cast<uint64_t>(end) == written.size;
}

// Reads the new copy back through its handle and compares the SHA-256 of its
// bytes with the member's digest: for a copy too large for its size to be
// told by a seek. A member that cannot be checked (the system's SHA-256
// fails) is never taken as written.
WriteOutcome CheckStagedCopy(StageSession& s, const StageRequest& request, FileHandle file, uint8_t* buffer,
                             WriteResult* result) {
    Platform& os = *s.run->os;
    if (os.Seek(file, 0, SeekOrigin::Begin) != 0) {
        SetFailure(result, IDS_READ_ERROR, request.target);
        return result->outcome;
    }
    uint8_t digest[SHA256_DIGEST_SIZE];
    const FileDigest read = DigestOpenFile(os, file, buffer, OUTPUT_BUFFER_SIZE, digest);
    if (read.readFailed) {
        SetFailure(result, IDS_READ_ERROR, request.target);
    } else if (read.status == Sha256Status::NoMemory) {
        SetFailure(result, IDS_NO_MEMORY, request.target);
    } else if (read.status != Sha256Status::Ok) {
        SetFailure(result, IDS_CANNOT_HASH, request.target);
    } else if (std::memcmp(digest, request.digest, SHA256_DIGEST_SIZE) != 0) {
        SetFailure(result, IDS_MEMBER_DAMAGED, request.name);
    }
    return result->outcome;
}

// Compares the SHA-256 of the bytes written into the new copy with the
// member's digest, once the copy is found to hold all of them and nothing
// more. A member that cannot be checked (the system's SHA-256 fails) is
// never taken as written.
WriteOutcome CheckWrittenCopy(StageSession& s, const StageRequest& request, FileHandle file, uint8_t* buffer,
                              const WrittenBytes& written, WriteResult* result) {
    if (written.size > kLargestSizedCopy) return CheckStagedCopy(s, request, file, buffer, result);
    bool seekFailed = false;
    const bool holds = HoldsWhatWasWritten(*s.run->os, file, written, &seekFailed);
    if (seekFailed) {
        SetFailure(result, IDS_READ_ERROR, request.target);
    } else if (written.status == Sha256Status::NoMemory) {
        SetFailure(result, IDS_NO_MEMORY, request.target);
    } else if (written.status != Sha256Status::Ok) {
        SetFailure(result, IDS_CANNOT_HASH, request.target);
    } else if (!holds || std::memcmp(written.digest, request.digest, SHA256_DIGEST_SIZE) != 0) {
        SetFailure(result, IDS_MEMBER_DAMAGED, request.name);
    }
    return result->outcome;
}

// The new copy's record as it was written, when its hashing succeeded and
// it holds exactly those bytes; otherwise it stays unknown.
void RecordWritten(Platform& os, FileHandle file, const WrittenBytes& written, WrittenRecord* record) {
    record->known = false;
    bool seekFailed = false;
    if (written.status != Sha256Status::Ok || written.size > kLargestSizedCopy ||
        !HoldsWhatWasWritten(os, file, written, &seekFailed)) {
        return;
    }
    record->record.size = static_cast<uint32_t>(written.size);
    std::memcpy(record->record.digest, written.digest, SHA256_DIGEST_SIZE);
    record->known = true;
}

// Carries the installed copy's stamped blocks into the new copy.
WriteOutcome CarryBlocks(StageSession& s, const StageRequest& request, FileHandle file, WriteResult* result) {
    switch (WriteCarriedBlocksInto(*s.run, file, *request.carried, request.target)) {
    case CarryOutcome::Done: break;
    case CarryOutcome::NoMemory: SetFailure(result, IDS_NO_MEMORY, request.target); break;
    case CarryOutcome::Cancelled: result->outcome = WriteOutcome::Cancelled; break;
    default: SetFailure(result, IDS_WRITE_ERROR, request.target); break;
    }
    return result->outcome;
}

// A path without its trailing ""; false when that is a drive's root ("C:")
// or nothing, which is no folder of its own to look at.
bool FolderOf(const char* directory, char* folder) {
    CopyText(folder, kMaxPath, directory);
    size_t n = std::strlen(folder);
    while (n > 0 && IsSeparator(folder[n - 1])) folder[--n] = '\0';
    return !(n == 0 || (n == 2 && folder[1] == ':'));
}

// A Link or Unknown kind as the way's problem, with the path.
WayProblem Refused(PathKind kind, const char* path, char* where) {
    if (kind != PathKind::Link && kind != PathKind::Unknown) return WayProblem::None;
    CopyText(where, kMaxPath, path);
    return kind == PathKind::Link ? WayProblem::Link : WayProblem::Unknown;
}

}  // namespace

const char* WayProblemName(WayProblem problem) {
    switch (problem) {
    case WayProblem::None: return "none";
    case WayProblem::Link: return "a link or junction on the way";
    case WayProblem::Occupied: return "something at a name the update creates";
    case WayProblem::Unknown: return "what is on the way cannot be told";
    case WayProblem::Misplaced: return "the file opened is not the one meant";
    }
    return "unknown";
}

WayProblem CheckWay(Platform& os, const char* base, bool baseItself, const char* target, char* where) {
    where[0] = '\0';
    char folder[kMaxPath];
    if (baseItself && FolderOf(base, folder)) {
        const WayProblem problem = Refused(os.Examine(folder), folder, where);
        if (problem != WayProblem::None) return problem;
    }
    const size_t baseLength = std::strlen(base);
    const size_t targetLength = std::strlen(target);
    if (targetLength >= kMaxPath || baseLength > targetLength) return WayProblem::None;
    // Each folder below the base, down to the target's own, then the target.
    for (size_t k = baseLength; k <= targetLength; ++k) {
        if (k < targetLength && !IsSeparator(target[k])) continue;
        std::memcpy(folder, target, k);
        folder[k] = '\0';
        const PathKind kind = os.Examine(folder);
        // A folder still to be made has nothing below it yet: the transfer
        // makes the rest, and the handle check covers them.
        if (kind == PathKind::Missing) break;
        const WayProblem problem = Refused(kind, folder, where);
        if (problem != WayProblem::None) return problem;
    }
    return WayProblem::None;
}

WayProblem CheckVacant(Platform& os, const char* path, char* where) {
    where[0] = '\0';
    const PathKind kind = os.Examine(path);
    if (kind == PathKind::Missing) return WayProblem::None;
    CopyText(where, kMaxPath, path);
    return kind == PathKind::Unknown ? WayProblem::Unknown : WayProblem::Occupied;
}

const char* WriteOutcomeName(WriteOutcome outcome) {
    switch (outcome) {
    case WriteOutcome::Done: return "done";
    case WriteOutcome::Kept: return "kept: write protected, ignored";
    case WriteOutcome::Stopped: return "stopped";
    case WriteOutcome::Cancelled: return "cancelled";
    case WriteOutcome::Unreadable: return "the member cannot be read";
    case WriteOutcome::Failed: return "failed";
    }
    return "unknown";
}

void SetFailure(WriteResult* result, unsigned messageId, const char* subject) {
    result->outcome = WriteOutcome::Failed;
    result->messageId = messageId;
    CopyText(result->subject, sizeof result->subject, subject);
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
    bool created = false;
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
        result->outcome = CreateStagedCopy(s, request, &file, result);
        if (file == kNoFile) break;
        created = true;
        // Nothing goes into a file that is not where it was meant to be.
        if (!os.IsFileAt(file, request.staged, request.trusted)) {
            SetFailure(result, IDS_LINK_REFUSED, request.staged);
        } else {
            WrittenBytes written;
            result->outcome = WriteMember(s, request, file, buffer, &written);
            if (result->outcome == WriteOutcome::Done && request.digest != nullptr) {
                CheckWrittenCopy(s, request, file, buffer, written, result);
            }
            if (result->outcome == WriteOutcome::Done && request.carried != nullptr) {
                CarryBlocks(s, request, file, result);
            } else if (result->outcome == WriteOutcome::Done && request.written != nullptr) {
                // The journal's record of the copy, unless the carried blocks
                // changed its bytes since (then it is read back there).
                RecordWritten(os, file, written, request.written);
            }
        }
        os.Close(file);
        break;
    }
    if (created && result->outcome != WriteOutcome::Done) os.Remove(request.staged);
    FreeGlobalBlock(os, &block);
    return result->outcome;
}

bool StageMemberQuietly(RunContext& run, const StageRequest& request, const uint8_t* bytes, uint32_t size,
                        LzhufDecoder* decoder, uint8_t* buffer) {
    Platform& os = *run.os;
    if (request.carried != nullptr) return false;
    if (request.installed) {
        const FileHandle check = os.Open(request.target, OpenMode::ReadWrite);
        if (check == kNoFile) return false;
        os.Close(check);
    }
    bool taken = false;
    FileHandle file = os.CreateNew(request.staged, &taken);
    if (file == kNoFile && !taken) {
        CreateMissingDirectories(os, request.directory, request.name);
        file = os.CreateNew(request.staged, &taken);
    }
    if (file == kNoFile) return false;
    bool staged = false;
    if (os.IsFileAt(file, request.staged, request.trusted)) {
        StageSession session;
        session.run = &run;
        BeginMemoryRead(&session.reader, bytes, size);
        session.reader.sizeLimit = EntrySizeLimit(request.entry);
        FileOutput output(run, file, request.target, buffer);
        output.AskNothing();
        output.HashWritten();
        if (DecodeMember(decoder, &session.reader, &output) == DecodeOutcome::Done && os.Flush(file)) {
            WrittenBytes written;
            written.size = output.written();
            written.status = output.FinishHash(written.digest);
            WriteResult result;
            if (request.digest == nullptr ||
                CheckWrittenCopy(session, request, file, buffer, written, &result) == WriteOutcome::Done) {
                if (request.written != nullptr) RecordWritten(os, file, written, request.written);
                staged = true;
            }
        }
    }
    os.Close(file);
    if (!staged) os.Remove(request.staged);
    return staged;
}

// No folder on the way to a target is a link or junction. The way starts at
// the product directory, which is checked itself: a folder made directly
// under a drive's root lets its users rename it and put a junction in its
// place. The folders above it were chosen by the administrator who installed
// the product, and the system directory a shared file goes into is the
// system's own: a link there is the system's business, so only what lies
// below them is checked.
bool CheckWays(Platform& os, const char* productDir, PlannedWrite* writes, uint32_t count, WriteResult* why) {
    const bool productKnown = productDir[0] != '\0';
    for (uint32_t k = 0; k < count; ++k) {
        PlannedWrite& w = writes[k];
        const EntryDecision& d = *w.decision;
        const bool inProduct = productKnown && StartsWithNoCase(d.directory, productDir);
        CopyText(w.trusted, sizeof w.trusted, inProduct ? productDir : d.directory);
        if (inProduct) {
            // The folder that holds the product directory.
            size_t n = std::strlen(w.trusted);
            while (n > 0 && w.trusted[n - 1] == '\\') --n;
            while (n > 0 && w.trusted[n - 1] != '\\') --n;
            if (n > 0) w.trusted[n] = '\0';
        }
        char where[kMaxPath];
        const WayProblem problem = CheckWay(os, inProduct ? productDir : d.directory, inProduct, d.target, where);
        if (problem != WayProblem::None) {
            SetFailure(why, IDS_LINK_REFUSED, where);
            return false;
        }
    }
    return true;
}

// Anything at a name the update creates (a file, a link, dangling or not) is
// not ours to open or clear. Checked once an earlier journal, which may
// still name some, is settled.
bool CheckNamesVacant(Platform& os, const PlannedWrite* writes, uint32_t count, WriteResult* why) {
    for (uint32_t k = 0; k < count; ++k) {
        char where[kMaxPath];
        if (CheckVacant(os, writes[k].staged, where) != WayProblem::None ||
            CheckVacant(os, writes[k].backup, where) != WayProblem::None) {
            SetFailure(why, IDS_LINK_REFUSED, where);
            return false;
        }
    }
    return true;
}

void StageEntry(StageSession& session, StampedBlockSave* save, const uint8_t* digest, EntryDecision& d,
                PlannedWrite* w, WriteResult* why) {
    RunContext& run = *session.run;
    why->outcome = WriteOutcome::Done;
    if (d.carried) {
        // The installed copy is read before anything could change it.
        switch (ReadCarriedBlocks(*run.os, d.target, save)) {
        case CarryOutcome::Done: break;
        case CarryOutcome::NoMemory:
            SetFailure(why, IDS_NO_MEMORY, d.target);
            d.outcome = EntryOutcome::Failed;
            d.step = false;
            return;
        default:
            d.outcome = EntryOutcome::CarriedNotInstalled;  // it went away since the plan
            return;
        }
    }
    run.transferView->ShowFileName(run.progressPage, d.name);
    if (session.ahead != nullptr && TakeStagedAhead(session.ahead, w)) {
        w->isStaged = true;
        return;
    }
    StageRequest request{d.entry,     d.directory, d.name, d.target, w->staged, w->trusted, d.installed,
                         digest,      d.carried ? save : nullptr, &w->written};
    StageMember(session, request, why);
    if (why->outcome == WriteOutcome::Kept) {
        d.outcome = EntryOutcome::KeptByIgnore;
        return;
    }
    if (why->outcome != WriteOutcome::Done) {
        d.outcome = EntryOutcome::Failed;
        return;
    }
    w->isStaged = true;
}

}  // namespace zv

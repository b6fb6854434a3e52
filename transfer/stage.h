// Staging one member of the package: expanding it into a new copy beside its
// target, where it waits until every member is staged and the transfer puts
// them all in place at once.
#pragma once

#include <cstdint>

#include "package/lzhuf_decoder.h"
#include "package/member_name.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"
#include "transfer/carry.h"
#include "transfer/decide.h"
#include "transfer/journal.h"

namespace zv {

// What became of one step of the write path: staging a member, carrying its
// blocks, putting it in place.
enum class WriteOutcome : uint8_t {
    Done,       // done as decided
    Kept,       // Ignore at the write-protection question: the installed file stays as it is
    Stopped,     // Abort at a question
    Cancelled,   // a Cancel answer
    Unreadable,  // the member cannot be read from the package, and the user has been told
                 // (a stream that ends before its size has no message of its own)
    Failed,      // ends the transfer with the closing message `messageId` about `subject`
};
const char* WriteOutcomeName(WriteOutcome outcome);

// An outcome, and for Failed the message that tells it and the file it is
// about, from where the failure was found.
struct WriteResult {
    WriteOutcome outcome = WriteOutcome::Done;
    unsigned messageId = 0;
    char subject[kMaxPath] = {};
};
void SetFailure(WriteResult* result, unsigned messageId, const char* subject);

// Why the way to a file refuses a write.
enum class WayProblem : uint8_t {
    None,
    Link,       // a folder on the way, or the target itself, is a link or junction
    Occupied,   // something is at a new copy's or a backup's name already
    Unknown,    // what is on the way cannot be told
    Misplaced,  // a file opened for writing is not the one meant
};
const char* WayProblemName(WayProblem problem);

// Checks the way from the directory `base` (ending in "") down to `target`
// below it before anything is written: every folder below `base` that
// exists, and `target` itself when it exists, must be what it seems and not
// a link or junction (the folders that do not exist yet are made by the
// transfer). With `baseItself` `base` must not be a link either, unless it
// is a drive's root. On a problem `where` (kMaxPath) gets the path refused.
WayProblem CheckWay(Platform& os, const char* base, bool baseItself, const char* target, char* where);

// Checks that nothing at all, not even a dangling link, is at `path`, a
// name the transfer is about to create: Occupied or Unknown (`where` gets
// the path), or None.
WayProblem CheckVacant(Platform& os, const char* path, char* where);

// A new copy's size and SHA-256, taken from its bytes as they were written,
// when they are known and are still what the file holds.
struct WrittenRecord {
    bool known = false;
    FileRecord record = {};
};

// One member to put in place, beside the decision that wants it and its
// entry in the journal.
struct PlannedWrite {
    EntryDecision* decision;
    char staged[kMaxPath];  // the new copy beside the target
    char backup[kMaxPath];  // the installed copy's name during the commit
    char trusted[kMaxPath]; // the folder whose links are the system's own: above the
                            // product directory, or the system directory
    bool isStaged;          // the new copy is complete
    WrittenRecord written;  // the new copy as it was written, for the journal
};

// No folder on the way to a target is a link or junction, and no target
// is one, before anything is written (the journal included); sets every
// write's trusted folder. False, with *why Failed (IDS_LINK_REFUSED about
// the path refused), when one is. `productDir` ends in "\" or is "".
bool CheckWays(Platform& os, const char* productDir, PlannedWrite* writes, uint32_t count, WriteResult* why);

// The names the update creates beside each target are free: false, with
// *why Failed (IDS_LINK_REFUSED about the name), when anything is there.
bool CheckNamesVacant(Platform& os, const PlannedWrite* writes, uint32_t count, WriteResult* why);

struct StageAhead;

// The reader and decoder of one transfer, shared by every member it stages,
// and the workers that expand members ahead of it, if any.
struct StageSession {
    RunContext* run = nullptr;
    VolumeReader reader;
    LzhufDecoder* decoder = nullptr;
    StageAhead* ahead = nullptr;
};

// One member to stage.
struct StageRequest {
    PackageEntry entry;
    const char* directory;    // the target directory, ending in a backslash
    const char* name;         // the entry's name below it
    const char* target;       // directory + name, shown by the questions
    const char* staged;       // the new copy beside it
    const char* trusted;      // the folder it lies in or below whose links are the system's own
    bool installed;           // a copy is installed at the target
    const uint8_t* digest;    // the SHA-256 of its expanded bytes, or nullptr when the package has none
    const StampedBlockSave* carried;  // the installed copy's stamped blocks, or nullptr when none are carried
    WrittenRecord* written = nullptr;  // gets the staged copy's record, when known (null: not wanted)
};

// Expands the member into the new copy `staged` and makes it durable; the
// installed file is not touched. An installed file that cannot be written is
// asked about first ("write protected", Abort/Retry/Ignore): Ignore gives
// Kept. Missing directories are created. The new copy is created new, never
// over anything at its name, and everything it gets goes through the one
// handle that created it, once that handle is found to be the file meant:
// something at the name, or a new file that is not at `staged` (a folder on
// the way became a link), is Failed with IDS_LINK_REFUSED about the staged
// path. A new copy whose bytes do not match the digest is damage: Failed
// with IDS_MEMBER_DAMAGED about the member's name. The bytes are hashed as
// they are written (no read back), and the digest is trusted only once the
// copy is flushed and holds exactly as many bytes as were written; a copy
// that holds another number is damage too. Then the carried blocks go
// in. A member the reader cannot read is Unreadable, told here when the
// reader recorded it without asking (TellReadFailure); Cancel at any
// question, the reader's included, is Cancelled. On any outcome but Done the
// new copy made here is gone; whatever was at the name before is left alone.
WriteOutcome StageMember(StageSession& session, const StageRequest& request, WriteResult* result);

// Stages the member from its compressed bytes held in memory (`size` bytes
// at `bytes`), asking nothing and telling nothing: for a worker thread, with
// its own `decoder` and OUTPUT_BUFFER_SIZE-byte `buffer`; it uses run.os
// only. True when the new copy is complete, flushed and matches the digest,
// with request.written filled. False, with no new copy left and nothing else
// changed but the folders it made, at the first thing that goes otherwise
// than well: anything StageMember would ask about, tell or refuse, a member
// whose stamped blocks are carried, or a failure of any kind. StageMember
// then stages the member again, and meets what there is to ask or tell.
bool StageMemberQuietly(RunContext& run, const StageRequest& request, const uint8_t* bytes, uint32_t size,
                        LzhufDecoder* decoder, uint8_t* buffer);

// Stages the member that the decision `d` writes into w->staged: reads the
// installed copy's stamped blocks first when they are carried (into *save),
// shows the member's name on the progress page and stages it (StageMember,
// checked against `digest` when not null). Sets w->isStaged when it is
// staged; otherwise sets d's outcome to what became of it: KeptByIgnore;
// CarriedNotInstalled when the installed copy went away since the plan;
// Failed when it ends the transfer, with d.step cleared when it ends it
// before the member's progress step. *why says what ends the transfer
// (Done and Kept go on).
void StageEntry(StageSession& session, StampedBlockSave* save, const uint8_t* digest, EntryDecision& d,
                PlannedWrite* w, WriteResult* why);

}  // namespace zv

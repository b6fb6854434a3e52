// The updater's messages about the package: which string tells a table that
// is not loaded, a package refused for its signature, or a failed read of a
// member; and the volume reader's questions as the updater's message boxes.
// The package's code records what went wrong; the words are chosen here.
#pragma once

#include "package/integrity.h"
#include "package/table.h"
#include "package/volume_reader.h"
#include "platform/run_context.h"

namespace zv {

// The message for a table that is not loaded: IDS_NO_MEMORY for NoMemory,
// otherwise IDS_READ_ERROR (about the program file); 0 when Loaded.
unsigned TableStatusMessage(TableStatus status);

// The message that tells why the package is refused; 0 when it is not.
unsigned PackageTrustMessage(PackageTrust trust);

// The message of a read failure: IDS_INSERT_DISK for DiskNotIn (formatted
// with the volume and the drive), IDS_READ_ERROR ("%s: read error!" about
// ReadFailureSubject) for every other kind; 0 for None.
unsigned ReadFailureMessage(ReadFailureKind kind);

// The reader's questions as message boxes owned by run.progressPage: Retry
// and Cancel with "%s: read error!" about the failure's subject, and the disk
// prompt "Insert disk %d in drive %s." with the volume and the upper-cased
// first character of run.programDir, OK and Cancel, captioned with
// run.titleText.
class MessageReadQuestions : public ReadQuestions {
public:
    explicit MessageReadQuestions(RunContext& run) : run_(run) {}
    bool Retry(const ReadFailure& failure) override;
    bool InsertDisk(const ReadFailure& failure) override;

protected:
    RunContext& run_;
};

// Tells the user about a failure that the reader recorded without asking (a
// member cut short, a damaged member): "%s: read error!" about its subject,
// OK only, owned by run.progressPage. Returns true when it told one; false,
// with nothing shown, for no failure or one the user answered with Cancel.
bool TellReadFailure(RunContext& run, const ReadFailure& failure);

}  // namespace zv

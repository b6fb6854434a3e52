#include "transfer/package_messages.h"

#include "platform/messages.h"
#include "string_ids.h"

namespace zv {

unsigned TableStatusMessage(TableStatus status) {
    switch (status) {
    case TableStatus::Loaded: return 0;
    case TableStatus::NoMemory: return IDS_NO_MEMORY;
    default: return IDS_READ_ERROR;
    }
}

unsigned PackageTrustMessage(PackageTrust trust) {
    switch (trust) {
    case PackageTrust::SignatureBroken: return IDS_SIGNATURE_BROKEN;
    case PackageTrust::Unbound: return IDS_SIGNED_UNCHECKED;
    default: return 0;
    }
}

unsigned ReadFailureMessage(ReadFailureKind kind) {
    switch (kind) {
    case ReadFailureKind::None: return 0;
    case ReadFailureKind::DiskNotIn: return IDS_INSERT_DISK;
    default: return IDS_READ_ERROR;
    }
}

bool MessageReadQuestions::Retry(const ReadFailure& failure) {
    return AskRetryCancel(run_, run_.progressPage, ReadFailureMessage(failure.kind), ReadFailureSubject(failure)) ==
           ANSWER_RETRY;
}

bool MessageReadQuestions::InsertDisk(const ReadFailure& failure) {
    return AskInsertDisk(run_, run_.progressPage, failure.volume, run_.programDir[0]);
}

bool TellReadFailure(RunContext& run, const ReadFailure& failure) {
    if (failure.kind == ReadFailureKind::None || ReadFailureAsked(failure.kind)) return false;
    ReportError(run, run.progressPage, ReadFailureMessage(failure.kind), ReadFailureSubject(failure));
    return true;
}

}  // namespace zv

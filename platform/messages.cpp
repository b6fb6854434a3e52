#include "platform/messages.h"

#include "platform/text.h"
#include "string_ids.h"

namespace zv {
namespace {

int Show(RunContext& run, WindowRef owner, unsigned id, const char* text, const char* caption,
         unsigned style) {
    MessageRequest message{owner, id, text, caption, style};
    return run.ui->ShowMessage(message);
}

// Loads string `id` (at most loadSize - 1 characters) and formats it with the
// single text argument into `out`. The argument is cut to a path's length
// first, so no format of the table can grow beyond the formatter's reach.
void LoadAndFormat(unsigned id, int loadSize, const char* argument, char* out, int outSize) {
    char format[kMaxPath] = {};
    LoadText(id, format, loadSize < static_cast<int>(sizeof format) ? loadSize
                                                                     : static_cast<int>(sizeof format));
    char text[kMaxPath] = {};
    CopyText(text, sizeof text, argument ? argument : "");
    FormatText(out, outSize, format, text);
}

}  // namespace

void SetItemString(RunContext& run, WindowRef dialog, int item, unsigned id) {
    char text[255] = {};
    LoadText(id, text, sizeof text);
    run.ui->SetItemText(dialog, item, id, text);
}

int ShowTitledMessage(RunContext& run, WindowRef owner, unsigned id, unsigned style) {
    char text[256] = {};
    LoadText(id, text, sizeof text);
    return Show(run, owner, id, text, run.titleText, style);
}

int ShowWarning(RunContext& run, WindowRef owner, unsigned id) {
    char text[256] = {};
    LoadText(id, text, sizeof text);
    return Show(run, owner, id, text, nullptr, BOX_OK | BOX_ICONEXCLAMATION);
}

void ReportError(RunContext& run, WindowRef owner, unsigned id, const char* subject) {
    switch (id) {
    case IDS_FILE_MISSING:
    case IDS_READ_ERROR:
    case IDS_WRITE_ERROR:
    case IDS_FILE_IN_USE:
    case IDS_MEMBER_DAMAGED:
    case IDS_JOURNAL_REFUSED:
    case IDS_LINK_REFUSED: {
        char text[260] = {};
        LoadAndFormat(id, 260, subject, text, sizeof text);
        Show(run, owner, id, text, nullptr, BOX_OK | BOX_ICONEXCLAMATION);
        break;
    }
    default:
        ShowWarning(run, owner, id);
        break;
    }
}

void FormatSubjectMessage(unsigned id, const char* subject, char* out, int size) {
    LoadAndFormat(id, 260, subject, out, size);
}

int AskRetryCancel(RunContext& run, WindowRef owner, unsigned id, const char* text) {
    char message[260] = {};
    LoadAndFormat(id, 260, text, message, sizeof message);
    return Show(run, owner, id, message, nullptr, BOX_RETRYCANCEL | BOX_ICONEXCLAMATION);
}

int AskFileInUse(RunContext& run, WindowRef owner, const char* shown, const char* path) {
    char holders[kMaxPath] = {};
    const HolderLookup lookup = run.os != nullptr && path != nullptr && path[0] != '\0'
                                    ? run.os->FileHolders(path, holders, sizeof holders)
                                    : HolderLookup::Unknown;
    // The system may say that nobody holds a file that cannot be moved: then
    // too the question asks to close every program.
    if (lookup != HolderLookup::Named || holders[0] == '\0') {
        return AskRetryCancel(run, owner, IDS_FILE_IN_USE, shown);
    }
    char format[kMaxPath] = {};
    LoadText(IDS_FILE_IN_USE_BY, format, sizeof format);
    char subject[kMaxPath] = {};
    CopyText(subject, sizeof subject, shown != nullptr ? shown : "");
    char message[2 * kMaxPath] = {};
    FormatText(message, sizeof message, format, subject, holders);
    return Show(run, owner, IDS_FILE_IN_USE_BY, message, nullptr, BOX_RETRYCANCEL | BOX_ICONEXCLAMATION);
}

int AskAbortRetryIgnore(RunContext& run, WindowRef owner, unsigned id, const char* text) {
    char message[256] = {};
    LoadAndFormat(id, 127, text, message, sizeof message);
    return Show(run, owner, id, message, nullptr, BOX_ABORTRETRYIGNORE | BOX_ICONEXCLAMATION);
}

bool AskInsertDisk(RunContext& run, WindowRef owner, uint32_t volume, char drive) {
    char format[256] = {};
    LoadText(IDS_INSERT_DISK, format, sizeof format);
    const char letter[2] = {UpperAz(drive), '\0'};
    char text[256] = {};
    FormatText(text, sizeof text, format, static_cast<int>(volume), letter);
    return Show(run, owner, IDS_INSERT_DISK, text, run.titleText, BOX_OKCANCEL) == ANSWER_OK;
}

}  // namespace zv

// Messages and questions, each built from one string of the table.
//
// Texts are formatted in fixed buffers and cut, never overrun, when too long:
//   SetItemString                      255 characters of the string
//   ShowTitledMessage, ShowWarning, AskInsertDisk   256
//   ReportError, AskRetryCancel        260 for the string, 260 formatted
//   AskAbortRetryIgnore                127 for the string, 256 formatted
// (sizes count the terminating zero). A string the table lacks gives an empty
// text; the box is shown all the same.
#pragma once

#include "platform/run_context.h"

namespace zv {

// Sets item `item` of `dialog` to string `id`.
void SetItemString(RunContext& run, WindowRef dialog, int item, unsigned id);

// String `id` unformatted, captioned with run.titleText, in the caller's
// style; returns the answer.
int ShowTitledMessage(RunContext& run, WindowRef owner, unsigned id, unsigned style);

// String `id` unformatted, the default caption, OK and the exclamation icon.
int ShowWarning(RunContext& run, WindowRef owner, unsigned id);

// For ids 33, 34, 35, 39, 71, 76 and 120 (a file missing, a read or write
// error, a file in use, a damaged member, a link refused, a damaged journal)
// the string is a format whose "%s" receives `subject`, the file the message
// is about, shown with OK and the exclamation icon; any other id is
// ShowWarning, and `subject` is not read.
void ReportError(RunContext& run, WindowRef owner, unsigned id, const char* subject);

// String `id` formatted with `text`, Retry and Cancel, exclamation icon.
// Returns ANSWER_RETRY or ANSWER_CANCEL.
int AskRetryCancel(RunContext& run, WindowRef owner, unsigned id, const char* text);

// The text of string `id` formatted with `subject` into `out` (`size`
// bytes), as ReportError and AskRetryCancel show it: 260 characters for the
// string, `subject` cut to a path's length. For a tool that tells a failure
// in words of its own around the updater's message.
void FormatSubjectMessage(unsigned id, const char* subject, char* out, int size);

// The question about a file that another program holds (Retry and Cancel,
// exclamation icon): "%s is in use by %s. Please close it and retry." (160)
// with `shown` and the programs that hold the file at `path` when the
// system can name them (run.os->FileHolders), else message 39 with `shown`.
// The text is built in 2 x 260 characters. Returns ANSWER_RETRY or
// ANSWER_CANCEL.
int AskFileInUse(RunContext& run, WindowRef owner, const char* shown, const char* path);

// String `id` formatted with `text`, Abort, Retry and Ignore, exclamation icon.
int AskAbortRetryIgnore(RunContext& run, WindowRef owner, unsigned id, const char* text);

// The disk prompt: "Insert disk %d in drive %s." (98) with `volume` and the
// letter `drive` upper-cased, OK and Cancel, no icon, captioned with
// run.titleText. True for OK.
bool AskInsertDisk(RunContext& run, WindowRef owner, uint32_t volume, char drive);

}  // namespace zv

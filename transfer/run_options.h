// What an administrator's command line asks of the updater, and the exit code
// that tells a deployment tool how the run ended.
//
// Switches are case-insensitive and start with "/" or "-":
//   /quiet       no window at all: no backdrop, no page, no message box
//   /passive     the backdrop and the transfer page only, no question
//   /log FILE    a log of the run in FILE (also in interactive runs)
//   /norestart   accepted for deployment tools; the updater never restarts
//   /?           a box that lists the switches and the exit codes
// Unattended runs (/quiet, /passive) answer every question themselves: see
// UnattendedAnswer.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/platform.h"

namespace zv {

// Exit codes, the Windows Installer's values where one has the same meaning.
enum class ExitCode : int32_t {
    Success = 0,                // Zarvel was updated
    NoWindow = -1,              // the updater's window could not be created
    UserCancel = 1602,          // Quit, a halt, or Cancel at a question: left as it was
    Failed = 1603,              // the update failed and was rolled back: left as it was
    NotInstalled = 1605,        // Zarvel is not installed on this computer
    AnotherCopy = 1618,         // another copy of the updater is running
    PackageInvalid = 1620,      // the updater is not stamped, damaged or its signature fails
    AlreadyCurrent = 1638,      // the installed version is newer (the same one is updated again)
    InvalidCommandLine = 1639,  // an unknown switch, or /log without a file
    WrongInstallation = 1642,   // the installation cannot take this update (language, CD, runtime)
    RestartNeeded = 3010,       // updated; an old copy held by a running program goes at the next start
};

const char* ExitCodeName(ExitCode code);
// One sentence that says what the code means, for /?, the log and the docs.
const char* ExitCodeMeaning(ExitCode code);

// Every exit code in the order of the documentation.
extern const ExitCode kExitCodes[];
extern const size_t kExitCodeCount;

// How much of the wizard is shown.
enum class UiLevel : uint8_t { Full, Passive, Quiet };
const char* UiLevelName(UiLevel level);

enum class CommandLineResult : uint8_t {
    Ok,
    UnknownSwitch,   // a word that is no switch of the updater (badWord names it)
    MissingLogFile,  // /log as the last word
    TooLong,         // a word longer than a path
};
const char* CommandLineResultName(CommandLineResult result);

struct RunOptions {
    UiLevel ui = UiLevel::Full;
    bool noRestart = false;
    bool help = false;
    char logPath[kMaxPath] = {};  // "" unless /log was given
    char badWord[kMaxPath] = {};  // the refused word
};

// Parses the program's command line as GetCommandLineA gives it: the
// program's name first (quoted or not), then the switches. Words are split at
// spaces and tabs; double quotes group a word with spaces ("C:\a b\zv.log").
// The last of /quiet and /passive wins. On a refusal *options still holds the
// switches read before the refused word, so that /quiet before it holds.
CommandLineResult ParseCommandLine(const char* commandLine, RunOptions* options);

// The answer an unattended run gives to a box of `style` (BoxStyle): OK for a
// message, Cancel for Retry/Cancel and for OK/Cancel (the disk prompt), Abort
// for Abort/Retry/Ignore. Every question of the transfer so ends the run and
// rolls back.
int UnattendedAnswer(unsigned style);

// The exit code of a detection page that refuses the update with string
// `messageId` (0: it does not refuse).
ExitCode ExitCodeOfRefusal(unsigned messageId);

// The exit code of a transfer whose result's number (TransferResultNumber) is
// `result` (0 done, -1 not begun or stopped, 2 a Cancel answer or a failure
// told with OK, else a message id).
// `byUser`: a user ended it (for -1: halted or closed it; for 2: answered the
// last question Cancel). A stop or Cancel an unattended run gave itself, or an
// OK after a failure, is a failure.
ExitCode ExitCodeOfTransfer(int32_t result, bool byUser);

// The default log's name in `directory` (ending in "\" or not): the product
// and the local time, "ZarvelUpdate-YYYYMMDD-HHMMSS.log", with "-N" before
// the extension when attempt N > 1. Returns the length, or 0 when it does not
// fit.
int ComposeLogName(const char* directory, unsigned year, unsigned month, unsigned day, unsigned hour,
                   unsigned minute, unsigned second, unsigned attempt, char* buffer, int size);

}  // namespace zv

#include "transfer/run_options.h"

#include <cstring>

#include "platform/text.h"
#include "platform/ui.h"
#include "string_ids.h"

namespace zv {

const ExitCode kExitCodes[] = {
    ExitCode::Success,        ExitCode::RestartNeeded,     ExitCode::UserCancel,     ExitCode::Failed,
    ExitCode::NotInstalled,   ExitCode::AlreadyCurrent,    ExitCode::WrongInstallation, ExitCode::AnotherCopy,
    ExitCode::PackageInvalid, ExitCode::InvalidCommandLine, ExitCode::NoWindow,
};
const size_t kExitCodeCount = sizeof kExitCodes / sizeof kExitCodes[0];

const char* ExitCodeName(ExitCode code) {
    switch (code) {
    case ExitCode::Success: return "Success";
    case ExitCode::NoWindow: return "NoWindow";
    case ExitCode::UserCancel: return "UserCancel";
    case ExitCode::Failed: return "Failed";
    case ExitCode::NotInstalled: return "NotInstalled";
    case ExitCode::AnotherCopy: return "AnotherCopy";
    case ExitCode::PackageInvalid: return "PackageInvalid";
    case ExitCode::AlreadyCurrent: return "AlreadyCurrent";
    case ExitCode::InvalidCommandLine: return "InvalidCommandLine";
    case ExitCode::WrongInstallation: return "WrongInstallation";
    case ExitCode::RestartNeeded: return "RestartNeeded";
    }
    return "?";
}

const char* ExitCodeMeaning(ExitCode code) {
    switch (code) {
    case ExitCode::Success: return "Zarvel was updated.";
    case ExitCode::NoWindow: return "The updater's window could not be created; nothing was changed.";
    case ExitCode::UserCancel: return "Quit, halted or cancelled at a question; Zarvel was left as it was.";
    case ExitCode::Failed: return "The update failed and was rolled back; Zarvel was left as it was.";
    case ExitCode::NotInstalled: return "Zarvel is not installed on this computer; nothing was changed.";
    case ExitCode::AnotherCopy: return "Another copy of the updater is running; nothing was changed.";
    case ExitCode::PackageInvalid:
        return "The updater is damaged, not stamped or its signature fails; nothing was changed.";
    case ExitCode::AlreadyCurrent: return "The installed version is newer than the update; nothing was changed.";
    case ExitCode::InvalidCommandLine: return "An unknown switch, or /log without a file; nothing was changed.";
    case ExitCode::WrongInstallation:
        return "This installation cannot take the update (language, CD installation, runtime library in use); "
               "nothing was changed.";
    case ExitCode::RestartNeeded:
        return "Zarvel was updated; an old copy held by a running program is removed at the next start.";
    }
    return "?";
}

const char* UiLevelName(UiLevel level) {
    switch (level) {
    case UiLevel::Full: return "full";
    case UiLevel::Passive: return "passive";
    case UiLevel::Quiet: return "quiet";
    }
    return "?";
}

const char* CommandLineResultName(CommandLineResult result) {
    switch (result) {
    case CommandLineResult::Ok: return "Ok";
    case CommandLineResult::UnknownSwitch: return "UnknownSwitch";
    case CommandLineResult::MissingLogFile: return "MissingLogFile";
    case CommandLineResult::TooLong: return "TooLong";
    }
    return "?";
}

namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

// Reads the next word from *cursor into `word`; false at the end of the line
// or (with *tooLong set) when the word does not fit.
bool NextWord(const char** cursor, char* word, size_t size, bool* tooLong) {
    const char* p = *cursor;
    while (IsBlank(*p)) ++p;
    if (*p == '\0') {
        *cursor = p;
        return false;
    }
    size_t length = 0;
    bool quoted = false;
    *tooLong = false;
    for (; *p != '\0' && (quoted || !IsBlank(*p)); ++p) {
        if (*p == '"') {
            quoted = !quoted;
            continue;
        }
        if (length + 1 >= size) {
            *tooLong = true;
            continue;
        }
        word[length++] = *p;
    }
    word[length] = '\0';
    *cursor = p;
    return true;
}

}  // namespace

CommandLineResult ParseCommandLine(const char* commandLine, RunOptions* options) {
    *options = RunOptions{};
    const char* cursor = commandLine != nullptr ? commandLine : "";
    char word[kMaxPath] = {};
    bool tooLong = false;
    // The program's own name.
    if (!NextWord(&cursor, word, sizeof word, &tooLong)) return CommandLineResult::Ok;
    while (NextWord(&cursor, word, sizeof word, &tooLong)) {
        if (tooLong) {
            CopyText(options->badWord, sizeof options->badWord, word);
            return CommandLineResult::TooLong;
        }
        const bool isSwitch = word[0] == '/' || word[0] == '-';
        const char* name = word + 1;
        if (isSwitch && EqualNoCase(name, "quiet")) {
            options->ui = UiLevel::Quiet;
        } else if (isSwitch && EqualNoCase(name, "passive")) {
            options->ui = UiLevel::Passive;
        } else if (isSwitch && EqualNoCase(name, "norestart")) {
            options->noRestart = true;
        } else if (isSwitch && EqualNoCase(name, "?")) {
            options->help = true;
        } else if (isSwitch && EqualNoCase(name, "log")) {
            if (!NextWord(&cursor, options->logPath, sizeof options->logPath, &tooLong)) {
                CopyText(options->badWord, sizeof options->badWord, word);
                return CommandLineResult::MissingLogFile;
            }
            if (tooLong) {
                CopyText(options->badWord, sizeof options->badWord, options->logPath);
                options->logPath[0] = '\0';
                return CommandLineResult::TooLong;
            }
        } else {
            // An empty word ("") is named as it was written.
            CopyText(options->badWord, sizeof options->badWord, word[0] != '\0' ? word : "\"\"");
            return CommandLineResult::UnknownSwitch;
        }
    }
    return CommandLineResult::Ok;
}

int UnattendedAnswer(unsigned style) {
    switch (style & BOX_BUTTONS_MASK) {
    case BOX_OKCANCEL:
    case BOX_RETRYCANCEL: return ANSWER_CANCEL;
    case BOX_ABORTRETRYIGNORE: return ANSWER_ABORT;
    default: return ANSWER_OK;
    }
}

ExitCode ExitCodeOfRefusal(unsigned messageId) {
    switch (messageId) {
    case 0: return ExitCode::Success;
    case IDS_VERSION_BLOCKED: return ExitCode::AlreadyCurrent;
    case IDS_LANGUAGE_REFUSED:
    case IDS_CD_INSTALL:
    case IDS_PLMR32_IN_USE:
    case IDS_PLMR16_IN_USE: return ExitCode::WrongInstallation;
    case IDS_PACKAGE_DAMAGED: return ExitCode::PackageInvalid;
    default: return ExitCode::Failed;
    }
}

ExitCode ExitCodeOfTransfer(int32_t result, bool byUser) {
    if (result == 0) return ExitCode::Success;
    if ((result == -1 || result == ANSWER_CANCEL) && byUser) return ExitCode::UserCancel;
    return ExitCode::Failed;
}

int ComposeLogName(const char* directory, unsigned year, unsigned month, unsigned day, unsigned hour,
                   unsigned minute, unsigned second, unsigned attempt, char* buffer, int size) {
    if (directory == nullptr || size <= 0) return 0;
    const size_t length = std::strlen(directory);
    const char* separator = (length == 0 || directory[length - 1] == '\\') ? "" : "\\";
    char suffix[16] = {};
    if (attempt > 1) FormatText(suffix, sizeof suffix, "-%u", attempt);
    char name[kMaxPath * 2] = {};
    const int made = FormatText(name, sizeof name, "%s%sZarvelUpdate-%04u%02u%02u-%02u%02u%02u%s.log", directory,
                                separator, year, month, day, hour, minute, second, suffix);
    if (made <= 0 || made >= size || made >= static_cast<int>(kMaxPath)) return 0;
    CopyText(buffer, size, name);
    return made;
}

}  // namespace zv

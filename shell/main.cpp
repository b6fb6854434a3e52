// Start-up and shutdown of the updater.
#include <windows.h>

#include "detect/detection.h"
#include "detect/product_version.h"
#include "package/integrity.h"
#include "package/table.h"
#include "platform/messages.h"
#include "platform/own_signature.h"
#include "platform/sha256.h"
#include "platform/text.h"
#include "resource.h"
#include "shell/package_header.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "shell/win32_ui.h"
#include "string_ids.h"
#include "transfer/package_messages.h"
#include "transfer/run_options.h"
#include "transfer/stage_ahead.h"
#include "transfer/startup.h"
#include "transfer/transfer.h"

namespace zv {

namespace {

// Before anything that may load a library: the libraries loaded from now on,
// and those they load in turn (the input method, theme and common-control
// libraries the windows bring in), come from the system directory alone, never
// from the folder the updater was started from nor the current directory. The
// search order of SetDefaultDllDirectories is taken where Windows has it
// (Windows 8, and Windows 7 and Vista with their update); SetDllDirectoryA("")
// drops the current directory everywhere.
void LoadLibrariesFromSystemOnly() {
    using SetDefaultDllDirectoriesFunction = BOOL(WINAPI*)(DWORD);
    HMODULE kernel = GetModuleHandleA("kernel32.dll");
    const auto setDefault = kernel == nullptr ? nullptr
                                              : reinterpret_cast<SetDefaultDllDirectoriesFunction>(
                                                    reinterpret_cast<void*>(
                                                        GetProcAddress(kernel, "SetDefaultDllDirectories")));
    const bool systemOnly = setDefault != nullptr && setDefault(LOAD_LIBRARY_SEARCH_SYSTEM32);
    SetDllDirectoryA("");
    Trace("library search: %s", systemOnly ? "system directory" : "without the current directory");
}

// Another copy is running when a window of our class exists, or (for a copy
// run with /quiet, which has none) when the updater's mutex does. An
// interactive run brings the running copy, and the pop-up it last showed, to
// the front; an unattended one touches no window.
bool AnotherCopyRunning(bool activate) {
    // Kept open until the process ends: its existence is the sign.
    HANDLE mutex = CreateMutexA(nullptr, FALSE, "Global\\ZarvelUpdaterRunning");
    const bool mutexTaken = mutex != nullptr && GetLastError() == ERROR_ALREADY_EXISTS;
    HWND running = FindWindowA("UpdateClass", nullptr);
    if (running == nullptr && !mutexTaken) return false;
    if (running != nullptr && activate) {
        HWND popup = GetLastActivePopup(running);
        BringWindowToTop(running);
        if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
        if (popup != running) BringWindowToTop(popup);
    }
    Trace("another copy is running");
    return true;
}

// Where the backdrop stands and how big its client area is, for the tests
// that check its colours on a screenshot.
void TraceBackdrop() {
    RECT client;
    GetClientRect(g_Shell.backdropWindow, &client);
    POINT origin = {0, 0};
    ClientToScreen(g_Shell.backdropWindow, &origin);
    Trace("backdrop client %ldx%ld at %ld,%ld screen %dx%d menu %d", client.right, client.bottom, origin.x,
          origin.y, g_Shell.screenWidth, g_Shell.screenHeight, g_Shell.menuHeight);
}

// Traces what the transfer decided for each entry it looked at, and where it
// stood afterwards.
class TraceTransferObserver : public TransferObserver {
public:
    void EntryDone(const EntryReport& report) override {
        const EntryDecision& d = report.decision;
        const bool written = d.outcome == EntryOutcome::Write;
        Trace("entry %u pass %u %s: %s%s%s percent=%u result=%d", static_cast<unsigned>(d.index),
              static_cast<unsigned>(d.pass), d.name, EntryOutcomeName(d.outcome), written ? " " : "",
              written ? d.target : "", static_cast<unsigned>(report.percent), static_cast<int>(TransferResultNumber(report.result)));
    }
    void StageBegins(TransferStage stage) override { Trace("transfer stage %s", TransferStageName(stage)); }
    void Finished(RecoveryOutcome outcome, const char* leftPath) override {
        leftOver = outcome == RecoveryOutcome::LeftOver;
        Trace("transfer finished: %s%s%s", RecoveryOutcomeName(outcome), leftOver ? " " : "", leftOver ? leftPath : "");
    }
    bool leftOver = false;
};

// Set when the journal that the start settled left an old copy that a
// running program holds: the update stands, a later start removes it.
bool g_RestartPending = false;

// Welcome, detection, the detection page or the not-installed page, the
// transfer and its outcome. Every page but the transfer's runs in
// RunModalPage; any result but Next ends the sequence. An unattended run
// shows none of these pages: it goes on where the detection page would offer
// Next, and ends where it would not.
ExitCode RunPageSequence(PackageTable* table) {
    RunContext& run = g_Shell.run;
    const bool pages = !g_Shell.unattended;
    if (pages && RunModalPage(IDD_WELCOME, WelcomePageProc, 0) != PageResult::Next) return ExitCode::UserCancel;

    InstalledProduct product;
    PrepareUpdate(run, g_Shell.header, &product, table);
    Trace("detected variants=0x%x runtime=0x%x", static_cast<unsigned>(product.variants),
          static_cast<unsigned>(product.runtime));
    if (product.variants == 0) {
        Trace("verdict: not installed");
        if (pages) RunModalPage(IDD_NOT_INSTALLED, NotInstalledPageProc, 0);
        return ExitCode::NotInstalled;
    }

    // The verdict is decided once and shown by the page as it is.
    UpdateVerdict verdict = EvaluateUpdate(run, product, g_Shell.header, table->status);
    Trace("product directory %s", product.installDir);
    Trace("installed 16-bit %s 32-bit %s type %s", verdict.version16Text, verdict.version32Text,
          verdict.installTypeText);
    Trace("verdict: %s id=%u %s", verdict.canProceed ? "update" : "refused", verdict.messageId, verdict.message);
    if (pages) {
        g_Shell.verdict = &verdict;
        const PageResult answer = RunModalPage(IDD_DETECTED, DetectedPageProc, 0);
        g_Shell.verdict = nullptr;
        if (answer != PageResult::Next) {
            return verdict.canProceed ? ExitCode::UserCancel : ExitCodeOfRefusal(verdict.messageId);
        }
    } else if (!verdict.canProceed) {
        return ExitCodeOfRefusal(verdict.messageId);
    }

    TraceTransferObserver observer;
    bool leftAsItWas = false;
    const TransferResult result = RunTransfer(run, *table, &product, &observer, &leftAsItWas);
    const int32_t number = TransferResultNumber(result);
    Trace("transfer result=%d", static_cast<int>(number));
    if (!Succeeded(result)) Trace("installation left as it was=%d", leftAsItWas ? 1 : 0);
    // A user stops the transfer with Cancel (and the halt), by closing the
    // window, or with Cancel or Abort at a question; an unattended run's own
    // answers are failures.
    const bool stopped = result.outcome == TransferOutcome::Stopped || result.outcome == TransferOutcome::NotBegun;
    const bool byUser = stopped ? !g_Shell.unattended || g_Shell.pageResult == PageResult::Quit
                                : !g_Shell.unattended && g_Shell.lastAnswer == ANSWER_CANCEL;
    ExitCode code = ExitCodeOfTransfer(number, byUser);
    if (code == ExitCode::Success && (observer.leftOver || g_RestartPending)) code = ExitCode::RestartNeeded;
    if (pages) {
        if (Succeeded(result)) {
            RunModalPage(IDD_SUCCESS, SuccessPageProc, 0);
        } else {
            // The page says so when nothing of the update stayed.
            RunModalPage(IDD_PARTIAL, PartialPageProc, leftAsItWas ? 1 : 0);
        }
    }
    return code;
}

// The frame dialog and the page sequence in it.
ExitCode RunFrame(HINSTANCE instance, PackageTable* table) {
    g_Shell.frameDialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_FRAME), g_Shell.backdropWindow,
                                             FrameDialogProc, 0);
    if (g_Shell.frameDialog == nullptr) {
        Trace("frame not created");
        return ExitCode::Failed;
    }
    const ExitCode code = RunPageSequence(table);
    DestroyWindow(g_Shell.frameDialog);
    g_Shell.frameDialog = nullptr;
    return code;
}

// A signed updater is refused when its signature is broken over its file, or
// when its package carries no integrity data that binds every member to it;
// it goes on when the system cannot check the signature but the data is
// there, or when the table cannot be read here (the transfer's own reading
// says why). An unsigned one goes on as it always did. Checked before
// anything could change the installation; false after the message that says
// why not.
bool PackageTrusted() {
    RunContext& run = g_Shell.run;
    char path[kMaxPath] = {};
    run.os->ModulePath(path, sizeof path);
    SignatureState signature = SignatureState::Unsigned;
    uint32_t systemResult = 0;
    const PackageTrust trust = CheckPackageTrust(*run.os, path, g_Shell.header, &signature, &systemResult);
    Trace("signature %s (0x%08lx): %s", SignatureStateName(signature), static_cast<unsigned long>(systemResult),
          PackageTrustName(trust));
    if (PackageTrustAllows(trust)) return true;
    ShowTitledMessage(run, run.backdropWindow, PackageTrustMessage(trust), BOX_OK | BOX_ICONSTOP);
    return false;
}

void Shutdown() {
    if (g_Shell.backdropWindow != nullptr) DestroyWindow(g_Shell.backdropWindow);
    MSG msg;
    while (GetMessageA(&msg, nullptr, 0, 0) > 0) DispatchMessageA(&msg);
    if (!g_Shell.pageBrushIsStock) DeleteObject(g_Shell.pageBrush);
    if (g_Shell.pageFont != nullptr) DeleteObject(g_Shell.pageFont);
}

// The list of switches and exit codes that /? shows.
void ShowHelp() {
    static const unsigned lines[] = {IDS_USAGE,          IDS_SWITCH_QUIET,     IDS_SWITCH_PASSIVE, IDS_SWITCH_LOG,
                                     IDS_SWITCH_NORESTART, IDS_SWITCH_HELP, IDS_EXIT_CODES};
    char text[4096] = {};
    char line[512] = {};
    for (unsigned id : lines) {
        LoadText(id, line, sizeof line);
        AppendText(text, sizeof text, line);
        AppendText(text, sizeof text, id == IDS_USAGE || id == IDS_SWITCH_HELP ? "\r\n\r\n" : "\r\n");
    }
    for (size_t k = 0; k < kExitCodeCount; ++k) {
        FormatText(line, sizeof line, "%d\t%s\r\n", static_cast<int>(kExitCodes[k]), ExitCodeMeaning(kExitCodes[k]));
        AppendText(text, sizeof text, line);
    }
    MessageRequest help{g_Shell.run.backdropWindow, IDS_USAGE, text, g_Shell.run.titleText, BOX_OK | BOX_ICONINFORMATION};
    g_Shell.run.ui->ShowMessage(help);
}

// The package, its trust, the journal of an earlier run, then the pages (or,
// with /quiet, the same steps with no window).
ExitCode RunStamped(HINSTANCE instance) {
    PackageTable table;
    ExitCode code = ExitCode::PackageInvalid;
    if (g_Shell.header.entryCount == 0) {
        // The one text that is not in the string table.
        MessageRequest unstamped{g_Shell.run.backdropWindow, 0,
                                 "Please run QUILLON before to use this program!", nullptr,
                                 BOX_OK | BOX_ICONSTOP};
        g_Shell.run.ui->ShowMessage(unstamped);
    } else if (PackageTrusted()) {
        // An update cut short by a kill or a power cut is settled before
        // anything is looked at, so that the pages see the installation whole.
        RecoveryReport recovery;
        const RecoveryOutcome settled = RecoverInterruptedUpdate(g_Shell.run, &recovery);
        if (settled != RecoveryOutcome::NoJournal) {
            Trace("recovery: %s restored=%u removed=%u failed=%u notours=%u", RecoveryOutcomeName(settled),
                  static_cast<unsigned>(recovery.restored),
                  static_cast<unsigned>(recovery.newRemoved + recovery.stagedRemoved + recovery.backupsRemoved),
                  static_cast<unsigned>(recovery.failed), static_cast<unsigned>(recovery.notOurs));
        }
        g_RestartPending = settled == RecoveryOutcome::LeftOver;
        const RecoveryNotice notice = NoticeOfRecovery(settled, recovery);
        if (notice.stringId != 0) {
            // The journal that stays, or the file left alone, is named; a
            // journal that stays lets nothing change the installation.
            char format[kMaxPath] = {};
            char text[2 * kMaxPath] = {};
            LoadText(notice.stringId, format, sizeof format);
            FormatText(text, sizeof text, format, notice.subject);
            MessageRequest message{g_Shell.run.backdropWindow, notice.stringId, text, g_Shell.run.titleText,
                                   BOX_OK | (notice.goOn ? BOX_ICONEXCLAMATION : BOX_ICONSTOP)};
            g_Shell.run.ui->ShowMessage(message);
        }
        if (!notice.goOn) {
            code = ExitCode::Failed;
        } else if (g_Shell.backdropWindow == nullptr) {
            code = RunPageSequence(&table);
        } else {
            code = RunFrame(instance, &table);
        }
    }
    // The file table that detection loaded lives until here.
    FreePackageTable(*g_Shell.run.os, &table);
    return code;
}

ExitCode RunWithOptions(HINSTANCE instance, const RunOptions& options, CommandLineResult parsed) {
    const bool quiet = options.ui == UiLevel::Quiet;
    if (parsed != CommandLineResult::Ok) {
        char format[256] = {};
        char text[2 * kMaxPath] = {};
        LoadText(IDS_UNKNOWN_SWITCH, format, sizeof format);
        FormatText(text, sizeof text, format, options.badWord);
        MessageRequest refusal{kNoWindow, IDS_UNKNOWN_SWITCH, text, g_Shell.run.titleText, BOX_OK | BOX_ICONSTOP};
        g_Shell.run.ui->ShowMessage(refusal);
        return ExitCode::InvalidCommandLine;
    }
    if (options.help) {
        ShowHelp();
        return ExitCode::Success;
    }
    if (AnotherCopyRunning(!g_Shell.unattended)) return ExitCode::AnotherCopy;
    Trace("start entries=%u", static_cast<unsigned>(g_Shell.header.entryCount));

    if (quiet) {
        // No window at all: the questions are answered, the transfer has no page.
        g_Shell.run.transferView = &QuietTransferView();
        return RunStamped(instance);
    }

    g_Shell.pageBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    if (g_Shell.pageBrush == nullptr) {
        g_Shell.pageBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        g_Shell.pageBrushIsStock = true;
    }
    if (RegisterBackdropClass() == 0) return ExitCode::NoWindow;

    g_Shell.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    g_Shell.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    g_Shell.menuHeight = GetSystemMetrics(SM_CYMENU);

    g_Shell.backdropWindow =
        CreateWindowExA(0, "UpdateClass", g_Shell.run.titleText, WS_OVERLAPPEDWINDOW, 0, 0,
                        g_Shell.screenWidth, g_Shell.screenHeight, nullptr, nullptr, instance, nullptr);
    if (g_Shell.backdropWindow == nullptr) {
        ShowWarning(g_Shell.run, kNoWindow, IDS_WINDOW_PROBLEM);
        return ExitCode::NoWindow;
    }
    g_Shell.run.backdropWindow = reinterpret_cast<WindowRef>(g_Shell.backdropWindow);
    ShowWindow(g_Shell.backdropWindow, SW_SHOWNORMAL);
    UpdateWindow(g_Shell.backdropWindow);
    g_Shell.screenCentre.x = g_Shell.screenWidth / 2;
    g_Shell.screenCentre.y = g_Shell.screenHeight / 2 - g_Shell.menuHeight;

    TraceBackdrop();
    const ExitCode code = RunStamped(instance);
    Shutdown();
    return code;
}

}  // namespace

int RunUpdater(HINSTANCE instance) {
    g_Shell.instance = instance;
    g_Shell.run.os = &HostPlatform();
    g_Shell.run.ui = &Win32UserInterface();
    g_Shell.run.transferView = &Win32TransferView();
    g_Shell.run.stageWorkers = StageWorkerCount();

    RunOptions options;
    const CommandLineResult parsed = ParseCommandLine(GetCommandLineA(), &options);
    g_Shell.unattended = options.ui != UiLevel::Full;
    if (g_Shell.unattended) g_Shell.run.ui = &UnattendedUserInterface();
    // An interactive run keeps a log only when asked for one.
    const bool logged = g_Shell.unattended || options.logPath[0] != '\0';
    const bool logOpen = logged && OpenTraceLog(options.logPath);

    // "Udpater" is the title every released updater has carried; it is kept
    // so that this one looks like them (the frame's own caption is spelt right).
    LoadText(IDS_TITLE, g_Shell.run.titleText, sizeof g_Shell.run.titleText);
    g_Shell.header = StampedPackageHeader();
    char packageVersion[32] = {};
    FormatVersionParts(g_Shell.header.version, packageVersion, sizeof packageVersion);
    Trace("updater %s package %s language 0x%04x", ZV_UPDATER_VERSION, packageVersion,
          static_cast<unsigned>(g_Shell.header.language & 0xFFFF));
    Trace("command line: %s", GetCommandLineA());
    Trace("switches %s ui=%s norestart=%d help=%d", CommandLineResultName(parsed), UiLevelName(options.ui),
          options.noRestart ? 1 : 0, options.help ? 1 : 0);
    if (logged) Trace("log %s", logOpen ? TraceLogPath() : "not opened");

    const ExitCode code = RunWithOptions(instance, options, parsed);
    // Every file is checked by now; the hashing provider kept for the run goes.
    Sha256EndRun();
    Trace("exit %d %s: %s", static_cast<int>(code), ExitCodeName(code), ExitCodeMeaning(code));
    CloseTraceLog();
    return static_cast<int>(code);
}

}  // namespace zv

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    zv::LoadLibrariesFromSystemOnly();
    return zv::RunUpdater(instance);
}

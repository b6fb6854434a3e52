// Start-up and shutdown of the updater.
#include <windows.h>

#include "detect/detection.h"
#include "package/integrity.h"
#include "package/table.h"
#include "platform/messages.h"
#include "platform/own_signature.h"
#include "platform/text.h"
#include "resource.h"
#include "shell/package_header.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "shell/win32_ui.h"
#include "string_ids.h"
#include "transfer/prepare.h"
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

// Another copy is running when a window of our class exists: bring it, and
// the pop-up it last showed, to the front.
bool ActivateRunningCopy() {
    HWND running = FindWindowA("UpdateClass", nullptr);
    if (running == nullptr) return false;
    HWND popup = GetLastActivePopup(running);
    BringWindowToTop(running);
    if (IsIconic(running)) ShowWindow(running, SW_RESTORE);
    if (popup != running) BringWindowToTop(popup);
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
              written ? d.target : "", static_cast<unsigned>(report.percent), static_cast<int>(report.result));
    }
    void StageBegins(TransferStage stage) override { Trace("transfer stage %s", TransferStageName(stage)); }
};

// Welcome, detection, the detection page or the not-installed page, the
// transfer and its outcome. Every page but the transfer's runs in
// RunModalPage; any result but Next ends the sequence.
void RunPageSequence(PackageTable* table) {
    RunContext& run = g_Shell.run;
    if (RunModalPage(IDD_WELCOME, WelcomePageProc, 0) != PageResult::Next) return;

    InstalledProduct product;
    PrepareUpdate(run, g_Shell.header, &product, table);
    Trace("detected variants=0x%x runtime=0x%x", static_cast<unsigned>(product.variants),
          static_cast<unsigned>(product.runtime));
    if (product.variants == 0) {
        RunModalPage(IDD_NOT_INSTALLED, NotInstalledPageProc, 0);
        return;
    }

    // The verdict is decided once and shown by the page as it is.
    UpdateVerdict verdict = EvaluateUpdate(run, product, g_Shell.header, table->status);
    g_Shell.verdict = &verdict;
    const PageResult answer = RunModalPage(IDD_DETECTED, DetectedPageProc, 0);
    g_Shell.verdict = nullptr;
    if (answer != PageResult::Next) return;

    TraceTransferObserver observer;
    bool leftAsItWas = false;
    TransferResult result = RunTransfer(run, *table, &product, &observer, &leftAsItWas);
    Trace("transfer result=%d", static_cast<int>(result));
    if (result != 0) Trace("installation left as it was=%d", leftAsItWas ? 1 : 0);
    if (result == 0) {
        RunModalPage(IDD_SUCCESS, SuccessPageProc, 0);
    } else {
        // The page says so when nothing of the update stayed.
        RunModalPage(IDD_PARTIAL, PartialPageProc, leftAsItWas ? 1 : 0);
    }
}

// The frame dialog and the page sequence in it.
void RunFrame(HINSTANCE instance, PackageTable* table) {
    g_Shell.frameDialog = CreateDialogParamA(instance, MAKEINTRESOURCEA(IDD_FRAME), g_Shell.backdropWindow,
                                             FrameDialogProc, 0);
    if (g_Shell.frameDialog != nullptr) {
        RunPageSequence(table);
        DestroyWindow(g_Shell.frameDialog);
        g_Shell.frameDialog = nullptr;
    } else {
        Trace("frame not created");
    }
}

// A signed updater goes on only when its signature holds over its file and
// its package's integrity data binds every member to it; an unsigned one
// goes on as it always did. Checked before anything could change the
// installation; false after the message that says why not.
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

}  // namespace

int RunUpdater(HINSTANCE instance) {
    if (ActivateRunningCopy()) return 0;
    g_Shell.instance = instance;
    g_Shell.run.os = &HostPlatform();
    g_Shell.run.ui = &Win32UserInterface();
    g_Shell.run.transferView = &Win32TransferView();

    g_Shell.pageBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    if (g_Shell.pageBrush == nullptr) {
        g_Shell.pageBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        g_Shell.pageBrushIsStock = true;
    }
    if (RegisterBackdropClass() == 0) return 0;

    g_Shell.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    g_Shell.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    g_Shell.menuHeight = GetSystemMetrics(SM_CYMENU);
    // "Udpater" is the title every released updater has carried; it is kept
    // so that this one looks like them (the frame's own caption is spelt right).
    LoadText(IDS_TITLE, g_Shell.run.titleText, sizeof g_Shell.run.titleText);

    g_Shell.backdropWindow =
        CreateWindowExA(0, "UpdateClass", g_Shell.run.titleText, WS_OVERLAPPEDWINDOW, 0, 0,
                        g_Shell.screenWidth, g_Shell.screenHeight, nullptr, nullptr, instance, nullptr);
    if (g_Shell.backdropWindow == nullptr) {
        ShowWarning(g_Shell.run, kNoWindow, IDS_WINDOW_PROBLEM);
        return -1;
    }
    g_Shell.run.backdropWindow = reinterpret_cast<WindowRef>(g_Shell.backdropWindow);
    ShowWindow(g_Shell.backdropWindow, SW_SHOWNORMAL);
    UpdateWindow(g_Shell.backdropWindow);
    g_Shell.screenCentre.x = g_Shell.screenWidth / 2;
    g_Shell.screenCentre.y = g_Shell.screenHeight / 2 - g_Shell.menuHeight;

    TraceBackdrop();

    g_Shell.header = StampedPackageHeader();
    Trace("start entries=%u", static_cast<unsigned>(g_Shell.header.entryCount));
    PackageTable table;
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
        if (notice.goOn) RunFrame(instance, &table);
    }
    // The file table that detection loaded lives until here.
    FreePackageTable(*g_Shell.run.os, &table);
    Shutdown();
    Trace("exit 0");
    return 0;
}

}  // namespace zv

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) {
    zv::LoadLibrariesFromSystemOnly();
    return zv::RunUpdater(instance);
}

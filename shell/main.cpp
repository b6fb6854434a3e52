// Start-up and shutdown of the updater.
#include <windows.h>

#include "platform/messages.h"
#include "platform/text.h"
#include "shell/package_header.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "shell/win32_ui.h"
#include "string_ids.h"

namespace zv {

Shell g_Shell;

namespace {

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

    g_Shell.pageBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    if (g_Shell.pageBrush == nullptr) {
        g_Shell.pageBrush = static_cast<HBRUSH>(GetStockObject(LTGRAY_BRUSH));
        g_Shell.pageBrushIsStock = true;
    }
    if (RegisterBackdropClass() == 0) return 0;

    g_Shell.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    g_Shell.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    g_Shell.menuHeight = GetSystemMetrics(SM_CYMENU);
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

    PackageHeader header = StampedPackageHeader();
    Trace("start entries=%u", static_cast<unsigned>(header.entryCount));
    if (header.entryCount == 0) {
        // The one text that is not in the string table.
        MessageRequest unstamped{g_Shell.run.backdropWindow, 0,
                                 "Please run QUILLON before to use this program!", nullptr,
                                 BOX_OK | BOX_ICONSTOP};
        g_Shell.run.ui->ShowMessage(unstamped);
    }
    Shutdown();
    Trace("exit 0");
    return 0;
}

}  // namespace zv

int WINAPI WinMain(HINSTANCE instance, HINSTANCE, LPSTR, int) { return zv::RunUpdater(instance); }

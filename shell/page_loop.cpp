// The two message loops of the wizard. Pages are modeless children of the
// frame, so the backdrop's and the frame's system menus keep working while a
// page runs; every window procedure reports what the user did through
// g_Shell.pageResult, which the loops read after each message.
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"

namespace zv {

namespace {
// PumpMessages hands on at most this many messages per call.
constexpr int kPumpBatch = 20;
}  // namespace

PageResult RunModalPage(uint16_t templateId, DLGPROC pageProc, LPARAM parameter) {
    g_Shell.pageResult = PageResult::None;
    HWND page = CreateDialogParamA(g_Shell.instance, MAKEINTRESOURCEA(templateId), g_Shell.frameDialog,
                                   pageProc, parameter);
    if (page == nullptr) {
        Trace("page %u not created", static_cast<unsigned>(templateId));
        return PageResult::Quit;
    }
    TracePage(page, templateId);
    g_Shell.runningPage = page;
    g_Shell.runningTemplate = templateId;

    while (g_Shell.pageResult == PageResult::None) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_NOREMOVE)) TraceRunningPageReady();
        BOOL got = GetMessageA(&msg, nullptr, 0, 0);
        if (got == 0 || got == -1) {
            // The quit message (or a queue that can no longer be read) ends
            // the page like Quit; the quit message is not posted again.
            g_Shell.pageResult = PageResult::Quit;
            break;
        }
        if (!IsDialogMessageA(page, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    g_Shell.runningPage = nullptr;
    g_Shell.runningTemplate = 0;
    DestroyWindow(page);
    Trace("page %u result %u", static_cast<unsigned>(templateId), static_cast<unsigned>(g_Shell.pageResult));
    return g_Shell.pageResult;
}

PageResult PumpMessages(HWND dialog) {
    // Input that the window system has not queued yet is brought in first: a
    // zero wait on the queue does that. Windows queues keys and clicks on its
    // own, but Wine reads its X events only when a program waits or finds its
    // queue empty, and during the transfer the queue rarely is (repaints of
    // the file name and the bar), so a key could otherwise wait for the end.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
    for (int handled = 0; handled < kPumpBatch; ++handled) {
        MSG msg;
        if (!PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
            TraceRunningPageReady();
            break;
        }
        if (msg.message == WM_QUIT) {
            g_Shell.pageResult = PageResult::Quit;
            continue;
        }
        if (!IsDialogMessageA(dialog, &msg)) {
            TranslateMessage(&msg);
            DispatchMessageA(&msg);
        }
    }
    return g_Shell.pageResult;
}

void TraceRunningPageReady() {
    // Once per page. A queue found empty means that every window of the
    // thread is painted (paint requests wait in the queue until then), and
    // Wine puts what was painted on the screen whenever the queue runs empty.
    HWND page = g_Shell.runningPage;
    if (page == nullptr || page == g_Shell.readyPage) return;
    g_Shell.readyPage = page;
    RECT area;
    GetWindowRect(GetAncestor(page, GA_ROOT), &area);
    Trace("page %u ready at %ld,%ld %ldx%ld", g_Shell.runningTemplate, area.left, area.top, area.right - area.left,
          area.bottom - area.top);
}

void TraceBoxReady(HWND box) {
    if (box == nullptr || box == g_Shell.readyBox) return;
    g_Shell.readyBox = box;
    RECT area;
    GetWindowRect(box, &area);
    if (box == g_Shell.haltBox) {
        Trace("page %u ready at %ld,%ld %ldx%ld", static_cast<unsigned>(IDD_HALT), area.left, area.top,
              area.right - area.left, area.bottom - area.top);
    } else {
        Trace("message ready at %ld,%ld %ldx%ld", area.left, area.top, area.right - area.left,
              area.bottom - area.top);
    }
}

}  // namespace zv

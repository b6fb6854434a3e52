#include "shell/win32_ui.h"

#include <windows.h>

#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "transfer/run_options.h"

namespace zv {
namespace {

static_assert(BOX_OK == MB_OK && BOX_OKCANCEL == MB_OKCANCEL &&
                  BOX_ABORTRETRYIGNORE == MB_ABORTRETRYIGNORE && BOX_RETRYCANCEL == MB_RETRYCANCEL,
              "button styles are the platform's");
static_assert(BOX_ICONSTOP == MB_ICONHAND && BOX_ICONEXCLAMATION == MB_ICONEXCLAMATION &&
                  BOX_ICONINFORMATION == MB_ICONASTERISK,
              "icon styles are the platform's");
static_assert(ANSWER_OK == IDOK && ANSWER_CANCEL == IDCANCEL && ANSWER_ABORT == IDABORT &&
                  ANSWER_RETRY == IDRETRY && ANSWER_IGNORE == IDIGNORE && ANSWER_YES == IDYES &&
                  ANSWER_NO == IDNO,
              "answers are the platform's button codes");

// A message box does not tell its owner when it is up (the system makes it
// without idle messages). A thread timer does: its messages come only when no
// input and no paint request is waiting, so once it finds the box active and
// visible, the box is painted and takes input. Until then it ticks again.
void CALLBACK TraceMessageBoxReady(HWND, UINT, UINT_PTR timer, DWORD) {
    HWND box = GetActiveWindow();
    char kind[16] = {};
    if (box == nullptr || !IsWindowVisible(box) || GetClassNameA(box, kind, sizeof kind) == 0 ||
        lstrcmpA(kind, "#32770") != 0) {
        return;
    }
    KillTimer(nullptr, timer);
    // Wine puts what was painted on the screen when the thread waits; a wait
    // of no time does it before the line says so. Elsewhere it does nothing.
    MsgWaitForMultipleObjects(0, nullptr, FALSE, 0, QS_ALLINPUT);
    TraceBoxReady(box);
}

class DialogUserInterface : public UserInterface {
public:
    int ShowMessage(const MessageRequest& m) override {
        Trace("message id=%u style=0x%x text=%s", m.stringId, m.style, m.text);
        // The box takes the keyboard; when it closes, the window that had it
        // gets it back (activation alone would leave it with the backdrop).
        HWND focus = GetFocus();
        const UINT_PTR ready = SetTimer(nullptr, 0, USER_TIMER_MINIMUM, TraceMessageBoxReady);
        int answer = MessageBoxA(reinterpret_cast<HWND>(m.owner), m.text, m.caption, m.style);
        if (ready != 0) KillTimer(nullptr, ready);
        g_Shell.readyBox = nullptr;
        if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
        Trace("answer id=%u answer=%d", m.stringId, answer);
        g_Shell.lastAnswer = answer;
        return answer;
    }

    void SetItemText(WindowRef dialog, int item, unsigned stringId, const char* text) override {
        Trace("item %d id=%u text=%s", item, stringId, text);
        HWND window = reinterpret_cast<HWND>(dialog);
        SetDlgItemTextA(window, item, text);
        // Painted at once: the transfer names the file it is about to write
        // and then works without handing the window system a turn, so a
        // repaint left for later would show the previous file all along.
        HWND control = GetDlgItem(window, item);
        if (control != nullptr) UpdateWindow(control);
    }
};

// Nobody answers in an unattended run: each question gets the answer that
// ends the run (and so rolls the update back), and the log says which. Item
// texts still reach the transfer page that /passive shows.
class UnattendedUserInterface : public UserInterface {
public:
    int ShowMessage(const MessageRequest& m) override {
        const int answer = UnattendedAnswer(m.style);
        Trace("message id=%u style=0x%x text=%s", m.stringId, m.style, m.text);
        Trace("answer id=%u answer=%d unattended", m.stringId, answer);
        return answer;
    }

    void SetItemText(WindowRef dialog, int item, unsigned stringId, const char* text) override {
        if (g_Shell.progressPage != nullptr && reinterpret_cast<HWND>(dialog) == g_Shell.progressPage) {
            Win32UserInterface().SetItemText(dialog, item, stringId, text);
        } else {
            Trace("item %d id=%u text=%s", item, stringId, text);
        }
    }
};

// The transfer with no page at all: nothing to show and nobody to stop it.
class QuietTransferView : public TransferView {
public:
    // Not a window: a value the questions and file names are given as owner.
    WindowRef CreateProgressPage() override { return kQuietPage; }
    void DestroyProgressPage(WindowRef) override {}
    void SetProgressPercent(unsigned percent) override {
        if (percent != last_) Trace("percent %u", percent);
        last_ = percent;
    }
    void ShowFileName(WindowRef page, const char* name) override { g_Shell.run.ui->SetItemText(page, IDC_FILE_NAME, 0, name); }
    void ClearPageResult() override {}
    int PumpMessages(WindowRef) override { return 0; }

private:
    static constexpr WindowRef kQuietPage = 1;
    unsigned last_ = 101;
};

}  // namespace

UserInterface& Win32UserInterface() {
    static DialogUserInterface ui;
    return ui;
}

UserInterface& UnattendedUserInterface() {
    static class UnattendedUserInterface ui;
    return ui;
}

TransferView& QuietTransferView() {
    static class QuietTransferView view;
    return view;
}

}  // namespace zv

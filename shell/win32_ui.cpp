#include "shell/win32_ui.h"

#include <windows.h>

#include "shell/trace.h"

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

class DialogUserInterface : public UserInterface {
public:
    int ShowMessage(const MessageRequest& m) override {
        Trace("message id=%u style=0x%x text=%s", m.stringId, m.style, m.text);
        // The box takes the keyboard; when it closes, the window that had it
        // gets it back (activation alone would leave it with the backdrop).
        HWND focus = GetFocus();
        int answer = MessageBoxA(reinterpret_cast<HWND>(m.owner), m.text, m.caption, m.style);
        if (focus != nullptr && IsWindow(focus)) SetFocus(focus);
        Trace("answer id=%u answer=%d", m.stringId, answer);
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

}  // namespace

UserInterface& Win32UserInterface() {
    static DialogUserInterface ui;
    return ui;
}

}  // namespace zv

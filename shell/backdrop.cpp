// The backdrop: one plain window over the whole screen, painted with a
// gradient from blue at the top to black at the bottom.
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"

namespace zv {

ATOM RegisterBackdropClass() {
    WNDCLASSA wc = {};
    wc.style = CS_HREDRAW | CS_VREDRAW;
    wc.lpfnWndProc = BackdropWndProc;
    wc.cbClsExtra = 0;
    wc.cbWndExtra = 0;
    wc.hInstance = g_Shell.instance;
    wc.hIcon = LoadIconA(g_Shell.instance, MAKEINTRESOURCEA(IDI_UPDATER));
    wc.hCursor = LoadCursorA(nullptr, IDC_ARROW);
    // Never erased: the gradient covers every pixel it is asked to.
    wc.hbrBackground = static_cast<HBRUSH>(GetStockObject(NULL_BRUSH));
    wc.lpszMenuName = nullptr;
    wc.lpszClassName = "UpdateClass";
    return RegisterClassA(&wc);
}

// The blue of row y of a client area `height` rows high: 255 at the top,
// falling to 0 at y = height.
static BYTE GradientBlue(LONG y, LONG height) {
    return static_cast<BYTE>(255 - (255 * y) / height);
}

void PaintBackdrop() {
    HWND window = g_Shell.backdropWindow;
    RECT client;
    GetClientRect(window, &client);
    const LONG height = client.bottom;

    PAINTSTRUCT ps;
    HDC dc = BeginPaint(window, &ps);
    if (dc == nullptr || height <= 0) {
        EndPaint(window, &ps);
        return;
    }

    // Rows are painted one by one, each only across the invalid width. Rows
    // of one colour share a brush; a new one is made only where the colour
    // changes, so a full paint makes at most 256.
    HGDIOBJ original = nullptr;
    HBRUSH brush = nullptr;
    int brushBlue = -1;
    for (LONG y = ps.rcPaint.top; y <= ps.rcPaint.bottom; ++y) {
        int blue = GradientBlue(y, height);
        if (blue != brushBlue) {
            HBRUSH next = CreateSolidBrush(RGB(0, 0, blue));
            if (next != nullptr) {
                HGDIOBJ previous = SelectObject(dc, next);
                if (brush == nullptr) {
                    original = previous;
                } else {
                    DeleteObject(brush);
                }
                brush = next;
                brushBlue = blue;
            }
        }
        if (brush == nullptr) continue;
        RECT row = {ps.rcPaint.left, y, ps.rcPaint.right, y + 1};
        FillRect(dc, &row, brush);
    }
    if (brush != nullptr) {
        SelectObject(dc, original);
        DeleteObject(brush);
    }
    EndPaint(window, &ps);
}

namespace {

// The control of a page that should have the keyboard: its default button
// when that can be pressed, else its first control that takes the keyboard
// (as when the page was created), so that Enter never lands on another button
// than the one the page offers by default.
HWND PageKeyboardControl(HWND page) {
    const LRESULT defaultId = SendMessageA(page, DM_GETDEFID, 0, 0);
    if (HIWORD(defaultId) == DC_HASDEFID) {
        HWND button = GetDlgItem(page, LOWORD(defaultId));
        if (button != nullptr && IsWindowVisible(button) && IsWindowEnabled(button)) return button;
    }
    return GetNextDlgTabItem(page, nullptr, FALSE);
}

}  // namespace

LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_DESTROY:
        Trace("backdrop destroyed");
        PostQuitMessage(0);
        break;
    case WM_PAINT:
        if (IsIconic(window)) break;
        PaintBackdrop();
        return 0;
    case WM_SETFOCUS:
        // The backdrop is only a background: when it is activated (a click on
        // it, or the system handing it the activation as a question closes),
        // the keyboard goes on to the running page, so that Enter and Escape
        // keep working. Not while a question has the frame disabled: the
        // question keeps the keyboard then.
        if (g_Shell.runningPage != nullptr && IsWindow(g_Shell.runningPage) && g_Shell.frameDialog != nullptr &&
            IsWindowEnabled(g_Shell.frameDialog)) {
            HWND control = PageKeyboardControl(g_Shell.runningPage);
            if (control != nullptr) {
                Trace("backdrop focus to page item %d", GetDlgCtrlID(control));
                SetFocus(control);
                return 0;
            }
        }
        break;
    case WM_ENTERIDLE:
        // Every question box the wizard shows is owned by the backdrop: the
        // system says here that one is shown and waits for an answer.
        if (wParam == MSGF_DIALOGBOX) TraceBoxReady(reinterpret_cast<HWND>(lParam));
        break;
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            // Closing the backdrop ends the running page like Quit; the
            // window itself stays until shutdown.
            Trace("backdrop close");
            g_Shell.pageResult = PageResult::Quit;
            return 0;
        case SC_MAXIMIZE:
        case SC_RESTORE:
            if (g_Shell.frameDialog != nullptr) ShowWindow(g_Shell.frameDialog, SW_SHOWNORMAL);
            break;
        default:
            break;
        }
        break;
    default:
        break;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

}  // namespace zv

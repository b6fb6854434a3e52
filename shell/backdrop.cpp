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
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_CLOSE:
            // Closing the backdrop ends the running page like Quit; the
            // window itself stays until shutdown.
            Trace("backdrop close");
            g_Shell.pageResult = 2;
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

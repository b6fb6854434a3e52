// The transfer page (403): the file in hand, a segmented progress bar with
// its percentage, and Cancel with its halt confirmation (407). The transfer
// driver creates, feeds and destroys the page through TransferView.
#include "platform/text.h"
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "string_ids.h"

namespace zv {
namespace {

// The halt confirmation's answer that lets the transfer go on.
constexpr INT_PTR kKeepGoing = IDNO;

// Draws the bar straight onto the page as two solid rectangles, for when no
// off-screen bitmap can be had.
void DrawBarDirect(HDC dc, int left, int top, int w, int h, int filled) {
    if (g_Shell.progressPercent != 0) {
        FillSolidRect(dc, left, top, filled, h, GetSysColor(COLOR_ACTIVECAPTION));
    }
    FillSolidRect(dc, left + filled, top, w - filled, h, GetSysColor(COLOR_WINDOW));
}

// Composes the bar in `memory`: the face colour, a one-pixel sunken frame,
// and segments of s pixels with gaps of 2 for as long as a whole segment
// ends left of the filled width.
void ComposeBar(HDC memory, HBRUSH segmentBrush, int w, int h, int filled) {
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    FillSolidRect(memory, 0, 0, w, h, GetSysColor(COLOR_BTNFACE));
    FillSolidRect(memory, 0, 0, w, 1, shadow);
    FillSolidRect(memory, 0, 0, 1, h, shadow);
    FillSolidRect(memory, w - 1, 0, 1, h, highlight);
    FillSolidRect(memory, 0, h - 1, w, 1, highlight);

    const int s = h / 2;
    for (int x = 1; x + s < filled; x += s + 2) {
        RECT segment = {x, 1, x + s, h - 1};
        FillRect(memory, &segment, segmentBrush);
    }
}

}  // namespace

void DrawProgressBar(HWND page, HDC dc) {
    HDC own = nullptr;
    if (dc == nullptr) {
        own = GetDC(page);
        if (own == nullptr) return;
        dc = own;
    }

    char percent[16] = {};
    FormatText(percent, sizeof percent, "%d%%", g_Shell.progressPercent);
    SetDlgItemTextA(page, IDC_PERCENT, percent);

    HWND bar = GetDlgItem(page, IDC_BAR);
    if (bar != nullptr) {
        RECT area;
        GetWindowRect(bar, &area);
        const int w = area.right - area.left, h = area.bottom - area.top;
        POINT corner = {area.left, area.top};
        ScreenToClient(page, &corner);
        const int filled = static_cast<int>(static_cast<unsigned>(w) * static_cast<unsigned>(g_Shell.progressPercent) / 100u);

        // Composed off-screen and copied in one operation, so that the
        // frequent redraws during the transfer do not flicker.
        HDC memory = CreateCompatibleDC(dc);
        HBITMAP bitmap = memory != nullptr ? CreateCompatibleBitmap(dc, w, h) : nullptr;
        HGDIOBJ previous = bitmap != nullptr ? SelectObject(memory, bitmap) : nullptr;
        HBRUSH brush = previous != nullptr ? CreateSolidBrush(GetSysColor(COLOR_ACTIVECAPTION)) : nullptr;
        if (brush != nullptr) {
            ComposeBar(memory, brush, w, h, filled);
            BitBlt(dc, corner.x, corner.y, w, h, memory, 0, 0, SRCCOPY);
        } else {
            DrawBarDirect(dc, corner.x, corner.y, w, h, filled);
        }
        if (brush != nullptr) DeleteObject(brush);
        if (previous != nullptr) SelectObject(memory, previous);
        if (bitmap != nullptr) DeleteObject(bitmap);
        if (memory != nullptr) DeleteDC(memory);
    }

    if (own != nullptr) ReleaseDC(page, own);
}

void SetProgressPercent(unsigned percent) {
    // The bar is only ever drawn inside its frame.
    if (percent > 100) percent = 100;
    g_Shell.progressPercent = static_cast<int>(percent);
    Trace("percent %d", g_Shell.progressPercent);
    if (g_Shell.progressPage != nullptr) DrawProgressBar(g_Shell.progressPage, nullptr);
}

INT_PTR CALLBACK HaltDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        // The keyboard starts on No, the default button, so that Enter as the
        // question opens keeps the transfer going. Left to the system, the
        // focus would go to the first button, Yes, which would then look like
        // the default and take Enter on Windows.
        SetFocus(GetDlgItem(dialog, IDNO));
        g_Shell.haltBox = dialog;
        TracePage(dialog, IDD_HALT);
        return FALSE;
    case WM_DESTROY:
        g_Shell.haltBox = nullptr;
        g_Shell.readyBox = nullptr;
        return FALSE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDOK || id == IDCANCEL || id == IDYES || id == IDNO) EndDialog(dialog, id);
        return FALSE;
    }
    default:
        return ColourMessageAnswer(dialog, message, wParam, lParam);
    }
}

INT_PTR CALLBACK TransferPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        InitPageChrome(page, IDS_PAGE_TRANSFER);
        SetDlgItemTextA(page, IDC_FILE_NAME, "");
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(page, &ps);
        if (dc != nullptr) {
            DrawEtchedLine(page, dc);
            DrawProgressBar(page, dc);
        }
        EndPaint(page, &ps);
        return FALSE;
    }
    case WM_COMMAND:
        if (LOWORD(wParam) == IDCANCEL && g_Shell.unattended) {
            // /passive asks nothing: Cancel halts.
            g_Shell.pageResult = PageResult::Quit;
            Trace("halt answer=unattended");
        } else if (LOWORD(wParam) == IDCANCEL) {
            // The transfer waits inside PumpMessages while the question is
            // open; anything but No halts it at the next entry.
            INT_PTR answer = DialogBoxParamA(g_Shell.instance, MAKEINTRESOURCEA(IDD_HALT), page, HaltDialogProc, 0);
            if (answer != kKeepGoing) g_Shell.pageResult = PageResult::Quit;
            // Closing the question activates the backdrop, which would keep
            // the keyboard; give it back to the page so that Escape works again.
            // Traced only then: from that line on, keys reach the page.
            SetFocus(GetDlgItem(page, IDCANCEL));
            Trace("halt answer=%d", static_cast<int>(answer));
        }
        return FALSE;
    default:
        return ColourMessageAnswer(page, message, wParam, lParam);
    }
}

namespace {

class DialogTransferView : public TransferView {
public:
    WindowRef CreateProgressPage() override {
        HWND page = CreateDialogParamA(g_Shell.instance, MAKEINTRESOURCEA(IDD_TRANSFER), g_Shell.frameDialog,
                                       TransferPageProc, 0);
        if (page == nullptr) {
            Trace("page %u not created", static_cast<unsigned>(IDD_TRANSFER));
            return kNoWindow;
        }
        g_Shell.progressPage = page;
        g_Shell.runningPage = page;
        g_Shell.runningTemplate = IDD_TRANSFER;
        g_Shell.run.progressPage = reinterpret_cast<WindowRef>(page);
        TracePage(page, IDD_TRANSFER);
        return reinterpret_cast<WindowRef>(page);
    }

    void DestroyProgressPage(WindowRef page) override {
        HWND window = reinterpret_cast<HWND>(page);
        if (window == nullptr) return;
        if (g_Shell.runningPage == window) {
            g_Shell.runningPage = nullptr;
            g_Shell.runningTemplate = 0;
        }
        DestroyWindow(window);
        if (g_Shell.progressPage == window) {
            g_Shell.progressPage = nullptr;
            g_Shell.run.progressPage = kNoWindow;
        }
        Trace("page %u destroyed", static_cast<unsigned>(IDD_TRANSFER));
    }

    void SetProgressPercent(unsigned percent) override {
        zv::SetProgressPercent(percent);
    }

    // The page's file field.
    void ShowFileName(WindowRef page, const char* name) override {
        g_Shell.run.ui->SetItemText(page, IDC_FILE_NAME, 0, name);
    }

    void ClearPageResult() override { g_Shell.pageResult = PageResult::None; }

    int PumpMessages(WindowRef page) override {
        return static_cast<int>(zv::PumpMessages(reinterpret_cast<HWND>(page)));
    }
};

}  // namespace

TransferView& Win32TransferView() {
    static DialogTransferView view;
    return view;
}

}  // namespace zv

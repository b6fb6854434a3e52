// What every page wears around its own content: the page font, the place
// beside the picture, the frame caption naming the stage, the sunken line
// above the buttons and the 3-D face colour behind the controls.
#include "platform/text.h"
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "string_ids.h"

namespace zv {

void ApplyPageFont(HWND page) {
    if (g_Shell.pageFont == nullptr) {
        // The first page that asks decides the font of all: its dialog font
        // at normal weight.
        auto dialogFont = reinterpret_cast<HFONT>(SendMessageA(page, WM_GETFONT, 0, 0));
        LOGFONTA description;
        if (dialogFont != nullptr && GetObjectA(dialogFont, sizeof description, &description) != 0) {
            description.lfWeight = FW_NORMAL;
            g_Shell.pageFont = CreateFontIndirectA(&description);
        }
    }
    if (g_Shell.pageFont == nullptr) return;
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        SendMessageA(child, WM_SETFONT, reinterpret_cast<WPARAM>(g_Shell.pageFont), FALSE);
    }
}

void InitPageChrome(HWND page, unsigned titleId) {
    ApplyPageFont(page);

    // One pixel right of the picture, at the top of the frame's client area.
    HWND picture = GetDlgItem(g_Shell.frameDialog, IDC_PICTURE_FRAME);
    if (picture != nullptr) {
        RECT area;
        GetWindowRect(picture, &area);
        POINT corner = {area.right + 1, area.bottom};
        ScreenToClient(g_Shell.frameDialog, &corner);
        SetWindowPos(page, nullptr, corner.x, 0, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    }

    char format[128] = {};
    char title[128] = {};
    char caption[128] = {};
    LoadText(IDS_FRAME_CAPTION, format, sizeof format);
    LoadText(titleId, title, sizeof title);
    FormatText(caption, sizeof caption, format, title);
    SetWindowTextA(g_Shell.frameDialog, caption);

    HWND separator = GetDlgItem(page, IDC_SEPARATOR);
    if (separator != nullptr) ShowWindow(separator, SW_HIDE);
}

bool FillSolidRect(HDC dc, int x, int y, int width, int height, COLORREF colour) {
    SetBkColor(dc, colour);
    RECT area = {x, y, x + width, y + height};
    return ExtTextOutA(dc, 0, 0, ETO_OPAQUE, &area, "", 0, nullptr) != FALSE;
}

void DrawEtchedLine(HWND page, HDC dc) {
    HWND separator = GetDlgItem(page, IDC_SEPARATOR);
    if (separator == nullptr) return;
    RECT area;
    GetWindowRect(separator, &area);
    POINT topLeft = {area.left, area.top};
    POINT bottomRight = {area.right, area.bottom};
    ScreenToClient(page, &topLeft);
    ScreenToClient(page, &bottomRight);
    const int left = topLeft.x, top = topLeft.y, right = bottomRight.x, bottom = bottomRight.y;
    const int w = right - left, h = bottom - top;

    const COLORREF face = GetSysColor(COLOR_BTNFACE);
    const COLORREF shadow = GetSysColor(COLOR_BTNSHADOW);
    const COLORREF highlight = GetSysColor(COLOR_BTNHIGHLIGHT);
    // Dark above and to the left, light below and to the right: a groove.
    FillSolidRect(dc, left + 1, top + 1, w - 2, h - 2, face);
    FillSolidRect(dc, left, top, w - 1, 1, shadow);
    FillSolidRect(dc, left, top, 1, h - 1, shadow);
    FillSolidRect(dc, left, bottom - 1, w, 1, highlight);
    FillSolidRect(dc, right - 1, top, 1, h, highlight);
}

void PaintPage(HWND page) {
    PAINTSTRUCT ps;
    HDC dc = BeginPaint(page, &ps);
    if (dc != nullptr) DrawEtchedLine(page, dc);
    EndPaint(page, &ps);
}

bool IsPageColourMessage(UINT message) {
    return message == WM_CTLCOLORMSGBOX || message == WM_CTLCOLORBTN || message == WM_CTLCOLORDLG ||
           message == WM_CTLCOLORSTATIC;
}

HBRUSH PageCtlColor(HWND, HDC dc, HWND) {
    SetBkColor(dc, GetSysColor(COLOR_BTNFACE));
    return g_Shell.pageBrush;
}

INT_PTR ColourMessageAnswer(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam) {
    if (!IsPageColourMessage(message)) return FALSE;
    return reinterpret_cast<INT_PTR>(PageCtlColor(dialog, reinterpret_cast<HDC>(wParam), reinterpret_cast<HWND>(lParam)));
}

void TracePage(HWND page, unsigned templateId) {
    char text[256] = {};
    // A page is a child of the frame and names its stage in the frame's
    // caption; a pop-up has a caption of its own.
    HWND captioned = (GetWindowLongA(page, GWL_STYLE) & WS_CHILD) != 0 ? g_Shell.frameDialog : page;
    GetWindowTextA(captioned, text, sizeof text);
    Trace("page %u created caption=%s", templateId, text);
    for (HWND child = GetWindow(page, GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
        text[0] = '\0';
        GetWindowTextA(child, text, sizeof text);
        RECT area;
        GetWindowRect(child, &area);
        Trace("page %u item %d at %ld,%ld %ldx%ld visible=%d enabled=%d text=%s", templateId,
              static_cast<int>(static_cast<short>(GetDlgCtrlID(child))), area.left, area.top,
              area.right - area.left, area.bottom - area.top,
              (GetWindowLongA(child, GWL_STYLE) & WS_VISIBLE) != 0 ? 1 : 0, IsWindowEnabled(child) ? 1 : 0,
              text);
    }
}

}  // namespace zv

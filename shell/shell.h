// State of the running wizard, shared by its window procedures, and the
// operations of the shell: backdrop and frame, page loops, page dress, pages.
#pragma once

#include <windows.h>

#include <cstdint>

#include "detect/detection.h"
#include "platform/run_context.h"

namespace zv {

// What ends a page. Window procedures set it, the loops read it after each
// message. The numbers are fixed: the transfer driver takes them through
// TransferView::PumpMessages, where anything but None asks it to stop.
enum class PageResult : uint32_t {
    None = 0,  // nothing decided yet
    Next = 1,
    Quit = 2,  // Quit, Cancel, a halt, or a window closed
};

struct Shell {
    HINSTANCE instance = nullptr;
    HWND backdropWindow = nullptr;
    HWND frameDialog = nullptr;
    HBRUSH pageBrush = nullptr;
    bool pageBrushIsStock = false;
    HFONT pageFont = nullptr;
    int screenWidth = 0;
    int screenHeight = 0;
    int menuHeight = 0;
    POINT screenCentre = {0, 0};
    // Set by window procedures to end the page that is running.
    PageResult pageResult = PageResult::None;
    // The page that takes the keyboard while it runs (a page of the page loop,
    // or the transfer page), and its template; none between pages.
    HWND runningPage = nullptr;
    unsigned runningTemplate = 0;
    // The last page and the last question box said to be ready (TraceReady).
    HWND readyPage = nullptr;
    HWND readyBox = nullptr;
    // The halt confirmation while it is open.
    HWND haltBox = nullptr;
    // The transfer page while it exists, and the last percentage it was given.
    HWND progressPage = nullptr;
    int progressPercent = 0;
    // What the detection page shows; set before the page is created.
    const UpdateVerdict* verdict = nullptr;
    PackageHeader header = {};
    RunContext run;
    // /quiet or /passive: nobody answers, Cancel on the transfer page halts
    // without asking.
    bool unattended = false;
    // The answer to the last message box a user answered (0: none).
    int lastAnswer = 0;
};

extern Shell g_Shell;

// Backdrop and frame.
// Registers the class of the backdrop window, "UpdateClass"; 0 on failure.
ATOM RegisterBackdropClass();
LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);
// Paints the invalid rows of the backdrop with its blue-to-black gradient.
void PaintBackdrop();
INT_PTR CALLBACK FrameDialogProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam);
// Places the frame about the screen centre, inside the backdrop, never at
// negative coordinates.
void CentreInBackdrop(HWND frame);
// Stretches bitmap `bitmapId` over control `controlId` of `dialog`, with the
// bitmap's own palette when it has 8 bits per pixel.
void PaintFrameBitmap(HINSTANCE module, HWND dialog, HDC dc, int controlId, int bitmapId);
// A palette of the 256 colours of a packed 8-bit bitmap; nullptr for other
// bit counts or when it cannot be made.
HPALETTE CreateDibPalette(HDC dc, const BITMAPINFOHEADER* bitmap);

// Page loops.
// Shows page `templateId` in the frame and waits until a window procedure
// sets the page result; returns it (Next or Quit; Quit when the page cannot be
// made).
PageResult RunModalPage(uint16_t templateId, DLGPROC pageProc, LPARAM parameter);
// Handles at most 20 pending messages without waiting; returns the page result.
PageResult PumpMessages(HWND dialog);
// Readiness lines for the tests that drive the wizard: "page N ready at X,Y
// WxH" once the running page is painted and takes input, the first time the
// queue is found empty after it was created; "page 407 ready ..." and
// "message ready ..." once a question box is shown and idle (the system tells
// its owner with WM_ENTERIDLE). The place is that of the top-level window that
// takes the keys and clicks: the backdrop for a page, the box for a box.
void TraceRunningPageReady();
void TraceBoxReady(HWND box);

// Page dress.
void InitPageChrome(HWND page, unsigned titleId);
void ApplyPageFont(HWND page);
void DrawEtchedLine(HWND page, HDC dc);
// WM_PAINT of a page: the separator line.
void PaintPage(HWND page);
// Fills a rectangle with a colour by an opaque empty text output; no brush.
bool FillSolidRect(HDC dc, int x, int y, int width, int height, COLORREF colour);
// The answer to the colour messages of every dialog of the program.
HBRUSH PageCtlColor(HWND window, HDC dc, HWND control);
// True for the four colour messages that PageCtlColor answers.
bool IsPageColourMessage(UINT message);
// What a dialog procedure of the program returns for a message it does not
// handle itself: PageCtlColor's brush for the colour messages, else FALSE.
INT_PTR ColourMessageAnswer(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);

// Pages.
INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK DetectedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK SuccessPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK PartialPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK NotInstalledPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);

// Transfer page.
INT_PTR CALLBACK TransferPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam);
INT_PTR CALLBACK HaltDialogProc(HWND dialog, UINT message, WPARAM wParam, LPARAM lParam);
// Records the percentage and redraws the bar of the transfer page at once.
void SetProgressPercent(unsigned percent);
// Draws the percentage and the bar; with no device context it takes the
// page's own for the drawing.
void DrawProgressBar(HWND page, HDC dc);
// The transfer page as the transfer driver uses it.
TransferView& Win32TransferView();

// Trace of a page as it stands: caption of the frame, then each control's
// id, screen rectangle, state and text.
void TracePage(HWND page, unsigned templateId);

}  // namespace zv

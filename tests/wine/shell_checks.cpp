// Checks of the wizard's windows, run as a Windows program (under Wine in the
// tests): the page loops, the gradient's partial repaint, the frame's place,
// the picture's palette, the page dress, the pages and the progress bar.
// Prints one line per check and exits with the number of failed checks.
#include <windows.h>

#include <cstdio>
#include <string>
#include <vector>

#include "resource.h"
#include "shell/shell.h"
#include "string_ids.h"

namespace zv {
namespace {

int g_failures = 0;

void Check(bool ok, const char* what) {
    std::printf("%s: %s\n", ok ? "ok" : "FAILED", what);
    if (!ok) ++g_failures;
}

std::string Shown(PageResult result) { return std::to_string(static_cast<unsigned>(result)); }
template <typename T>
std::string Shown(const T& value) {
    return std::to_string(value);
}

template <typename T>
void CheckEqual(const T& got, const T& want, const char* what) {
    Check(got == want, what);
    if (!(got == want)) std::printf("    got %s, expected %s\n", Shown(got).c_str(), Shown(want).c_str());
}

void CheckText(const std::string& got, const std::string& want, const char* what) {
    Check(got == want, what);
    if (got != want) std::printf("    got \"%s\", expected \"%s\"\n", got.c_str(), want.c_str());
}

// Records the item texts that the pages set.
class RecordingUi : public UserInterface {
public:
    struct Item {
        int item;
        unsigned id;
        std::string text;
    };
    std::vector<Item> items;

    int ShowMessage(const MessageRequest&) override { return ANSWER_OK; }
    void SetItemText(WindowRef dialog, int item, unsigned id, const char* text) override {
        items.push_back({item, id, text});
        SetDlgItemTextA(reinterpret_cast<HWND>(dialog), item, text);
    }
    const Item* Find(int item) const {
        for (auto it = items.rbegin(); it != items.rend(); ++it) {
            if (it->item == item) return &*it;
        }
        return nullptr;
    }
};

RecordingUi g_ui;

// Handles every message that is pending now.
void Drain() {
    MSG msg;
    while (PeekMessageA(&msg, nullptr, 0, 0, PM_REMOVE)) {
        TranslateMessage(&msg);
        DispatchMessageA(&msg);
    }
}

std::string ItemText(HWND dialog, int item) {
    char text[512] = {};
    GetDlgItemTextA(dialog, item, text, sizeof text);
    return text;
}

// --- page loops ---------------------------------------------------------------

int g_counted = 0;
LRESULT CALLBACK CountingProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam) {
    if (message == WM_USER + 1) {
        ++g_counted;
        return 0;
    }
    return DefWindowProcA(window, message, wParam, lParam);
}

void CheckPumpMessages() {
    WNDCLASSA wc = {};
    wc.lpfnWndProc = CountingProc;
    wc.hInstance = g_Shell.instance;
    wc.lpszClassName = "ZvCounting";
    RegisterClassA(&wc);
    HWND counter = CreateWindowExA(0, "ZvCounting", "", 0, 0, 0, 1, 1, nullptr, nullptr, g_Shell.instance, nullptr);
    Drain();

    g_Shell.pageResult = PageResult::None;
    g_counted = 0;
    for (int i = 0; i < 25; ++i) PostMessageA(counter, WM_USER + 1, 0, 0);
    PageResult result = PumpMessages(g_Shell.frameDialog);
    CheckEqual(g_counted, 20, "one PumpMessages call handles 20 of 25 pending messages");
    CheckEqual(result, PageResult::None, "PumpMessages returns the page result, still 0");
    PumpMessages(g_Shell.frameDialog);
    CheckEqual(g_counted, 25, "the next call handles the 5 left queued");

    // A quit message stops the transfer and is not posted again.
    Drain();
    PostQuitMessage(0);
    CheckEqual(PumpMessages(g_Shell.frameDialog), PageResult::Quit, "a quit message taken by PumpMessages makes the result 2");
    MSG msg;
    Check(!PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE), "the quit message is not posted again");
    DestroyWindow(counter);
}

// A page procedure that plays the user: after the page's own
// WM_INITDIALOG it posts the scripted messages to the page.
struct Script {
    DLGPROC page = nullptr;
    std::vector<MSG> posts;  // hwnd 0 means the page itself
    bool nextEnabled = true;
    HWND pageWindow = nullptr;
};
Script g_script;

INT_PTR CALLBACK ScriptedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    INT_PTR result = g_script.page(page, message, wParam, lParam);
    if (message == WM_INITDIALOG) {
        g_script.pageWindow = page;
        HWND next = GetDlgItem(page, IDOK);
        g_script.nextEnabled = next != nullptr && IsWindowEnabled(next);
        for (const MSG& m : g_script.posts) PostMessageA(m.hwnd ? m.hwnd : page, m.message, m.wParam, m.lParam);
    }
    return result;
}

PageResult RunScripted(uint16_t templateId, DLGPROC page, std::vector<MSG> posts) {
    g_script = Script{};
    g_script.page = page;
    g_script.posts = std::move(posts);
    return RunModalPage(templateId, ScriptedPageProc, 0);
}

MSG Command(int id) { return MSG{nullptr, WM_COMMAND, static_cast<WPARAM>(id), 0, 0, {0, 0}}; }
MSG Key(UINT vk) { return MSG{nullptr, WM_KEYDOWN, vk, 1, 0, {0, 0}}; }

void CheckRunModalPage() {
    CheckEqual(RunModalPage(999, WelcomePageProc, 0), PageResult::Quit, "a page that cannot be created ends with 2");
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {Command(IDOK)}), PageResult::Next, "Next ends a page with 1");
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {Command(IDCANCEL)}), PageResult::Quit, "Quit ends a page with 2");
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {Key(VK_RETURN)}), PageResult::Next,
               "Enter presses the default button Next");
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {Key(VK_ESCAPE)}), PageResult::Quit, "Escape ends a page with 2");
    Check(!IsWindow(g_script.pageWindow), "the page is destroyed when it ends");

    MSG close{g_Shell.backdropWindow, WM_SYSCOMMAND, SC_CLOSE, 0, 0, {0, 0}};
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {close}), PageResult::Quit,
               "the backdrop's Close ends the page with 2");
    Check(IsWindow(g_Shell.backdropWindow) != FALSE, "the backdrop stays after its Close");
    MSG frameClose{g_Shell.frameDialog, WM_SYSCOMMAND, SC_CLOSE, 0, 0, {0, 0}};
    CheckEqual(RunScripted(IDD_WELCOME, WelcomePageProc, {frameClose}), PageResult::Quit,
               "the frame's Close ends the page with 2");
    Check(IsWindow(g_Shell.frameDialog) != FALSE, "the frame stays after its Close");
}

// --- backdrop -------------------------------------------------------------------

COLORREF Gradient(LONG y, LONG height) { return RGB(0, 0, 255 - (255 * y) / height); }

void CheckPartialRepaint() {
    RECT client;
    GetClientRect(g_Shell.backdropWindow, &client);
    const LONG height = client.bottom;
    HDC dc = GetDC(g_Shell.backdropWindow);
    HBRUSH red = CreateSolidBrush(RGB(255, 0, 0));
    FillRect(dc, &client, red);
    DeleteObject(red);
    GdiFlush();

    RECT invalid = {50, 100, 80, 130};
    InvalidateRect(g_Shell.backdropWindow, &invalid, FALSE);
    UpdateWindow(g_Shell.backdropWindow);
    GdiFlush();
    bool inside = true;
    for (LONG y = invalid.top; y < invalid.bottom; ++y) {
        for (LONG x = invalid.left; x < invalid.right; ++x) {
            if (GetPixel(dc, x, y) != Gradient(y, height)) inside = false;
        }
    }
    Check(inside, "a small repaint paints its rows in the full picture's colours");
    InvalidateRect(g_Shell.backdropWindow, nullptr, FALSE);
    UpdateWindow(g_Shell.backdropWindow);
    GdiFlush();
    bool full = GetPixel(dc, 5, 0) == RGB(0, 0, 255);
    for (LONG y = 0; y < height; ++y) {
        if (GetPixel(dc, 5, y) != Gradient(y, height)) full = false;
    }
    Check(full, "a full paint is the gradient from (0, 0, 255) down");
    ReleaseDC(g_Shell.backdropWindow, dc);
}

void CheckZeroHeightBackdrop() {
    // A backdrop with no client rows. The paint is called directly, since
    // the system sends no WM_PAINT for an empty client area; a division by
    // the height would end this program here, and the script then misses
    // the summary line.
    HWND flat = CreateWindowExA(0, "UpdateClass", "", WS_POPUP | WS_VISIBLE, 0, 0, 50, 0, nullptr, nullptr,
                                g_Shell.instance, nullptr);
    HWND saved = g_Shell.backdropWindow;
    g_Shell.backdropWindow = flat;
    PaintBackdrop();
    g_Shell.backdropWindow = saved;
    Check(true, "a backdrop of zero height is painted without a division by zero");
    // Destroying a backdrop posts the quit message; take it away again.
    DestroyWindow(flat);
    MSG msg;
    PeekMessageA(&msg, nullptr, WM_QUIT, WM_QUIT, PM_REMOVE);
}

// --- frame ----------------------------------------------------------------------

POINT FramePlace() {
    RECT frame;
    GetWindowRect(g_Shell.frameDialog, &frame);
    POINT corner = {frame.left, frame.top};
    ScreenToClient(g_Shell.backdropWindow, &corner);
    return corner;
}

void CheckCentring() {
    RECT own;
    GetWindowRect(g_Shell.frameDialog, &own);
    const int w = own.right - own.left, h = own.bottom - own.top;

    // A backdrop smaller than the frame: the frame goes to (0, 0).
    SetWindowPos(g_Shell.backdropWindow, nullptr, 0, 0, w - 100, h - 100, SWP_NOZORDER);
    g_Shell.screenCentre = {(w - 100) / 2, (h - 100) / 2 - 19};
    CentreInBackdrop(g_Shell.frameDialog);
    POINT at = FramePlace();
    Check(at.x == 0 && at.y == 0, "a frame larger than the backdrop is placed at (0, 0)");

    // A large backdrop: centred about the centre point.
    SetWindowPos(g_Shell.backdropWindow, nullptr, 0, 0, 1000, 900, SWP_NOZORDER);
    RECT backdrop;
    GetWindowRect(g_Shell.backdropWindow, &backdrop);
    g_Shell.screenCentre = {500, 450 - 19};
    CentreInBackdrop(g_Shell.frameDialog);
    at = FramePlace();
    CheckEqual(static_cast<int>(at.x), 500 - w / 2, "the frame's centre is at the centre point (x)");
    CheckEqual(static_cast<int>(at.y), 450 - 19 - h / 2, "the frame's centre is the menu height above (y)");

    // A centre near the corner: never past the backdrop's right or bottom.
    g_Shell.screenCentre = {990, 890};
    CentreInBackdrop(g_Shell.frameDialog);
    at = FramePlace();
    CheckEqual(static_cast<int>(at.x), static_cast<int>(backdrop.right - backdrop.left) - w,
               "the frame stops at the backdrop's right edge");
    CheckEqual(static_cast<int>(at.y), static_cast<int>(backdrop.bottom - backdrop.top) - h,
               "the frame stops at the backdrop's bottom edge");
}

void CheckDibPalette() {
    std::vector<uint8_t> bitmap(40 + 1024, 0);
    bitmap[0] = 40;
    bitmap[14] = 8;
    for (int i = 0; i < 256; ++i) {
        bitmap[40 + 4 * i] = static_cast<uint8_t>(i / 2);    // blue
        bitmap[40 + 4 * i + 1] = static_cast<uint8_t>(255 - i);  // green
        bitmap[40 + 4 * i + 2] = static_cast<uint8_t>(i);      // red
    }
    HDC screen = GetDC(nullptr);
    HPALETTE palette = CreateDibPalette(screen, reinterpret_cast<const BITMAPINFOHEADER*>(bitmap.data()));
    Check(palette != nullptr, "an 8-bit bitmap gets a palette");
    if (palette != nullptr) {
        PALETTEENTRY entries[256] = {};
        CheckEqual(static_cast<int>(GetPaletteEntries(palette, 0, 256, entries)), 256, "the palette has 256 entries");
        bool colours = true, flags = true;
        for (int i = 0; i < 256; ++i) {
            if (entries[i].peRed != i || entries[i].peGreen != 255 - i || entries[i].peBlue != i / 2) colours = false;
            BYTE want = (i < 10 || i >= 246) ? PC_NOCOLLAPSE : 0;
            if (entries[i].peFlags != want) flags = false;
        }
        Check(colours, "on a true-colour display every entry is the bitmap's own colour");
        Check(flags, "entries 0 to 9 and 246 to 255 are kept apart (PC_NOCOLLAPSE), the others not");
        DeleteObject(palette);
    }
    bitmap[14] = 4;
    Check(CreateDibPalette(screen, reinterpret_cast<const BITMAPINFOHEADER*>(bitmap.data())) == nullptr,
          "a 4-bit bitmap gets no palette of its own");
    ReleaseDC(nullptr, screen);
}

void CheckMinimiseAndRestore() {
    SendMessageA(g_Shell.frameDialog, WM_SYSCOMMAND, SC_MINIMIZE, 0);
    Drain();
    Check(IsIconic(g_Shell.backdropWindow) != FALSE, "minimising the frame minimises the backdrop");
    SendMessageA(g_Shell.backdropWindow, WM_SYSCOMMAND, SC_RESTORE, 0);
    Drain();
    Check(!IsIconic(g_Shell.backdropWindow) && !IsIconic(g_Shell.frameDialog) && IsWindowVisible(g_Shell.frameDialog),
          "restoring the backdrop shows the frame in its normal state again");
}

// --- pages ----------------------------------------------------------------------

int FontWeight(HFONT font) {
    LOGFONTA description = {};
    if (font == nullptr || GetObjectA(font, sizeof description, &description) == 0) return -1;
    return description.lfWeight;
}

void CheckWelcomeAndDress() {
    g_ui.items.clear();
    g_Shell.pageResult = PageResult::None;
    HWND page = CreateDialogParamA(g_Shell.instance, MAKEINTRESOURCEA(IDD_WELCOME), g_Shell.frameDialog,
                                   WelcomePageProc, 0);
    Check(page != nullptr, "the welcome page is created");
    if (page == nullptr) return;
    CheckText(ItemText(page, IDC_WELCOME_TEXT), "Welcome to Zarvel v1.01 Updater.",
              "the welcome text carries the package's version in place of its %s");
    char caption[128] = {};
    GetWindowTextA(g_Shell.frameDialog, caption, sizeof caption);
    CheckText(caption, "Zarvel Updater - Welcome", "the frame's caption names the page");
    Check(!IsWindowVisible(GetDlgItem(page, IDC_SEPARATOR)), "the separator control is hidden");

    RECT picture, own;
    GetWindowRect(GetDlgItem(g_Shell.frameDialog, IDC_PICTURE_FRAME), &picture);
    GetWindowRect(page, &own);
    CheckEqual(static_cast<int>(own.left), static_cast<int>(picture.right + 1),
               "the page starts one pixel right of the picture");
    POINT top = {own.left, own.top};
    ScreenToClient(g_Shell.frameDialog, &top);
    CheckEqual(static_cast<int>(top.y), 0, "the page starts at the top of the frame's client area");

    HFONT font = reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(page, IDOK), WM_GETFONT, 0, 0));
    Check(font != nullptr && font == g_Shell.pageFont, "the page's controls wear the page font");
    CheckEqual(FontWeight(g_Shell.pageFont), 400, "the page font has normal weight");
    HFONT frameFont =
        reinterpret_cast<HFONT>(SendMessageA(GetDlgItem(g_Shell.frameDialog, IDC_PICTURE_FRAME), WM_GETFONT, 0, 0));
    Check(frameFont != g_Shell.pageFont, "the frame keeps its template font");
    DestroyWindow(page);
}

void CheckDetectedPage() {
    UpdateVerdict refused;
    lstrcpyA(refused.version16Text, "None");
    lstrcpyA(refused.version32Text, "1.00");
    lstrcpyA(refused.languageText, "Deutsch");
    lstrcpyA(refused.installTypeText, "Normal");
    lstrcpyA(refused.directoryText, "C:\\ZARVEL\\");
    refused.messageId = IDS_LANGUAGE_REFUSED;
    refused.hintId = IDS_HINT_QUIT;
    refused.canProceed = false;
    g_Shell.verdict = &refused;
    g_ui.items.clear();
    PageResult result = RunScripted(IDD_DETECTED, DetectedPageProc, {Command(IDOK), Key(VK_RETURN), Command(IDCANCEL)});
    Check(!g_script.nextEnabled, "a refusing verdict leaves Next disabled");
    CheckEqual(result, PageResult::Quit, "with Next disabled, neither id 1 nor Enter goes on; Quit ends the page with 2");
    const RecordingUi::Item* message = g_ui.Find(IDC_VERDICT);
    Check(message != nullptr && message->id == IDS_LANGUAGE_REFUSED,
          "item 120 shows the verdict's message from the string table");
    const RecordingUi::Item* hint = g_ui.Find(IDC_HINT);
    Check(hint != nullptr && hint->id == IDS_HINT_QUIT, "item 140 shows the verdict's hint");
    const RecordingUi::Item* directory = g_ui.Find(IDC_DIRECTORY);
    Check(directory != nullptr && directory->text == "C:\\ZARVEL\\", "item 104 shows the directory");
    const RecordingUi::Item* language = g_ui.Find(IDC_LANGUAGE);
    Check(language != nullptr && language->text == "Deutsch", "item 102 shows the language");
    char caption[128] = {};
    GetWindowTextA(g_Shell.frameDialog, caption, sizeof caption);
    CheckText(caption, "Zarvel Updater - End", "the detection page's title is End");

    UpdateVerdict allowed;
    lstrcpyA(allowed.version32Text, "1.00");
    allowed.hintId = IDS_HINT_NEXT;
    allowed.canProceed = true;
    g_Shell.verdict = &allowed;
    g_ui.items.clear();
    result = RunScripted(IDD_DETECTED, DetectedPageProc, {Key(VK_RETURN)});
    Check(g_script.nextEnabled, "an allowing verdict leaves Next enabled");
    CheckEqual(result, PageResult::Next, "then Enter ends the page with 1");
    message = g_ui.Find(IDC_VERDICT);
    Check(message != nullptr && message->text.empty(), "an empty message leaves item 120 blank");
    hint = g_ui.Find(IDC_HINT);
    Check(hint != nullptr && hint->text == "Click &Next to update Zarvel on your hard disk.",
          "item 140 reads string 80");
    g_Shell.verdict = nullptr;
}

void CheckOutcomePages() {
    g_ui.items.clear();
    CheckEqual(RunScripted(IDD_SUCCESS, SuccessPageProc, {Command(IDCANCEL)}), PageResult::Quit,
               "Return to Windows ends the success page with 2");
    const RecordingUi::Item* text = g_ui.Find(IDC_OUTCOME_TEXT);
    Check(text != nullptr && text->text == "Zarvel has been successfully updated to version 1.01.",
          "the success text carries the package's version");
    CheckEqual(RunScripted(IDD_PARTIAL, PartialPageProc, {Key(VK_ESCAPE)}), PageResult::Quit, "Escape ends the partial page");
    CheckEqual(RunScripted(IDD_NOT_INSTALLED, NotInstalledPageProc, {Command(IDCANCEL)}), PageResult::Quit,
               "Return to Windows ends the not-installed page");
}

// --- transfer page ----------------------------------------------------------------

struct BarPixels {
    std::vector<COLORREF> row;  // one row through the middle of the bar
    std::vector<COLORREF> column;  // the bar's first column
};

// Draws the bar of `page` at `percent` into an off-screen picture of the
// page and reads it back.
BarPixels DrawBar(HWND page, int percent, int w, int h) {
    SetWindowPos(GetDlgItem(page, IDC_BAR), nullptr, 0, 0, w, h, SWP_NOMOVE | SWP_NOZORDER);
    RECT bar;
    GetWindowRect(GetDlgItem(page, IDC_BAR), &bar);
    POINT corner = {bar.left, bar.top};
    ScreenToClient(page, &corner);

    RECT client;
    GetClientRect(page, &client);
    BITMAPINFO info = {};
    info.bmiHeader.biSize = sizeof info.bmiHeader;
    info.bmiHeader.biWidth = client.right;
    info.bmiHeader.biHeight = -client.bottom;
    info.bmiHeader.biPlanes = 1;
    info.bmiHeader.biBitCount = 32;
    void* bits = nullptr;
    HDC screen = GetDC(page);
    HDC memory = CreateCompatibleDC(screen);
    HBITMAP picture = CreateDIBSection(screen, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
    HGDIOBJ previous = SelectObject(memory, picture);
    g_Shell.progressPercent = percent;
    DrawProgressBar(page, memory);
    GdiFlush();
    BarPixels pixels;
    for (int x = 0; x < w; ++x) pixels.row.push_back(GetPixel(memory, corner.x + x, corner.y + h / 2));
    for (int y = 0; y < h; ++y) pixels.column.push_back(GetPixel(memory, corner.x, corner.y + y));
    SelectObject(memory, previous);
    DeleteObject(picture);
    DeleteDC(memory);
    ReleaseDC(page, screen);
    return pixels;
}

// Start of each run of `colour` along the row, and its length.
std::vector<std::pair<int, int>> Runs(const std::vector<COLORREF>& row, COLORREF colour) {
    std::vector<std::pair<int, int>> runs;
    for (int x = 0; x < static_cast<int>(row.size()); ++x) {
        if (row[x] != colour) continue;
        if (!runs.empty() && runs.back().first + runs.back().second == x) {
            ++runs.back().second;
        } else {
            runs.push_back({x, 1});
        }
    }
    return runs;
}

// Answers the halt confirmation as soon as it is activated.
struct HaltAnswer {
    UINT message;
    WPARAM wParam;
};
HaltAnswer g_haltAnswer = {0, 0};
bool g_haltAnswered = false;

LRESULT CALLBACK AnswerHalt(int code, WPARAM wParam, LPARAM lParam) {
    if (code == HCBT_ACTIVATE && !g_haltAnswered) {
        HWND window = reinterpret_cast<HWND>(wParam);
        char name[32] = {};
        GetClassNameA(window, name, sizeof name);
        if (lstrcmpA(name, "#32770") == 0) {
            g_haltAnswered = true;
            PostMessageA(window, g_haltAnswer.message, g_haltAnswer.wParam, 0);
        }
    }
    return CallNextHookEx(nullptr, code, wParam, lParam);
}

void CheckProgressBar() {
    g_Shell.pageResult = PageResult::None;
    HWND page = Win32TransferView().CreateProgressPage() != kNoWindow ? g_Shell.progressPage : nullptr;
    Check(page != nullptr, "the transfer page is created");
    if (page == nullptr) return;
    const COLORREF caption = GetSysColor(COLOR_ACTIVECAPTION);
    const COLORREF face = GetSysColor(COLOR_BTNFACE);

    BarPixels zero = DrawBar(page, 0, 100, 10);
    Check(Runs(zero.row, caption).empty(), "at 0 % no segment is drawn");
    CheckText(ItemText(page, IDC_PERCENT), "0%", "item 103 reads 0%");

    BarPixels half = DrawBar(page, 50, 100, 10);
    std::vector<std::pair<int, int>> want;
    for (int x : {1, 8, 15, 22, 29, 36, 43}) want.push_back({x, 5});
    Check(Runs(half.row, caption) == want, "at 50 % of 100 x 10 the segments start at 1, 8, ... 43, 5 wide");
    CheckText(ItemText(page, IDC_PERCENT), "50%", "item 103 reads 50%");
    Check(half.row[0] == GetSysColor(COLOR_BTNSHADOW) && half.column[0] == GetSysColor(COLOR_BTNSHADOW),
          "the bar's left and top edges are the shadow colour");
    Check(half.row[99] == GetSysColor(COLOR_BTNHIGHLIGHT) && half.column[9] == GetSysColor(COLOR_BTNHIGHLIGHT),
          "the bar's right and bottom edges are the highlight colour");

    BarPixels full = DrawBar(page, 100, 100, 10);
    std::vector<std::pair<int, int>> runs = Runs(full.row, caption);
    Check(!runs.empty() && runs.back().first == 92 && runs.size() == 14,
          "at 100 % the last segment is the last that ends left of the edge");
    Check(full.row[97] == face && full.row[98] == face, "the gap up to the frame stays in the face colour");

    // The halt confirmation: only No lets the transfer go on.
    struct Case {
        UINT message;
        WPARAM wParam;
        PageResult result;
        const char* what;
    };
    const Case cases[] = {
        {WM_KEYDOWN, VK_RETURN, PageResult::None, "Enter on the halt confirmation keeps the transfer going (No is the default)"},
        {WM_KEYDOWN, VK_ESCAPE, PageResult::Quit, "Escape on the halt confirmation halts"},
        {WM_COMMAND, IDYES, PageResult::Quit, "Yes halts"},
        {WM_COMMAND, IDNO, PageResult::None, "No keeps the transfer going"},
    };
    for (const Case& c : cases) {
        g_Shell.pageResult = PageResult::None;
        g_haltAnswer = {c.message, c.wParam};
        g_haltAnswered = false;
        HHOOK hook = SetWindowsHookExA(WH_CBT, AnswerHalt, nullptr, GetCurrentThreadId());
        SendMessageA(page, WM_COMMAND, IDCANCEL, 0);
        UnhookWindowsHookEx(hook);
        CheckEqual(g_Shell.pageResult, c.result, c.what);
    }
    Check(GetFocus() == GetDlgItem(page, IDCANCEL), "after the question the keyboard is back on the page");

    Win32TransferView().DestroyProgressPage(reinterpret_cast<WindowRef>(page));
    Check(g_Shell.progressPage == nullptr && !IsWindow(page), "the transfer page is destroyed");
}

}  // namespace
}  // namespace zv

int main() {
    using namespace zv;
    g_Shell.instance = GetModuleHandleA(nullptr);
    g_Shell.run.os = &HostPlatform();
    g_Shell.run.ui = &g_ui;
    g_Shell.run.transferView = &Win32TransferView();
    g_Shell.pageBrush = CreateSolidBrush(GetSysColor(COLOR_BTNFACE));
    g_Shell.header.entryCount = 2;
    g_Shell.header.version = MakeVersion(1, 2, 1, 31);
    g_Shell.header.language = 0x409;
    g_Shell.screenWidth = GetSystemMetrics(SM_CXSCREEN);
    g_Shell.screenHeight = GetSystemMetrics(SM_CYSCREEN);
    g_Shell.menuHeight = GetSystemMetrics(SM_CYMENU);
    g_Shell.screenCentre = {g_Shell.screenWidth / 2, g_Shell.screenHeight / 2 - g_Shell.menuHeight};

    Check(RegisterBackdropClass() != 0, "the backdrop class registers");
    g_Shell.backdropWindow = CreateWindowExA(0, "UpdateClass", "checks", WS_OVERLAPPEDWINDOW, 0, 0, 640, 560,
                                             nullptr, nullptr, g_Shell.instance, nullptr);
    ShowWindow(g_Shell.backdropWindow, SW_SHOWNORMAL);
    UpdateWindow(g_Shell.backdropWindow);
    Drain();
    CheckPartialRepaint();
    CheckZeroHeightBackdrop();
    CheckDibPalette();

    g_Shell.frameDialog = CreateDialogParamA(g_Shell.instance, MAKEINTRESOURCEA(IDD_FRAME), g_Shell.backdropWindow,
                                             FrameDialogProc, 0);
    Check(g_Shell.frameDialog != nullptr, "the frame is created");
    Drain();
    CheckWelcomeAndDress();
    CheckRunModalPage();
    CheckDetectedPage();
    CheckOutcomePages();
    CheckProgressBar();
    CheckPumpMessages();
    CheckCentring();
    CheckMinimiseAndRestore();

    DestroyWindow(g_Shell.frameDialog);
    DestroyWindow(g_Shell.backdropWindow);
    if (g_Shell.pageFont != nullptr) DeleteObject(g_Shell.pageFont);
    DeleteObject(g_Shell.pageBrush);
    std::printf("%d failed\n", g_failures);
    return g_failures;
}

// The ordinary pages of the wizard: welcome (401), detection (402), success
// (404), partial update (405) and not installed (406).
#include "detect/product_version.h"
#include "platform/messages.h"
#include "platform/text.h"
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"
#include "string_ids.h"

namespace zv {
namespace {

// A page's own set-up, with the parameter the page was created with.
using PageSetUp = void (*)(HWND page, LPARAM parameter);

WindowRef Ref(HWND window) { return reinterpret_cast<WindowRef>(window); }

void SetItem(HWND page, int item, const char* text) { g_Shell.run.ui->SetItemText(Ref(page), item, 0, text); }

// Fills the format that an item holds in its template with the package's
// version text (and, for a template that asks for it, a second text).
void FillItemTemplate(HWND page, int item, const char* second) {
    char version[32] = {};
    FormatVersion(g_Shell.header.version, version, sizeof version);
    char format[256] = {};
    GetDlgItemTextA(page, item, format, sizeof format);
    char text[256] = {};
    FormatText(text, sizeof text, format, version, second);
    SetItem(page, item, text);
}

void SetUpWelcome(HWND page, LPARAM) {
    // The language's name is offered to the template as a second argument;
    // the template at hand shows the version only.
    char language[255] = {};
    g_Shell.run.os->LanguageName(g_Shell.header.language, language, sizeof language);
    FillItemTemplate(page, IDC_WELCOME_TEXT, language);
}

void SetUpSuccess(HWND page, LPARAM) { FillItemTemplate(page, IDC_OUTCOME_TEXT, ""); }

// The partial-update page, created with a non-zero parameter when every
// installed file is as it was: it says so below its own text.
void SetUpPartial(HWND page, LPARAM leftAsItWas) {
    if (leftAsItWas == 0) return;
    SetItemString(g_Shell.run, Ref(page), IDC_UNCHANGED_TEXT, IDS_LEFT_AS_IT_WAS);
    ShowWindow(GetDlgItem(page, IDC_UNCHANGED_TEXT), SW_SHOWNA);
}

void SetUpDetected(HWND page, LPARAM) {
    const UpdateVerdict* verdict = g_Shell.verdict;
    HWND next = GetDlgItem(page, IDOK);
    if (verdict == nullptr) {
        // Nothing was decided: nothing may be updated.
        EnableWindow(next, FALSE);
        Trace("next enabled=0");
        return;
    }
    SetItem(page, IDC_VERSION16, verdict->version16Text);
    SetItem(page, IDC_VERSION32, verdict->version32Text);
    SetItem(page, IDC_LANGUAGE, verdict->languageText);
    SetItem(page, IDC_INSTALL_TYPE, verdict->installTypeText);
    SetItem(page, IDC_DIRECTORY, verdict->directoryText);
    if (verdict->messageId != 0) {
        SetItemString(g_Shell.run, Ref(page), IDC_VERDICT, verdict->messageId);
    } else {
        SetItem(page, IDC_VERDICT, verdict->message);
    }
    if (verdict->hintId != 0) {
        SetItemString(g_Shell.run, Ref(page), IDC_HINT, verdict->hintId);
    } else {
        SetItem(page, IDC_HINT, verdict->hint);
    }
    if (!verdict->canProceed) EnableWindow(next, FALSE);
    Trace("next enabled=%d", verdict->canProceed ? 1 : 0);
}

// What the five pages have in common; `setUp` fills the page's own items.
INT_PTR PageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam, unsigned titleId, PageSetUp setUp) {
    switch (message) {
    case WM_INITDIALOG:
        InitPageChrome(page, titleId);
        if (setUp != nullptr) setUp(page, lParam);
        return TRUE;
    case WM_PAINT:
        PaintPage(page);
        return FALSE;
    case WM_COMMAND: {
        const int id = LOWORD(wParam);
        if (id == IDOK) {
            // Enter on a page sends id 1 as well; with Next disabled (the
            // detection page refusing the update) it must not go on.
            HWND next = GetDlgItem(page, IDOK);
            if (next != nullptr && !IsWindowEnabled(next)) return FALSE;
            g_Shell.pageResult = PageResult::Next;
        } else if (id == IDCANCEL) {
            g_Shell.pageResult = PageResult::Quit;
        }
        return FALSE;
    }
    default:
        return ColourMessageAnswer(page, message, wParam, lParam);
    }
}

}  // namespace

INT_PTR CALLBACK WelcomePageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return PageProc(page, message, wParam, lParam, IDS_PAGE_WELCOME, SetUpWelcome);
}

// The detection page is captioned "End" like the closing pages, as every
// released updater has shown it; "File Detection" (113) stays in the table
// unshown.
INT_PTR CALLBACK DetectedPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return PageProc(page, message, wParam, lParam, IDS_PAGE_END, SetUpDetected);
}

INT_PTR CALLBACK SuccessPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return PageProc(page, message, wParam, lParam, IDS_PAGE_END, SetUpSuccess);
}

INT_PTR CALLBACK PartialPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return PageProc(page, message, wParam, lParam, IDS_PAGE_END, SetUpPartial);
}

INT_PTR CALLBACK NotInstalledPageProc(HWND page, UINT message, WPARAM wParam, LPARAM lParam) {
    return PageProc(page, message, wParam, lParam, IDS_PAGE_END, nullptr);
}

}  // namespace zv

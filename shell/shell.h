// State of the running wizard, shared by its window procedures.
#pragma once

#include <windows.h>

#include "platform/run_context.h"

namespace zv {

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
    int pageResult = 0;
    RunContext run;
};

extern Shell g_Shell;

// Registers the class of the backdrop window, "UpdateClass"; 0 on failure.
ATOM RegisterBackdropClass();
LRESULT CALLBACK BackdropWndProc(HWND window, UINT message, WPARAM wParam, LPARAM lParam);

}  // namespace zv

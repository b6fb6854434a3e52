// The frame: dialog 400 inside the backdrop, with the picture on its left and
// the pages on its right.
#include "platform/bytes.h"
#include "platform/platform.h"
#include "resource.h"
#include "shell/shell.h"
#include "shell/trace.h"

namespace zv {
namespace {

constexpr uint32_t kBitmapHeaderSize = 40;
constexpr uint32_t kPaletteBlockSize = 4 + 256 * 4;  // version, count, 256 entries

// Where the pixels of a packed bitmap start: after the header and a colour
// table of 2^bitCount entries, counted in 16 bits, so that 16, 24 and 32 bits
// per pixel skip no table at all.
uint16_t PixelOffset(uint16_t bitCount) {
    uint32_t tableBytes = bitCount < 16 ? (4u << bitCount) : 0;
    return static_cast<uint16_t>(kBitmapHeaderSize + tableBytes);
}

}  // namespace

void CentreInBackdrop(HWND frame) {
    RECT backdrop, own;
    GetWindowRect(g_Shell.backdropWindow, &backdrop);
    GetWindowRect(frame, &own);
    const int W = backdrop.right - backdrop.left, H = backdrop.bottom - backdrop.top;
    const int w = own.right - own.left, h = own.bottom - own.top;

    int x = g_Shell.screenCentre.x - w / 2;
    if (x > W - w) x = W - w;
    if (x <= 0) x = 0;
    int y = g_Shell.screenCentre.y - h / 2;
    if (y > H - h) y = H - h;
    if (y <= 0) y = 0;
    SetWindowPos(frame, nullptr, x, y, 0, 0, SWP_NOSIZE | SWP_NOZORDER);
    Trace("frame at %d,%d size %dx%d in backdrop %dx%d centre %d,%d", x, y, w, h, W, H,
          static_cast<int>(g_Shell.screenCentre.x), static_cast<int>(g_Shell.screenCentre.y));
}

HPALETTE CreateDibPalette(HDC dc, const BITMAPINFOHEADER* bitmap) {
    const uint8_t* bytes = reinterpret_cast<const uint8_t*>(bitmap);
    if (LoadU16LE(bytes + 14) != 8) return nullptr;

    BlockHandle block = 0;
    auto* palette = static_cast<LOGPALETTE*>(AllocGlobalBlock(*g_Shell.run.os, kPaletteBlockSize, &block));
    if (palette == nullptr) return nullptr;
    palette->palVersion = 0x300;
    palette->palNumEntries = 256;
    // The colour table follows the header, each entry blue, green, red and
    // a reserved byte. The first and last ten are the places of the system's
    // static colours, which must not be merged with others.
    const uint8_t* table = bytes + kBitmapHeaderSize;
    for (int i = 0; i < 256; ++i) {
        palette->palPalEntry[i].peRed = table[4 * i + 2];
        palette->palPalEntry[i].peGreen = table[4 * i + 1];
        palette->palPalEntry[i].peBlue = table[4 * i];
        palette->palPalEntry[i].peFlags = (i < 10 || i >= 246) ? PC_NOCOLLAPSE : 0;
    }
    // On a 256-colour palette display those twenty places hold the system's
    // own static colours.
    if (GetDeviceCaps(dc, BITSPIXEL) * GetDeviceCaps(dc, PLANES) == 8 &&
        (GetDeviceCaps(dc, RASTERCAPS) & RC_PALETTE) != 0) {
        GetSystemPaletteEntries(dc, 0, 10, &palette->palPalEntry[0]);
        GetSystemPaletteEntries(dc, 246, 10, &palette->palPalEntry[246]);
    }
    HPALETTE result = CreatePalette(palette);
    FreeGlobalBlock(*g_Shell.run.os, &block);
    return result;
}

void PaintFrameBitmap(HINSTANCE module, HWND dialog, HDC dc, int controlId, int bitmapId) {
    HWND control = GetDlgItem(dialog, controlId);
    if (control == nullptr) return;
    RECT area;
    GetWindowRect(control, &area);
    const int width = area.right - area.left, height = area.bottom - area.top;
    POINT corner = {area.left, area.top};
    ScreenToClient(dialog, &corner);

    HRSRC found = FindResourceA(module, MAKEINTRESOURCEA(bitmapId), MAKEINTRESOURCEA(2) /* RT_BITMAP */);
    if (found == nullptr) return;
    HGLOBAL loaded = LoadResource(module, found);
    if (loaded == nullptr) return;
    const auto* bytes = static_cast<const uint8_t*>(LockResource(loaded));
    const DWORD size = SizeofResource(module, found);
    // A bitmap too short for its header and colour table is not drawn.
    if (bytes == nullptr || size < kBitmapHeaderSize || size < PixelOffset(LoadU16LE(bytes + 14))) {
        FreeResource(loaded);
        return;
    }
    const uint16_t bitCount = LoadU16LE(bytes + 14);
    const auto* header = reinterpret_cast<const BITMAPINFOHEADER*>(bytes);

    HPALETTE palette = nullptr;
    HPALETTE previous = nullptr;
    if (bitCount == 8) {
        palette = CreateDibPalette(dc, header);
        if (palette != nullptr) {
            previous = SelectPalette(dc, palette, FALSE);
            RealizePalette(dc);
        }
    }
    // Whole rows and columns are kept when the picture is shrunk, so its
    // colours are never blended with one another.
    int previousMode = SetStretchBltMode(dc, COLORONCOLOR);
    const auto pictureWidth = static_cast<int32_t>(LoadU32LE(bytes + 4));
    const auto pictureHeight = static_cast<int32_t>(LoadU32LE(bytes + 8));
    StretchDIBits(dc, corner.x, corner.y, width, height, 0, 0, pictureWidth, pictureHeight,
                  bytes + PixelOffset(bitCount), reinterpret_cast<const BITMAPINFO*>(header), DIB_RGB_COLORS,
                  SRCCOPY);
    if (previousMode != 0) SetStretchBltMode(dc, previousMode);
    if (palette != nullptr) {
        SelectPalette(dc, previous, FALSE);
        DeleteObject(palette);
    }
    FreeResource(loaded);
}

INT_PTR CALLBACK FrameDialogProc(HWND frame, UINT message, WPARAM wParam, LPARAM lParam) {
    switch (message) {
    case WM_INITDIALOG:
        CentreInBackdrop(frame);
        // Draw the caption as active, as the frame of a running wizard.
        PostMessageA(frame, WM_NCACTIVATE, TRUE, 0);
        return TRUE;
    case WM_PAINT: {
        PAINTSTRUCT ps;
        HDC dc = BeginPaint(frame, &ps);
        if (dc != nullptr) PaintFrameBitmap(g_Shell.instance, frame, dc, IDC_PICTURE_FRAME, IDB_PICTURE);
        EndPaint(frame, &ps);
        return FALSE;
    }
    case WM_SYSCOMMAND:
        switch (wParam & 0xFFF0) {
        case SC_MINIMIZE:
            // Minimising the frame takes the whole backdrop down with it.
            ShowWindow(g_Shell.backdropWindow, SW_MINIMIZE);
            break;
        case SC_CLOSE:
            Trace("frame close");
            g_Shell.pageResult = PageResult::Quit;
            break;
        default:
            break;
        }
        return FALSE;
    default:
        return ColourMessageAnswer(frame, message, wParam, lParam);
    }
}

}  // namespace zv

// The one way the core reaches the user: message boxes and dialog item texts.
//
// The Windows shell implements UserInterface with MessageBoxA and
// SetDlgItemTextA; tests implement it with a script that records every message
// and answers it. The core never calls either directly: it uses the message
// operations of messages.h, which load and format the texts first.
#pragma once

#include <cstdint>

namespace zv {

// A window as the core sees it: an opaque value; 0 is none.
using WindowRef = uintptr_t;
constexpr WindowRef kNoWindow = 0;

// Message box styles, with the platform's values.
enum BoxStyle : unsigned {
    BOX_OK = 0x00,
    BOX_OKCANCEL = 0x01,
    BOX_ABORTRETRYIGNORE = 0x02,
    BOX_RETRYCANCEL = 0x05,
    BOX_BUTTONS_MASK = 0x0F,
    BOX_ICONSTOP = 0x10,
    BOX_ICONEXCLAMATION = 0x30,
    BOX_ICONINFORMATION = 0x40,
    BOX_ICON_MASK = 0xF0,
};

// Message box answers, with the platform's button codes.
enum Answer : int {
    ANSWER_OK = 1,
    ANSWER_CANCEL = 2,
    ANSWER_ABORT = 3,
    ANSWER_RETRY = 4,
    ANSWER_IGNORE = 5,
    ANSWER_YES = 6,
    ANSWER_NO = 7,
};

// One message box as the core asks for it.
struct MessageRequest {
    WindowRef owner;    // kNoWindow: no owner
    unsigned stringId;  // where the text came from; 0 for a text of no table
    const char* text;
    const char* caption;  // nullptr: the platform's default caption
    unsigned style;       // BoxStyle buttons | icon
};

class UserInterface {
public:
    virtual ~UserInterface() = default;
    // Shows a modal message box and returns the Answer of the button pressed.
    virtual int ShowMessage(const MessageRequest& message) = 0;
    // Sets the text of item `item` of `dialog`; `stringId` as above.
    virtual void SetItemText(WindowRef dialog, int item, unsigned stringId, const char* text) = 0;
};

// The transfer page as the transfer sees it. The Windows shell shows dialog
// 403 with its bar; tests script the stop requests.
class TransferView {
public:
    virtual ~TransferView() = default;
    // Shows the page; kNoWindow when it cannot be created.
    virtual WindowRef CreateProgressPage() = 0;
    virtual void DestroyProgressPage(WindowRef page) = 0;
    // Records the percentage (0 to 100) and redraws the bar at once.
    virtual void SetProgressPercent(unsigned percent) = 0;
    // Shows the name of the file the transfer works on, or asks about.
    virtual void ShowFileName(WindowRef page, const char* name) = 0;
    // Clears the page result left by the page before (its Next is no stop).
    virtual void ClearPageResult() = 0;
    // Handles at most 20 pending window messages without waiting and returns
    // the page result: non-zero asks the transfer to stop.
    virtual int PumpMessages(WindowRef page) = 0;
};

}  // namespace zv

// The values shared by the whole run of the updater. One RunContext is made at
// start-up and handed to every operation that needs them; tests make a fresh
// one per case.
#pragma once

#include "platform/platform.h"
#include "platform/ui.h"

namespace zv {

constexpr unsigned kTitleTextSize = 79;  // at most 78 characters

struct RunContext {
    Platform* os = nullptr;
    UserInterface* ui = nullptr;
    TransferView* transferView = nullptr;

    // Caption of the titled messages and of the disk prompt; empty until loaded.
    char titleText[kTitleTextSize] = {};
    // The running updater's own file, and its directory up to the last "\".
    char programPath[kMaxPath] = {};
    char programDir[kMaxPath] = {};

    // Threads that expand members while the stage step reads and asks, and
    // that hash files while the journal records them and while the commit's
    // leftovers are removed; 0 (or 1 processor) and all of it is done on the
    // update's own thread.
    unsigned stageWorkers = 0;

    WindowRef backdropWindow = kNoWindow;
    WindowRef progressPage = kNoWindow;
};

}  // namespace zv

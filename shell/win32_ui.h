// The user-interface operations of the core, done with real Windows dialogs.
#pragma once

#include "platform/ui.h"

namespace zv {

UserInterface& Win32UserInterface();

}  // namespace zv

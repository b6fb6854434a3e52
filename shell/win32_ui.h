// The user-interface operations of the core, done with real Windows dialogs.
#pragma once

#include "platform/ui.h"

namespace zv {

UserInterface& Win32UserInterface();
// Answers every question itself (UnattendedAnswer) and logs it: /quiet and
// /passive.
UserInterface& UnattendedUserInterface();
// The transfer with no page: /quiet.
TransferView& QuietTransferView();

}  // namespace zv

// The updater's questions, asked on the terminal: the disk prompt of the
// volume reader and the read and write questions, when quillon reads a
// package through the updater's own code.
#pragma once

#include <cstdio>
#include <string>

#include "platform/ui.h"

namespace quillon {

class TerminalUi : public zv::UserInterface {
public:
    // `interactive`: ask on the terminal when stdin is one. Otherwise, and
    // always when stdin is not a terminal, every question takes its default:
    // Cancel (Abort for Abort/Retry/Ignore, OK for a message with OK alone).
    // The disk prompt only comes for a volume that is missing or wrong.
    explicit TerminalUi(bool interactive);
    // Asks on `in`, answering at `out` (for a terminal or a script of
    // answers): always interactive.
    TerminalUi(std::FILE* in, std::FILE* out);

    int ShowMessage(const zv::MessageRequest& message) override;
    void SetItemText(zv::WindowRef dialog, int item, unsigned stringId, const char* text) override;

    int messages = 0;  // messages shown

private:
    int DefaultAnswer(const zv::MessageRequest& message);

    bool interactive_;
    std::FILE* in_ = stdin;
    std::FILE* out_ = stderr;
};

}  // namespace quillon

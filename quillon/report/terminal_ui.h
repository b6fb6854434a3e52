// The updater's questions, asked on the terminal: the disk prompt of the
// volume reader and the read and write questions, when quillon reads a
// package through the updater's own code.
#pragma once

#include <cstdio>
#include <string>

#include "package/volume_reader.h"
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

    // The reader whose disk prompts this answers, and the platform through
    // which it looks for the volume files.
    void WatchReader(const zv::VolumeReader* reader, zv::Platform* os);

    int ShowMessage(const zv::MessageRequest& message) override;
    void SetItemText(zv::WindowRef dialog, int item, unsigned stringId, const char* text) override;

    int messages = 0;         // messages shown
    std::string lastMessage;  // the text of the last one, as shown (control characters escaped)

private:
    int DefaultAnswer(const zv::MessageRequest& message);

    // The disk prompt in words for a terminal: which file is wanted, and
    // whether it is missing or why the file there is not that volume.
    std::string DiskPromptText() const;

    bool interactive_;
    std::FILE* in_ = stdin;
    std::FILE* out_ = stderr;
    const zv::VolumeReader* reader_ = nullptr;
    zv::Platform* os_ = nullptr;
};

}  // namespace quillon

// The updater's questions, asked on the terminal: the disk prompt of the
// volume reader and the read and write questions, when quillon reads a
// package through the updater's own code.
#pragma once

#include <string>

#include "package/volume_reader.h"
#include "platform/ui.h"

namespace quillon {

class TerminalUi : public zv::UserInterface {
public:
    // `interactive`: ask on the terminal when stdin is one. Otherwise, and
    // always when stdin is not a terminal, every question takes its default:
    // OK for the disk prompt when the volume's file is there, otherwise
    // Cancel (Abort for Abort/Retry/Ignore, OK for a message with OK alone).
    // The disk prompt asked again for the same volume means the file there is
    // not that volume (empty, too short for its number, or another number):
    // its default is then Cancel, and the reason, naming the file, becomes
    // lastMessage. So no answer given without a terminal can loop.
    explicit TerminalUi(bool interactive);

    // The reader whose disk prompts this answers, and the platform through
    // which it looks for the volume files.
    void WatchReader(const zv::VolumeReader* reader, zv::Platform* os);

    int ShowMessage(const zv::MessageRequest& message) override;
    void SetItemText(zv::WindowRef dialog, int item, unsigned stringId, const char* text) override;

    int messages = 0;         // messages shown
    int cancelled = 0;        // questions answered with Cancel or Abort
    std::string lastMessage;  // the text of the last one, as shown (control characters escaped)

private:
    int DefaultAnswer(const zv::MessageRequest& message);
    // Why the current volume's file cannot be the volume the reader wants.
    std::string VolumeProblem() const;

    bool interactive_;
    const zv::VolumeReader* reader_ = nullptr;
    zv::Platform* os_ = nullptr;
    uint32_t promptedVolume_ = 0;  // the volume of the last disk prompt answered OK
    std::string volumeProblem_;    // set when a disk prompt is refused for a wrong file
};

}  // namespace quillon

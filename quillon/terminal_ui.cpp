#include "quillon/terminal_ui.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "quillon/progress.h"
#include "quillon/shown_text.h"
#include "string_ids.h"

namespace quillon {

namespace {

struct Button {
    int answer;
    const char* name;
    char key;
};

// The buttons of a message box style, in the order they are shown.
std::vector<Button> Buttons(unsigned style) {
    switch (style & zv::BOX_BUTTONS_MASK) {
    case zv::BOX_OKCANCEL: return {{zv::ANSWER_OK, "OK", 'o'}, {zv::ANSWER_CANCEL, "Cancel", 'c'}};
    case zv::BOX_RETRYCANCEL: return {{zv::ANSWER_RETRY, "Retry", 'r'}, {zv::ANSWER_CANCEL, "Cancel", 'c'}};
    case zv::BOX_ABORTRETRYIGNORE:
        return {{zv::ANSWER_ABORT, "Abort", 'a'}, {zv::ANSWER_RETRY, "Retry", 'r'}, {zv::ANSWER_IGNORE, "Ignore", 'i'}};
    default: return {{zv::ANSWER_OK, "OK", 'o'}};
    }
}

const char* AnswerName(int answer) {
    switch (answer) {
    case zv::ANSWER_OK: return "OK";
    case zv::ANSWER_CANCEL: return "Cancel";
    case zv::ANSWER_ABORT: return "Abort";
    case zv::ANSWER_RETRY: return "Retry";
    case zv::ANSWER_IGNORE: return "Ignore";
    case zv::ANSWER_YES: return "Yes";
    case zv::ANSWER_NO: return "No";
    }
    return "?";
}

}  // namespace

TerminalUi::TerminalUi(bool interactive) : interactive_(interactive && StdinIsTerminal()) {}

void TerminalUi::WatchReader(const zv::VolumeReader* reader, zv::Platform* os) {
    reader_ = reader;
    os_ = os;
}

std::string TerminalUi::VolumeProblem() const {
    const std::string path = Shown(reader_->volumePath);
    const std::string volume = std::to_string(reader_->volume);
    const zv::FileHandle file = os_->Open(reader_->volumePath, zv::OpenMode::Read);
    if (file == zv::kNoFile) return path + ": volume " + volume + " of the package is missing";
    uint8_t number[2] = {};
    const int32_t got = os_->Read(file, number, 2);
    os_->Close(file);
    std::string why;
    if (got == 0) {
        why = "it is empty";
    } else if (got == 1) {
        why = "it is one byte long, too short for a volume number";
    } else if (got < 0) {
        why = "it cannot be read";
    } else {
        why = "it says it is volume " + std::to_string(number[0] | number[1] << 8);
    }
    return path + ": not volume " + volume + " of the package: " + why;
}

int TerminalUi::DefaultAnswer(const zv::MessageRequest& message) {
    const std::vector<Button> buttons = Buttons(message.style);
    volumeProblem_.clear();
    if (message.stringId == zv::IDS_INSERT_DISK && reader_ != nullptr && os_ != nullptr) {
        // The reader has named the volume's file before it asks for the disk.
        // Asked again for the same volume, the file there was not that volume.
        const bool again = promptedVolume_ == reader_->volume;
        const zv::FileHandle file = again ? zv::kNoFile : os_->Open(reader_->volumePath, zv::OpenMode::Read);
        if (file != zv::kNoFile) {
            os_->Close(file);
            return zv::ANSWER_OK;
        }
        volumeProblem_ = VolumeProblem();
        return zv::ANSWER_CANCEL;
    }
    for (const Button& b : buttons) {
        if (b.answer == zv::ANSWER_CANCEL || b.answer == zv::ANSWER_ABORT) return b.answer;
    }
    return buttons.front().answer;
}

int TerminalUi::ShowMessage(const zv::MessageRequest& message) {
    ++messages;
    lastMessage = Shown(message.text ? message.text : "");
    const std::vector<Button> buttons = Buttons(message.style);
    const int fallback = DefaultAnswer(message);
    std::string choices;
    for (const Button& b : buttons) {
        if (!choices.empty()) choices += '/';
        choices += b.name;
    }
    std::fprintf(stderr, "quillon: %s [%s]", lastMessage.c_str(), choices.c_str());
    int answer = fallback;
    if (interactive_ && buttons.size() > 1) {
        std::fprintf(stderr, " (default %s)? ", AnswerName(fallback));
        std::fflush(stderr);
        char line[64];
        if (std::fgets(line, sizeof line, stdin) != nullptr) {
            char key = line[0];
            if (key >= 'A' && key <= 'Z') key = static_cast<char>(key - 'A' + 'a');
            for (const Button& b : buttons) {
                if (key == b.key) answer = b.answer;
            }
        } else {
            answer = zv::ANSWER_CANCEL;  // no more answers: give up rather than ask forever
            std::fprintf(stderr, "\n");
        }
    } else {
        std::fprintf(stderr, " -> %s\n", AnswerName(answer));
    }
    if (message.stringId == zv::IDS_INSERT_DISK && reader_ != nullptr) {
        promptedVolume_ = answer == zv::ANSWER_OK ? reader_->volume : 0;
        if (answer != zv::ANSWER_OK && !volumeProblem_.empty()) {
            std::fprintf(stderr, "quillon: %s\n", volumeProblem_.c_str());
            lastMessage = volumeProblem_;
        }
    }
    if (answer == zv::ANSWER_CANCEL || answer == zv::ANSWER_ABORT) ++cancelled;
    return answer;
}

void TerminalUi::SetItemText(zv::WindowRef, int, unsigned, const char*) {}

}  // namespace quillon

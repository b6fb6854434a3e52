#include "quillon/report/terminal_ui.h"

#include <cstdio>
#include <cstring>
#include <vector>

#include "platform/text.h"
#include "quillon/base/shown_text.h"
#include "quillon/report/progress.h"
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

TerminalUi::TerminalUi(std::FILE* in, std::FILE* out) : interactive_(true), in_(in), out_(out) {}

int TerminalUi::DefaultAnswer(const zv::MessageRequest& message) {
    const std::vector<Button> buttons = Buttons(message.style);
    // The reader opens a volume that is at hand without asking, so the disk
    // prompt means the file is missing or holds another volume: at a
    // terminal the user may mend that and press Enter; without one nothing
    // will change, and asking again would never end.
    if (message.stringId == zv::IDS_INSERT_DISK) return interactive_ ? zv::ANSWER_OK : zv::ANSWER_CANCEL;
    for (const Button& b : buttons) {
        if (b.answer == zv::ANSWER_CANCEL || b.answer == zv::ANSWER_ABORT) return b.answer;
    }
    return buttons.front().answer;
}

int TerminalUi::ShowMessage(const zv::MessageRequest& message) {
    ++messages;
    const std::string text = Shown(message.text ? message.text : "");
    const std::vector<Button> buttons = Buttons(message.style);
    const int fallback = DefaultAnswer(message);
    std::string choices;
    for (const Button& b : buttons) {
        if (!choices.empty()) choices += '/';
        choices += b.name;
    }
    std::fprintf(out_, "quillon: %s [%s]", text.c_str(), choices.c_str());
    int answer = fallback;
    if (interactive_ && buttons.size() > 1) {
        // Only a button's name or its first letter answers; Enter takes the
        // default, the end of the input gives up. Anything else asks again.
        for (;;) {
            std::fprintf(out_, " (default %s)? ", AnswerName(fallback));
            std::fflush(out_);
            char line[64];
            if (std::fgets(line, sizeof line, in_) == nullptr) {
                answer = fallback;
                for (const Button& b : buttons) {
                    if (b.answer == zv::ANSWER_CANCEL || b.answer == zv::ANSWER_ABORT) answer = b.answer;
                }
                std::fprintf(out_, "\n");
                break;
            }
            std::string word = line;
            while (!word.empty() && (word.back() == '\n' || word.back() == '\r' || word.back() == ' ')) word.pop_back();
            while (!word.empty() && word.front() == ' ') word.erase(0, 1);
            word = zv::LowerAz(word);
            if (word.empty()) break;  // the default
            const Button* chosen = nullptr;
            for (const Button& b : buttons) {
                if (word == zv::LowerAz(b.name) || (word.size() == 1 && word[0] == b.key)) chosen = &b;
            }
            if (chosen != nullptr) {
                answer = chosen->answer;
                break;
            }
            std::fprintf(out_, "quillon: '%s' is not an answer; type %s", word.c_str(), choices.c_str());
        }
    } else {
        std::fprintf(out_, " -> %s\n", AnswerName(answer));
    }
    return answer;
}

void TerminalUi::SetItemText(zv::WindowRef, int, unsigned, const char*) {}

}  // namespace quillon

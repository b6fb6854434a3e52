// A UserInterface for tests: records every message and item text, and
// answers questions from a script.
#pragma once

#include <deque>
#include <functional>
#include <string>
#include <vector>

#include "platform/ui.h"

namespace zvtest {

struct RecordedMessage {
    zv::WindowRef owner;
    unsigned stringId;
    std::string text;
    bool hasCaption;  // false: the platform's default caption
    std::string caption;
    unsigned style;
    int answer;

    unsigned buttons() const { return style & zv::BOX_BUTTONS_MASK; }
    unsigned icon() const { return style & zv::BOX_ICON_MASK; }
};

struct RecordedItem {
    zv::WindowRef dialog;
    int item;
    unsigned stringId;
    std::string text;
};

class ScriptedUi : public zv::UserInterface {
public:
    // Answers for the next questions, in order.
    void Script(std::initializer_list<int> answers) { answers_.insert(answers_.end(), answers); }
    void ClearScript() { answers_.clear(); }
    // Answers still unused.
    size_t Unanswered() const { return answers_.size(); }
    // Messages shown when the script had run out. They are answered with the
    // "give up" button of their kind (OK, Cancel or Abort).
    int unscripted = 0;

    // Called with each message as it is shown, before it is answered: the
    // moment a user would mend something and press Retry.
    std::function<void(const RecordedMessage&)> onShow;

    std::vector<RecordedMessage> messages;
    std::vector<RecordedItem> items;

    int ShowMessage(const zv::MessageRequest& m) override;
    void SetItemText(zv::WindowRef dialog, int item, unsigned stringId, const char* text) override;

private:
    std::deque<int> answers_;
};

}  // namespace zvtest

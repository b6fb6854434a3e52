#include "tests/support/scripted_ui.h"

namespace zvtest {

static int GiveUpAnswer(unsigned style) {
    switch (style & zv::BOX_BUTTONS_MASK) {
    case zv::BOX_OK: return zv::ANSWER_OK;
    case zv::BOX_ABORTRETRYIGNORE: return zv::ANSWER_ABORT;
    default: return zv::ANSWER_CANCEL;
    }
}

int ScriptedUi::ShowMessage(const zv::MessageRequest& m) {
    int answer;
    if ((m.style & zv::BOX_BUTTONS_MASK) == zv::BOX_OK) {
        answer = zv::ANSWER_OK;  // nothing to decide: needs no script
    } else if (!answers_.empty()) {
        answer = answers_.front();
        answers_.pop_front();
    } else {
        ++unscripted;
        answer = GiveUpAnswer(m.style);
    }
    messages.push_back(RecordedMessage{m.owner, m.stringId, m.text ? m.text : "", m.caption != nullptr,
                                       m.caption ? m.caption : "", m.style, answer});
    if (onShow) onShow(messages.back());
    return answer;
}

void ScriptedUi::SetItemText(zv::WindowRef dialog, int item, unsigned stringId, const char* text) {
    items.push_back(RecordedItem{dialog, item, stringId, text ? text : ""});
}

}  // namespace zvtest

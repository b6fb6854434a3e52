// A TransferView for tests: records the page's life and the percentages, and
// requests a stop at a chosen poll.
#pragma once

#include <string>
#include <vector>

#include "platform/ui.h"

namespace zvtest {

class ScriptedView : public zv::TransferView {
public:
    // The page handle the view hands out.
    static constexpr zv::WindowRef kPage = 0x403;

    bool failCreate = false;  // the page cannot be created
    int stopAtPoll = 0;       // the n-th poll (from 1) and every later one asks to stop; 0: never

    int created = 0;
    int destroyed = 0;
    int polls = 0;
    std::vector<unsigned> percents;
    std::vector<std::string> names;  // shown in the page's file field, in order

    zv::WindowRef CreateProgressPage() override {
        if (failCreate) return zv::kNoWindow;
        ++created;
        return kPage;
    }
    void DestroyProgressPage(zv::WindowRef) override { ++destroyed; }
    void SetProgressPercent(unsigned percent) override { percents.push_back(percent); }
    void ShowFileName(zv::WindowRef, const char* name) override { names.push_back(name); }
    void ClearPageResult() override { pageResult_ = 0; }
    int PumpMessages(zv::WindowRef) override {
        ++polls;
        if (stopAtPoll != 0 && polls >= stopAtPoll) pageResult_ = 2;
        return pageResult_;
    }

private:
    int pageResult_ = 1;  // what the page before left: its Next
};

}  // namespace zvtest

// A display backend for tests that notes what the layer hands it to show,
// and says whether a person is there to see it.
#ifndef VANTREL_TESTS_RECORDING_DISPLAY_H
#define VANTREL_TESTS_RECORDING_DISPLAY_H

#include <string>
#include <utility>
#include <vector>

#include "tests/unit/stub_display.h"

struct DisplayLog {
    std::vector<std::pair<uintptr_t, RECT>> presented;  // window, dirty rectangle
};

class RecordingDisplay final : public StubDisplay {
public:
    explicit RecordingDisplay(DisplayLog *log, bool interactive = false)
        : StubDisplay(640, 480), log_(log), interactive_(interactive) {}
    const char *Name() const override { return "recording"; }
    bool Interactive() const override { return interactive_; }
    // One entry a call: the bounds of what it showed.
    void Present(uintptr_t window, const uint32_t *, int, int, const std::vector<RECT> &dirty) override {
        log_->presented.push_back({window, Bounds(dirty)});
    }

private:
    DisplayLog *log_;
    bool interactive_;
};

#endif

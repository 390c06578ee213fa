// Driving a modal dialog from a test: a script of steps run from the layer's
// idle hook, one step each time the innermost dialog's loop has nothing to
// deliver. When the steps run out and a dialog is still open, that is a
// failure, and the dialog is ended with -2, so a broken dialog never hangs a
// test.
#ifndef VANTREL_TESTS_DIALOG_FIXTURE_H
#define VANTREL_TESTS_DIALOG_FIXTURE_H

#include <gtest/gtest.h>
#include <layer_hooks.h>
#include <windows.h>

#include <functional>
#include <memory>
#include <vector>

class DialogScript {
public:
    explicit DialogScript(std::vector<std::function<void()>> steps) : state_(std::make_shared<State>()) {
        state_->steps = std::move(steps);
        std::shared_ptr<State> state = state_;
        layer::SetIdleHook([state] {
            if (state->next < state->steps.size()) {
                state->steps[state->next++]();
                return;
            }
            if (HWND open = layer::ActiveDialog()) {
                ADD_FAILURE() << "a dialog was still open after the last step";
                EndDialog(open, -2);
            } else if (!state->strayLoop) {
                // Some other loop is waiting with nothing to do: end it too.
                state->strayLoop = true;
                ADD_FAILURE() << "a message loop other than a dialog's waited after the last step";
                PostQuitMessage(0);
            }
        });
    }
    ~DialogScript() { layer::SetIdleHook(nullptr); }
    DialogScript(const DialogScript &) = delete;
    DialogScript &operator=(const DialogScript &) = delete;

    size_t StepsRun() const { return state_->next; }
    bool AllRun() const { return state_->next == state_->steps.size(); }

private:
    struct State {
        std::vector<std::function<void()>> steps;
        size_t next = 0;
        bool strayLoop = false;
    };
    std::shared_ptr<State> state_;
};

#endif

// Program-wide state of the window: the one message box. The picked files
// live in the work list's model; pictures live only inside a run.
#pragma once

#include "ui_engine/skin_message_box.h"
#include "ui_engine/ui_engine.h"

namespace vellumar::gui {

struct AppState {
    ui::SkinMessageBox messageBox;

    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
    ~AppState() { Release(); }

    // Exit clean-up; safe to run twice.
    void Release() {
        messageBox.Release();
        ui::Engine::Shutdown();
    }
};

}  // namespace vellumar::gui

// Program-wide state of the window: the one image object, the last file pick
// and the one message box.
#pragma once

#include <QStringList>

#include "facade/image_facade.h"
#include "ui_engine/skin_message_box.h"
#include "ui_engine/ui_engine.h"

namespace vellumar::gui {

struct AppState {
    ImageHandle image = nullptr;
    QStringList selectedFiles;
    ui::SkinMessageBox messageBox;

    AppState() = default;
    AppState(const AppState&) = delete;
    AppState& operator=(const AppState&) = delete;
    ~AppState() { Release(); }

    // Exit clean-up; safe to run twice.
    void Release() {
        ImageFacade::Free(&image);
        selectedFiles.clear();
        messageBox.Release();
        ui::Engine::Shutdown();
    }
};

}  // namespace vellumar::gui

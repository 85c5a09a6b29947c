// GoogleTest entry for tests that need a QApplication.
#include <QApplication>
#include <QtGlobal>

#include <gtest/gtest.h>

#include "ui_engine/ui_engine.h"

int main(int argc, char** argv) {
    // Listing the tests happens outside CTest's environment too.
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    vellumar::ui::Engine::RegisterWindowClass();
    vellumar::ui::Engine::Initialize();
    return RUN_ALL_TESTS();
}

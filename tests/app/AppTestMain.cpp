// The application tests run inside the program's own application object, so that errors
// escaping event handlers take the same path as in the program. Settings go to a folder of
// their own, so that no test reads or writes the user's.
#include "app/Calvoro.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    if (!settings.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    calvoro::app::CalvoroApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// The application tests run inside the program's own application object, so that errors
// escaping event handlers take the same path as in the program. Settings and data go to a
// folder of their own, so that no test reads or writes the user's. No maker service is
// configured: tests that need one point it at a server of their own on 127.0.0.1. The splash
// stays away.
#include "app/Calvoro.h"
#include "app/SplashScrUnit.h"

#include <QTemporaryDir>

#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QTemporaryDir settings;
    if (!settings.isValid()) return 2;
    qputenv("XDG_CONFIG_HOME", settings.path().toLocal8Bit());
    qputenv("XDG_DATA_HOME", settings.path().toLocal8Bit());  // the query history too
    for (const char* name : {"CALVORO_MAKER_URL", "CALVORO_CONTACT_URL", "CALVORO_PING_HOSTS"}) qunsetenv(name);
    calvoro::app::ShowSplashAtStart() = false;
    calvoro::app::CalvoroApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

// Runs the tests inside one application object, headless.
#include "app/QuillaApp.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Nothing under test may touch the user's own settings, even before a fixture redirects them.
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CACHE_HOME", home.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    CQuillaApp app(argc, argv);
    return RUN_ALL_TESTS();
}

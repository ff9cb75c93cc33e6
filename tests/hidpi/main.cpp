// Runs the tests on a screen of two device pixels per logical pixel, headless. Another ratio can
// be asked for through QT_SCALE_FACTOR (the tests run this program again at ratio 1 to compare).
#include "app/QuillaApp.h"

#include <QTemporaryDir>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    // Read by Qt when the application object is made.
    if (qEnvironmentVariableIsEmpty("QT_SCALE_FACTOR"))
        qputenv("QT_SCALE_FACTOR", "2");
    QTemporaryDir home;
    qputenv("XDG_CONFIG_HOME", home.path().toUtf8());
    qputenv("XDG_DATA_HOME", home.path().toUtf8());
    qputenv("XDG_CACHE_HOME", home.path().toUtf8());
    ::testing::InitGoogleTest(&argc, argv);
    CQuillaApp app(argc, argv);
    return RUN_ALL_TESTS();
}

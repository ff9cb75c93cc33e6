// Runs the imaging tests inside a headless application (images, painting and the clipboard need
// one).
#include "imaging/ImageLibrary.h"

#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv) {
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    ::testing::InitGoogleTest(&argc, argv);
    QApplication app(argc, argv);
    LoadImageLibrary();
    return RUN_ALL_TESTS();
}

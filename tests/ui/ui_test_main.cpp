// The UI tests run on Qt's offscreen platform (set here when the
// environment does not choose one, so listing the tests needs no display),
// with one QApplication for the whole run and the theme in place.
#include <gtest/gtest.h>

#include <QApplication>

#include "ui/style.h"

int main(int argc, char** argv) {
    ::testing::InitGoogleTest(&argc, argv);
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM")) qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication application(argc, argv);
    QApplication::setQuitOnLastWindowClosed(false);
    style_init();
    return RUN_ALL_TESTS();
}

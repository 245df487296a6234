// Entry point of the widget test programs: GoogleTest inside a QApplication, so widgets can be
// created and events processed. They run headless unless QT_QPA_PLATFORM says otherwise, also
// when the build lists their tests, so no display is ever needed. The window's test programs
// (VORLANTI_WINDOW_TESTS) install its accessible interfaces as the program does.
#include <QApplication>
#include <gtest/gtest.h>
#ifdef VORLANTI_WINDOW_TESTS
#include "terminal/accessible/AccessibleFactory.h"
#endif

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
#ifdef VORLANTI_WINDOW_TESTS
    InstallAccessibleFactory(); // as the program does at start-up
#endif
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

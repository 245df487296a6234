// Entry point of the widget test programs: GoogleTest inside a QApplication, so widgets can be
// created and events processed. They run headless unless QT_QPA_PLATFORM says otherwise, also
// when the build lists their tests, so no display is ever needed.
#include <QApplication>
#include <gtest/gtest.h>

int main(int argc, char** argv)
{
    if (qEnvironmentVariableIsEmpty("QT_QPA_PLATFORM"))
        qputenv("QT_QPA_PLATFORM", "offscreen");
    QApplication app(argc, argv);
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

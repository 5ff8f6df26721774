// The main() of the GUI tests: real widgets on the offscreen platform, so
// that they run without a display. Under Wine the offscreen platform finds
// no fonts: there the tests run on the windows platform, in the X server
// CTest runs in.

#include <QApplication>

#include <gtest/gtest.h>

int main(int argc, char** argv)
{
#ifndef Q_OS_WIN
    qputenv("QT_QPA_PLATFORM", "offscreen");
#endif
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

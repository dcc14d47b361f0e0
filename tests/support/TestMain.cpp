#include <QApplication>

#include <cstdlib>
#include <gtest/gtest.h>

// Every test program runs with a real Qt application on the offscreen platform,
// so queued calls, timers and widgets behave as they do in the application.
int main(int argc, char **argv)
{
    setenv("QT_QPA_PLATFORM", "offscreen", 0);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

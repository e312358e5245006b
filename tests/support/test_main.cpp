// GoogleTest main that runs every test inside a QCoreApplication, so posts to the main thread,
// run-and-wait requests and timers behave as they do in the programs.

#include <QCoreApplication>
#include <gtest/gtest.h>

#include "stream/MainThreadDispatcher.h"

int main(int argc, char** argv) {
    QCoreApplication app(argc, argv);
    MainThreadDispatcher::Instance().AdoptCurrentThreadAsMain();
    ::testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

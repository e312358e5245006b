#include <gtest/gtest.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <QTimer>

#include <atomic>
#include <stdexcept>
#include <thread>

#include "stream/MMErrors.h"
#include "stream/MMThread.h"
#include "stream/MainThreadDispatcher.h"

namespace {

auto& dispatcher() { return MainThreadDispatcher::Instance(); }

void spinEventLoop(int ms = 20) {
    QEventLoop loop;
    QTimer::singleShot(ms, &loop, &QEventLoop::quit);
    loop.exec();
}

TEST(MainThreadDispatcher, PostsRunLaterOnTheMainThreadInOrder) {
    std::vector<int> ran;
    std::atomic<bool> onMain{true};
    std::thread worker([&] {
        for (int i = 0; i < 3; ++i)
            dispatcher().Post(&ran, [&, i] {
                ran.push_back(i);
                onMain = onMain && dispatcher().IsMainThread();
            });
    });
    worker.join();
    EXPECT_TRUE(ran.empty());
    spinEventLoop();
    EXPECT_EQ(ran, (std::vector<int>{0, 1, 2}));
    EXPECT_TRUE(onMain);
}

TEST(MainThreadDispatcher, RemovePostsWithdrawsOnlyThatOwnersWork) {
    int a = 0, b = 0;
    dispatcher().Post(&a, [&] { ++a; });
    dispatcher().Post(&b, [&] { ++b; });
    dispatcher().RemovePosts(&a);
    dispatcher().ProcessPending();
    EXPECT_EQ(a, 0);
    EXPECT_EQ(b, 1);
}

TEST(MainThreadDispatcher, RunAndWaitFromWorkerRunsOnMainAndRethrows) {
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> returned{false};
    std::string caught;
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        dispatcher().RunAndWait([&] { ranOnMain = dispatcher().IsMainThread(); });
        returned = true;
        try {
            dispatcher().RunAndWait([] { throw EMMWaveOutError("boom"); });
        } catch (const EMMWaveOutError& e) {
            caught = e.what();
        }
        finished = true;
    });
    // A main-thread wait that serves requests does not deadlock against the worker.
    const bool done = dispatcher().WaitServing([&] { return finished.load(); }, std::chrono::seconds(10));
    worker.join();
    EXPECT_TRUE(done);
    EXPECT_TRUE(ranOnMain);
    EXPECT_TRUE(returned);
    EXPECT_EQ(caught, "boom");
}

TEST(MainThreadDispatcher, RunAndWaitOnMainRunsDirectly) {
    bool ran = false;
    dispatcher().RunAndWait([&] { ran = true; });
    EXPECT_TRUE(ran);
}

class SyncThread : public TMMDSPThread {
public:
    SyncThread() : TMMDSPThread("TestSync", nullptr) {}
    ~SyncThread() override {
        Terminate();
        WaitFor();
    }
    std::atomic<bool> ranOnMain{false};
    std::atomic<bool> waited{false};
    std::atomic<bool> sawItself{false};

protected:
    void DSPExecute() override {
        sawItself = Current() == this;
        bool flag = false;
        SynchronizeDSP([&] {
            ranOnMain = MainThreadDispatcher::Instance().IsMainThread();
            flag = true;
        });
        waited = flag; // SynchronizeDSP returned only after the task ran
    }
};

TEST(SynchronizeDSP, FromDSPThreadRunsOnMainAndWaits) {
    const int before = TMMDSPThread::RegisteredCount();
    {
        SyncThread t;
        EXPECT_EQ(TMMDSPThread::RegisteredCount(), before + 1);
        t.Resume();
        dispatcher().WaitServing([&] { return t.Finished(); }, std::chrono::seconds(10));
        t.WaitFor();
        EXPECT_TRUE(t.sawItself);
        EXPECT_TRUE(t.ranOnMain);
        EXPECT_TRUE(t.waited);
    }
    EXPECT_EQ(TMMDSPThread::RegisteredCount(), before);
}

TEST(SynchronizeDSP, FromMainThreadRunsDirectly) {
    bool ran = false;
    EXPECT_EQ(TMMDSPThread::Current(), nullptr);
    SynchronizeDSP([&] { ran = true; });
    EXPECT_TRUE(ran);
}

TEST(SynchronizeDSP, FromForeignThreadStillRunsOnMain) {
    std::atomic<bool> onMain{false};
    std::atomic<bool> finished{false};
    std::thread worker([&] {
        SynchronizeDSP([&] { onMain = dispatcher().IsMainThread(); });
        finished = true;
    });
    dispatcher().WaitServing([&] { return finished.load(); }, std::chrono::seconds(10));
    worker.join();
    EXPECT_TRUE(onMain);
}

class NamedThread : public TMMThreadEx {
public:
    NamedThread() : TMMThreadEx("TonalisNamedThreadLong") {}
    ~NamedThread() override { WaitFor(); }
    std::string seenName;

protected:
    void Execute() override {
        char name[32] = {};
        pthread_getname_np(pthread_self(), name, sizeof name);
        seenName = name;
    }
};

TEST(TMMThreadEx, StartsSuspendedAndCarriesItsName) {
    NamedThread t;
    t.SetPriority(tpLower);
    EXPECT_FALSE(t.Running());
    t.Resume();
    t.WaitFor();
    EXPECT_EQ(t.seenName, "TonalisNamedThr");
    EXPECT_EQ(t.Priority(), tpLower);
}

} // namespace

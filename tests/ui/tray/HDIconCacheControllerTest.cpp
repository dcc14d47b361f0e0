#include "HDIconCacheController.h"

#include <QCoreApplication>
#include <QThread>

#include <gtest/gtest.h>

#include "ScopedIconTheme.h"
#include "TestSupport.h"

TEST(HDIconCacheControllerTest, AnIconIsFetchedOnceAndHandedOverOnTheMainThread)
{
    const ScopedIconTheme theme;
    TemporaryDirectory folder;
    const URL url = URL::fileURLWithPath(folder.path());
    HDIconCacheController &cache = HDIconCacheController::shared();
    ASSERT_FALSE(cache.cachedIcon(url));

    int answers = 0;
    bool onMainThread = false;
    cache.icon(url, [&](const QIcon &) {
        ++answers;
        onMainThread = QThread::currentThread() == qApp->thread();
    });
    EXPECT_EQ(answers, 0) << "the fetch does not hold up the caller";
    ASSERT_TRUE(runEventLoopUntil([&answers] { return answers == 1; }));
    EXPECT_TRUE(onMainThread);
    ASSERT_TRUE(cache.cachedIcon(url));
    EXPECT_FALSE(cache.cachedIcon(url)->pixmap(32, 32).isNull());

    // Known now: answered at once.
    cache.icon(url, [&answers](const QIcon &) { ++answers; });
    EXPECT_EQ(answers, 2);
}

TEST(HDIconCacheControllerTest, AnItemWithoutAnIconIsNeverAnswered)
{
    TemporaryDirectory folder;
    const URL gone = URL::fileURLWithPath(folder.file("gone"));
    bool answered = false;
    HDIconCacheController::shared().icon(gone, [&answered](const QIcon &) { answered = true; });
    runEventLoopFor(std::chrono::milliseconds(200));
    EXPECT_FALSE(answered);
    EXPECT_FALSE(HDIconCacheController::shared().cachedIcon(gone));
}

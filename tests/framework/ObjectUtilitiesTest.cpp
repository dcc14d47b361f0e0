#include <gtest/gtest.h>

#include <memory>

#include "GlobalOwner.h"
#include "TestSupport.h"
#include "WeakObject.h"

namespace
{
class Listener
{
public:
    virtual ~Listener() = default;
};

class Window : public Object, public Listener
{
public:
    explicit Window(bool *destroyed)
        : m_destroyed(destroyed)
    {
    }
    ~Window() override { *m_destroyed = true; }

    // Takes itself off the keep-alive list and keeps working afterwards.
    int close()
    {
        GlobalOwner::remove(this);
        return ++m_closeCount;
    }

private:
    bool *m_destroyed;
    int m_closeCount = 0;
};

class Other : public Object
{
};
}

TEST(WeakObject, HoldsWeaklyAndOnlyAsTheAskedClass)
{
    bool destroyed = false;
    auto window = std::make_shared<Window>(&destroyed);
    const WeakObject<Window> box(window);
    EXPECT_EQ(box.object(), window);
    ASSERT_NE(WeakObject<Listener>(window).object(), nullptr) << "an interface beside Object";

    auto other = std::make_shared<Other>();
    EXPECT_EQ(WeakObject<Window>(other).object(), nullptr) << "another class is null while alive";

    window.reset();
    EXPECT_TRUE(destroyed);
    EXPECT_EQ(box.object(), nullptr);
}

TEST(GlobalOwner, TwoAddsOneRemoveLeavesOne)
{
    const std::size_t before = GlobalOwner::count();
    bool destroyed = false;
    auto window = std::make_shared<Window>(&destroyed);
    const Window *raw = window.get();
    GlobalOwner::add(window);
    GlobalOwner::add(window);
    window.reset();

    Other stranger;
    GlobalOwner::remove(&stranger);
    EXPECT_EQ(GlobalOwner::count(), before + 2) << "an object never added removes nothing";
    GlobalOwner::remove(raw);
    EXPECT_EQ(GlobalOwner::count(), before + 1);
    runEventLoopFor(std::chrono::milliseconds(50));
    EXPECT_FALSE(destroyed);

    // Seen through another base, it is still the same object.
    GlobalOwner::remove(static_cast<const Listener *>(raw));
    EXPECT_EQ(GlobalOwner::count(), before);
    EXPECT_TRUE(runEventLoopUntil([&] { return destroyed; }));
}

TEST(GlobalOwner, ReleaseWaitsForALaterMainLoopTurn)
{
    bool destroyed = false;
    auto window = std::make_shared<Window>(&destroyed);
    Window *raw = window.get();
    GlobalOwner::add(window);
    window.reset();

    EXPECT_EQ(raw->close(), 1);
    EXPECT_FALSE(destroyed) << "the object outlives its own call";
    EXPECT_TRUE(runEventLoopUntil([&] { return destroyed; }));
}

#include "ModifierKeySampler.h"
#include "ModifierKeys.h"
#include "TestSupport.h"

#include <QTest>
#include <QWidget>
#include <gtest/gtest.h>
#include <thread>

namespace
{
bool optionDownOnAnotherThread()
{
    bool down = false;
    std::thread reader([&down] { down = IsOptionKeyDown(); });
    reader.join();
    return down;
}

std::uint64_t flagsOnAnotherThread()
{
    std::uint64_t flags = 0;
    std::thread reader([&flags] { flags = ModifierKeys::currentFlags(); });
    reader.join();
    return flags;
}

class ModifierKeysTest : public testing::Test
{
protected:
    void SetUp() override
    {
        ModifierKeySampler::install();
        window.resize(100, 100);
        window.show();
    }

    void TearDown() override
    {
        QTest::keyRelease(&window, Qt::Key_Alt);
        QTest::keyRelease(&window, Qt::Key_Shift);
        ModifierKeys::setFlagsForTesting(std::nullopt);
    }

    QWidget window;
};

TEST_F(ModifierKeysTest, OptionHeldIsSeenOnEveryThreadUntilReleased)
{
    QTest::keyPress(&window, Qt::Key_Alt);
    EXPECT_TRUE(IsOptionKeyDown());
    EXPECT_TRUE(optionDownOnAnotherThread());

    QTest::keyRelease(&window, Qt::Key_Alt, Qt::AltModifier);
    EXPECT_FALSE(IsOptionKeyDown());
    EXPECT_FALSE(optionDownOnAnotherThread());
}

TEST_F(ModifierKeysTest, ShiftIsItsOwnFlagAndMouseEventsCarryTheKeys)
{
    QTest::keyPress(&window, Qt::Key_Shift);
    EXPECT_EQ(flagsOnAnotherThread(), ModifierKeys::shiftKeyMask);
    EXPECT_FALSE(IsOptionKeyDown());

    QTest::mouseClick(&window, Qt::LeftButton, Qt::AltModifier | Qt::ShiftModifier, QPoint(10, 10));
    EXPECT_EQ(flagsOnAnotherThread(), ModifierKeys::shiftKeyMask | ModifierKeys::optionKeyMask);
    QTest::mouseClick(&window, Qt::LeftButton, Qt::NoModifier, QPoint(10, 10));
    EXPECT_EQ(flagsOnAnotherThread(), 0u);
}

TEST_F(ModifierKeysTest, OtherKeysKeepTheModifiersTheyCarry)
{
    QTest::keyPress(&window, Qt::Key_A, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(flagsOnAnotherThread(), ModifierKeys::optionKeyMask | ModifierKeys::controlKeyMask);
    QTest::keyRelease(&window, Qt::Key_A, Qt::AltModifier | Qt::ControlModifier);
    EXPECT_EQ(flagsOnAnotherThread(), 0u);
}

TEST_F(ModifierKeysTest, TestsCanScriptTheKeys)
{
    ModifierKeys::setFlagsForTesting(ModifierKeys::optionKeyMask);
    EXPECT_TRUE(IsOptionKeyDown());
    EXPECT_TRUE(optionDownOnAnotherThread());
    QTest::keyRelease(&window, Qt::Key_Alt);
    EXPECT_TRUE(IsOptionKeyDown()) << "a scripted state holds whatever the keyboard does";

    ModifierKeys::setFlagsForTesting(std::nullopt);
    EXPECT_FALSE(IsOptionKeyDown());
}
}

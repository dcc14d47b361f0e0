#include <gtest/gtest.h>

#include "ApplicationInfo.h"
#include "Bundle.h"

namespace
{
// Gives the main bundle a chosen Info dictionary for one test.
class ApplicationInfoTest : public testing::Test
{
protected:
    void TearDown() override { Bundle::main().setInfoDictionaryForTesting(m_info); }

private:
    Dictionary m_info = Bundle::main().infoDictionary();
};
}

TEST_F(ApplicationInfoTest, BundleVersionIsTheWholeDecimalNumber)
{
    EXPECT_GT(Application::bundleVersion(), 0) << "the build's own version is a whole number";
    const std::vector<std::pair<Value, std::int64_t>> cases{
        {Value("100"), 100}, {Value("-3"), -3},   {Value("12abc"), 0}, {Value("1.2"), 0},
        {Value(" 12"), 0},   {Value(""), 0},      {Value("99999999999999999999"), 0}, {Value(100), 0},
    };
    for (const auto &[stored, expected] : cases) {
        Bundle::main().setInfoDictionaryForTesting({{"CFBundleVersion", stored}});
        EXPECT_EQ(Application::bundleVersion(), expected) << (stored.asString() ? *stored.asString() : "an integer");
    }
}

TEST_F(ApplicationInfoTest, MissingKeysGiveZeroAndEmptyTexts)
{
    Bundle::main().setInfoDictionaryForTesting({{"NSHumanReadableCopyright", Value("© Someone")}});
    EXPECT_EQ(Application::bundleVersion(), 0);
    EXPECT_EQ(Application::bundleVersionShort(), "");
    EXPECT_EQ(Application::bundleCopyright(), "© Someone");
}

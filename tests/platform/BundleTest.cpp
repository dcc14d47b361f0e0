#include <gtest/gtest.h>

#include <climits>
#include <cstdlib>

#include "Bundle.h"
#include "BundleInfo.h"
#include "TestSupport.h"

namespace
{
// Restores the main bundle's resources folder and Info dictionary after each test.
class BundleTest : public testing::Test
{
protected:
    void TearDown() override
    {
        Bundle::main().setResourcesPathForTesting(m_resourcesPath);
        Bundle::main().setInfoDictionaryForTesting(m_info);
    }

private:
    std::string m_resourcesPath = Bundle::main().resourcesPath();
    Dictionary m_info = Bundle::main().infoDictionary();
};
}

TEST_F(BundleTest, IdentifierIsAbsentOnlyWhenClearedOrNoString)
{
    EXPECT_EQ(Bundle::main().bundleIdentifier(), TARNWICK_BUNDLE_IDENTIFIER);
    Bundle::main().setInfoDictionaryForTesting({{"CFBundleIdentifier", Value(7)}});
    EXPECT_EQ(Bundle::main().bundleIdentifier(), std::nullopt);
}

TEST_F(BundleTest, ResourcesLieBesideTheExecutablesFolder)
{
    // The test program sits in the build tree's bin/, beside share/tarnwick as when installed;
    // the path comes back resolved, without "..".
    char resolved[PATH_MAX];
    ASSERT_NE(realpath(TARNWICK_RESOURCES_BUILD_DIR, resolved), nullptr);
    EXPECT_EQ(Bundle::main().resourcesPath(), resolved);
}

TEST_F(BundleTest, PathForResourceFindsOnlyExistingFiles)
{
    TemporaryDirectory resources;
    writeFile(resources.file("Defaults.plist"), "<plist/>");
    writeFile(resources.file("Help"), "help");
    Bundle::main().setResourcesPathForTesting(resources.path());

    EXPECT_EQ(Bundle::main().pathForResource("Defaults", "plist"), resources.file("Defaults.plist"));
    EXPECT_EQ(Bundle::main().pathForResource("Help", ""), resources.file("Help"));
    EXPECT_EQ(Bundle::main().pathForResource("defaults", "plist"), std::nullopt) << "names are case-sensitive";
    EXPECT_EQ(Bundle::main().pathForResource("Defaults", ""), std::nullopt);
}

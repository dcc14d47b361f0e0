#include "Bundle.h"
#include "PreferencesSupport.h"
#include "ResourcesSupport.h"
#include "StoreTestEnvironment.h"
#include "TarnwickStore.h"
#include "UserDefaults.h"
#include "XFSDetailsFlagItem.h"

#include <gtest/gtest.h>

namespace
{
class TarnwickStoreTest : public ::testing::Test
{
protected:
    void TearDown() override { Bundle::main().setResourcesPathForTesting(m_resources); }

    UserDefaults &defaults() { return UserDefaults::standardUserDefaults(); }

    StoreTestEnvironment m_environment;
    const std::string m_resources = Bundle::main().resourcesPath();
};
}

TEST_F(TarnwickStoreTest, DetailedLoggingExpiresTwelveHoursAfterItFirstFired)
{
    const TarnwickStore &store = TarnwickStore::sharedInstance();
    EXPECT_FALSE(store.detailedLoggingEnabled());
    defaults().setObject(Value(true), "detailedLogging");
    EXPECT_TRUE(store.detailedLoggingEnabled());

    const Date firstFired{1'700'000'000};
    defaults().setObject(Value(firstFired), "detailedLoggingFirstFired");
    EXPECT_TRUE(store.detailedLoggingEnabled(Date{firstFired.secondsSince1970 + 43200}));
    EXPECT_FALSE(store.detailedLoggingEnabled(Date{firstFired.secondsSince1970 + 43201}));
    EXPECT_FALSE(defaults().boolForKey("detailedLogging"));
    EXPECT_FALSE(m_environment.defaultsOnDisk().contains("detailedLoggingFirstFired"));
}

TEST_F(TarnwickStoreTest, PreferencesVersionAndChangeNotifications)
{
    EXPECT_FALSE(TarnwickStore::generalPreferences());
    TarnwickStore::updateGeneralPreferences(Dictionary{{"a", Value(1)}});
    EXPECT_EQ(m_environment.defaultsOnDisk().at("preferences"), Value(Dictionary{{"a", Value(1)}}));

    defaults().setObject(Value(1), "currentDetailsVersion");
    TarnwickStore &store = TarnwickStore::sharedInstance();
    store.checkDetailsVersion();
    EXPECT_EQ(defaults().integerForKey("currentDetailsVersion"), 2);

    auto changes = std::make_shared<std::vector<std::optional<std::string>>>();
    auto detailChanges = std::make_shared<int>(0);
    store.listenForChanges([changes](const Notification &notification) {
        const auto object = notification.userInfo.find(TarnwickStore::changedObjectKey);
        changes->push_back(object == notification.userInfo.end() ? std::nullopt
                                                                 : std::optional(*object->second.asString()));
    });
    store.listenForDetailsChanges([detailChanges](const Notification &) { ++*detailChanges; });
    store.broadcastChanges("key)");
    store.broadcastChanges(std::nullopt);
    NotificationCenter::defaultCenter().post(TarnwickStore::detailsDidChangeNotification);
    EXPECT_EQ(*changes, (std::vector<std::optional<std::string>>{"key)", std::nullopt}));
    EXPECT_EQ(*detailChanges, 1);
}

TEST_F(TarnwickStoreTest, BundleDefaultsAreRegisteredInMemoryOnly)
{
    UserDefaults &standard = PreferencesSupport::standardUserDefaults();
    EXPECT_TRUE(standard.boolForKey("logDeletions") && standard.boolForKey("statusItemVisible")
                && standard.boolForKey("scheduledCleaningAutoCloseWindow"));
    EXPECT_FALSE(standard.boolForKey("simulation") || standard.boolForKey("scheduledCleaningEnabled"));
    EXPECT_TRUE(standard.objectForKey("scheduleDay"));
    standard.setObject(Value(true), "simulation");
    EXPECT_TRUE(m_environment.defaultsOnDisk().contains("simulation"));
    EXPECT_FALSE(m_environment.defaultsOnDisk().contains("logDeletions"));
}

TEST_F(TarnwickStoreTest, ResourcesByFullNameAndMissingResources)
{
    EXPECT_TRUE(ResourcesSupport::dictionaryWithName("Defaults.plist")->contains("logDeletions"));
    EXPECT_EQ(ResourcesSupport::dictionaryWithName("no such resource"), Dictionary());

    TemporaryDirectory resources;
    Bundle::main().setResourcesPathForTesting(resources.path());
    writeFile(resources.file("list.plist"), "<?xml version=\"1.0\"?><plist version=\"1.0\"><array/></plist>");
    writeFile(resources.file("garbage.plist"), "not a property list");
    EXPECT_FALSE(ResourcesSupport::dictionaryWithName("list.plist"));
    EXPECT_FALSE(ResourcesSupport::dictionaryWithName("garbage.plist"));

    UserDefaults isolated(m_environment.homeFile("isolated.plist"));
    EXPECT_FALSE(PreferencesSupport::registerBundleDefaults(isolated));
    EXPECT_FALSE(isolated.objectForKey("logDeletions"));
    EXPECT_TRUE(XFSDetailsFlagItem::defaultsFlags().empty());
    writeFile(
        resources.file("defaults.plist"),
        "<?xml version=\"1.0\"?><plist version=\"1.0\"><dict><key>detailsItems</key><string>x</string></dict></plist>");
    EXPECT_TRUE(XFSDetailsFlagItem::defaultsFlags().empty());
}

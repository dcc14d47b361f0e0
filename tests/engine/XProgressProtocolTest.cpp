#include <gtest/gtest.h>

#include "../store/LogCapture.h"
#include "../store/StoreTestEnvironment.h"
#include "Error.h"
#include "RecordingProgress.h"
#include "UserDefaults.h"
#include "XProgressNull.h"

namespace
{
// The running system as scripted, except that the start-up disk carries a label.
class LabelledStartupDisk : public VolumeFactsSource
{
public:
    explicit LabelledStartupDisk(std::shared_ptr<const VolumeFactsSource> system) : m_system(std::move(system)) {}

    std::optional<VolumeFacts> factsForPath(const std::string &path) const override
    {
        std::optional<VolumeFacts> facts = m_system->factsForPath(path);
        if (facts && facts->mountPoint == "/")
            facts->name = "Debian";
        return facts;
    }
    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override
    {
        return m_system->probeNativeExtendedAttributes(mountPoint);
    }
    VolumeLocation locate(const std::string &path) const override { return m_system->locate(path); }

private:
    std::shared_ptr<const VolumeFactsSource> m_system;
};

class DeletionMessages : public testing::Test
{
protected:
    void SetUp() override { m_environment.source().setMissing("/Volumes/Stick"); }

    std::string messageFor(const std::string &path, const std::optional<Error> &error = std::nullopt)
    {
        RecordingProgress progress;
        progress.deletionMessageForURL(URL::fileURLWithPath(path), error);
        return progress.lines().empty() ? std::string("(none)") : progress.lines().back();
    }

    StoreTestEnvironment m_environment;
};
}

TEST_F(DeletionMessages, NameTheFolderAndTheVolume)
{
    EXPECT_EQ(messageFor("/Volumes/Stick/.DS_Store"), "Deleted .DS_Store on Stick");
    EXPECT_EQ(messageFor("/Volumes/Stick/Photos/._a.jpg"), "Deleted ._a.jpg in Photos on Stick");
    // A folder named like its volume reads as the volume's top.
    EXPECT_EQ(messageFor("/Volumes/Stick/Stick/x"), "Deleted x on Stick");
    EXPECT_EQ(messageFor("/Volumes/Stick/Icon\r"), "Deleted Icon on Stick");
    EXPECT_EQ(messageFor("/Volumes/Stick/Fo\nlder/x"), "Deleted x in Folder on Stick");
    // A mounted disk in a volumes folder is placed by its mount.
    EXPECT_EQ(messageFor(m_environment.volume("STICK") + "/Docs/Deep/.DS_Store"), "Deleted .DS_Store in Deep on STICK");
    EXPECT_EQ(messageFor(m_environment.volume("STICK") + "/.apdisk"), "Deleted .apdisk on STICK");
}

TEST_F(DeletionMessages, FailuresNameTheFolderBelowTheVolumesFolder)
{
    const Error denied = Error::posix(EACCES);
    EXPECT_EQ(messageFor("/Volumes/Stick/Photos/._a.jpg", denied),
              denied.localizedDescription() + " when deleting ._a.jpg in Stick/Photos");
    EXPECT_EQ(messageFor("/Volumes/Stick/Photos/Icon\r", denied),
              denied.localizedDescription() + " when deleting Icon in Stick/Photos");
    EXPECT_EQ(messageFor("/srv/data/x\ny", denied), denied.localizedDescription() + " when deleting x\ny in /srv/data");
}

TEST_F(DeletionMessages, TheStartUpDiskIsNamedByItsLabelElseSlash)
{
    EXPECT_EQ(messageFor("/home/me/.DS_Store"), "Deleted .DS_Store in me on /");
    EXPECT_EQ(messageFor("/.DS_Store"), "Deleted .DS_Store on /");

    const std::shared_ptr<const VolumeFactsSource> scripted = VolumeFactsSource::current();
    VolumeFactsSource::setCurrentForTesting(std::make_shared<LabelledStartupDisk>(scripted));
    EXPECT_EQ(messageFor("/home/me/.DS_Store"), "Deleted .DS_Store in me on Debian");
    EXPECT_EQ(messageFor("/.DS_Store"), "Deleted .DS_Store on Debian");
    EXPECT_EQ(messageFor("/Volumes/Stick/.DS_Store"), "Deleted .DS_Store on Stick");
    VolumeFactsSource::setCurrentForTesting(scripted);
}

TEST_F(DeletionMessages, ContentMessagesIgnoreTheError)
{
    RecordingProgress progress;
    const URL companion = URL::fileURLWithPath("/Volumes/Stick/._a.jpg");
    progress.deletionMessageForContent("com.apple.quarantine", companion, std::nullopt);
    progress.deletionMessageForContent("com.apple.FinderInfo", companion, Error::posix(EPERM));
    EXPECT_EQ(progress.lines(), (std::vector<std::string>{"Deleted com.apple.quarantine in ._a.jpg",
                                                          "Deleted com.apple.FinderInfo in ._a.jpg"}));
}

TEST_F(DeletionMessages, SilentProgressLogsDeletionsOnlyWhileLogDeletionsIsOn)
{
    XProgressNull silent;
    EXPECT_FALSE(silent.userHasCanceled());
    EXPECT_TRUE(silent.deallocAfterCleaningFinished());

    UserDefaults::standardUserDefaults().setObject(Value(false), "logDeletions");
    LogCapture quiet;
    silent.deletionMessageForURL(URL::fileURLWithPath("/Volumes/Stick/.DS_Store"), std::nullopt);
    silent.logMsg("a line");
    EXPECT_TRUE(quiet.lines().empty());

    UserDefaults::standardUserDefaults().setObject(Value(true), "logDeletions");
    LogCapture log;
    silent.deletionMessageForURL(URL::fileURLWithPath("/Volumes/Stick/.DS_Store"), std::nullopt);
    silent.deletionMessageForContent("com.apple.quarantine", URL::fileURLWithPath("/Volumes/Stick/._a"), std::nullopt);
    silent.logMsg("a line");
    EXPECT_EQ(log.lines(), (std::vector<std::string>{"Deleted .DS_Store on Stick", "Deleted com.apple.quarantine in ._a",
                                                     "a line"}));
}

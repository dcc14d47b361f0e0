#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <filesystem>
#include <sys/xattr.h>

#include "AppleDoubleTestData.h"
#include "ExtendedAttributes.h"
#include "MetadataRemoverFixture.h"
#include "ScopedMount.h"
#include "TestSupport.h"
#include "UserDefaults.h"

namespace fs = std::filesystem;

namespace
{
using Result = XMetadataRemover::CanRemoveAppleDoubleFileResult;

const std::string quarantine = "com.apple.quarantine";
const std::string tags = "com.apple.metadata:_kMDItemUserTags";
const std::string finderInfoName = "com.apple.FinderInfo";
const std::string lastUsed = "com.apple.lastuseddate#PS";
constexpr std::uint16_t aliasFlag = 0x8000;
constexpr std::uint16_t purpleLabel = 6 << 1;

struct Flags
{
    bool volumeAttrs = false;
    bool securityData = false;
    bool tags = false;
    bool aliasData = false;
    bool colorLabels = false;
    bool customIcons = false;
};

// The 32 bytes of Finder info of a text file with the given Finder flags.
std::string finderInfo(const std::string &type, std::uint16_t flags)
{
    const AppleDoubleTestData::FinderInfoBytes bytes = AppleDoubleTestData::finderInfo(type, "ttxt", flags);
    return std::string(bytes.begin(), bytes.end());
}

std::vector<std::string> sorted(std::vector<std::string> names)
{
    std::sort(names.begin(), names.end());
    return names;
}

class AppleDoubleFixture : public MetadataRemoverFixture
{
protected:
    Result removeAppleDoubles(const Flags &flags)
    {
        return m_remover.removeAppleDoubleFiles(url(""), flags.volumeAttrs, flags.securityData, flags.tags,
                                                flags.aliasData, flags.colorLabels, flags.customIcons);
    }
    // A data file with native attributes and its "._" companion (whose bytes do not matter here).
    std::string dataFile(const std::string &name, const std::vector<std::pair<std::string, std::string>> &attributes)
    {
        const std::string data = file(name);
        for (const auto &[attribute, value] : attributes)
            setAttribute(data, "user." + attribute, value);
        file("._" + name, "companion of " + name);
        return data;
    }
};

class NativeAppleDouble : public AppleDoubleFixture
{
protected:
    void SetUp() override
    {
        if (!keepsUserAttributes(m_folder))
            GTEST_SKIP() << "the temporary folder's file system keeps no user attributes";
    }
};

// On a ramfs (no attributes at all) the attribute layer keeps them in the companions (root only).
class CompanionAppleDouble : public AppleDoubleFixture
{
protected:
    void SetUp() override
    {
        if (!isRoot())
            GTEST_SKIP() << "mounting a ramfs needs root";
        m_mount = std::make_unique<ScopedMount>("ramfs", m_folder);
        ASSERT_TRUE(m_mount->isMounted()) << m_mount->failure();
        // The remover's tree is the folder as it is now, the ramfs.
        m_remover.setTree(ConfinedTree::openResolved(m_folder));
    }
    void TearDown() override { m_mount.reset(); }

    // A companion as a Mac writes it on a FAT disk, here with an empty resource fork.
    void companionFile(const std::string &name, const std::string &finder,
                       const std::vector<AppleDoubleTestData::Attribute> &attributes, bool withData = true)
    {
        if (withData)
            file(name);
        AppleDoubleTestData::FinderInfoBytes finderBytes {};
        std::copy_n(finder.begin(), finderBytes.size(), finderBytes.begin());
        file("._" + name, AppleDoubleTestData::companion(finderBytes, attributes, ""));
    }

    std::unique_ptr<ScopedMount> m_mount;
};
}

TEST_F(NativeAppleDouble, WithEveryKeepFlagOffCompanionsGoWholeAndAttributesAreNotTouched)
{
    const std::string data = dataFile("a.txt", {{quarantine, "0083;"}});
    dataFile("b.fpbf", {});
    file("._gone", "orphan");
    file("._.", "the folder's own");
    file("._", "names no file");
    file("._..", "would name the parent");
    file("plain.txt");

    EXPECT_EQ(removeAppleDoubles({}), Result::keep);
    for (const char *gone : {"._a.txt", "._gone", "._."})
        EXPECT_FALSE(fileExists(path(gone))) << gone;
    for (const char *kept : {"._b.fpbf", "._", "._..", "plain.txt", "a.txt"})
        EXPECT_TRUE(fileExists(path(kept))) << kept;
    EXPECT_EQ(attributeNamesOf(data), std::vector<std::string>{"user." + quarantine});
    EXPECT_EQ(progress().deleted(), 3);
    EXPECT_EQ(progress().foldersShown(), std::vector<std::string>{m_folder});
    EXPECT_TRUE(statisticsReach(3));

    file("._.", "the folder's own");
    Flags volumeAttrs;
    volumeAttrs.volumeAttrs = true;
    removeAppleDoubles(volumeAttrs);
    EXPECT_TRUE(fileExists(path("._.")));
}

TEST_F(NativeAppleDouble, KeptAttributesStayAndTheRestIsStripped)
{
    const std::string tagged = dataFile("a.txt", {{quarantine, "0083;"}, {tags, "bplist"}, {finderInfoName, finderInfo("TEXT", 0)},
                                                  {lastUsed, "date"}, {"xdg.origin.url", "https://x"}});
    dataFile("bare.txt", {});
    const std::string guarded = dataFile("q.txt", {{quarantine, "0083;"}});

    Flags keep;
    keep.tags = true;
    keep.securityData = true;
    EXPECT_EQ(removeAppleDoubles(keep), Result::keep);
    EXPECT_EQ(attributeNamesOf(tagged),
              sorted({"user." + finderInfoName, "user." + quarantine, "user." + tags, "user.xdg.origin.url"}));
    EXPECT_TRUE(fileExists(path("._a.txt")));
    EXPECT_FALSE(fileExists(path("._bare.txt"))) << "nothing to keep, so the companion goes";
    EXPECT_TRUE(fileExists(path("._q.txt"))) << "everything it has is kept";
    EXPECT_EQ(attributeNamesOf(guarded), std::vector<std::string>{"user." + quarantine});
    const std::vector<std::string> all = lines();
    EXPECT_EQ(std::count(all.begin(), all.end(), "Deleted " + lastUsed + " in ._a.txt"), 1);
    EXPECT_EQ(std::count(all.begin(), all.end(), "Deleted ._bare.txt in Docs on STICK"), 1);
    EXPECT_EQ(all.size(), 2u);
    EXPECT_EQ(progress().deleted(), 1);
    EXPECT_TRUE(statisticsReach(2));
}

TEST_F(NativeAppleDouble, NothingStrippedWithoutACompanionIsNoDeletion)
{
    const std::string solo = file("solo.txt");
    setAttribute(solo, "user." + quarantine, "0083;");
    EXPECT_EQ(m_remover.stripUnwantedAttrs(url("solo.txt"), false, true, false, false),
              XMetadataRemover::StripUnwantedAttrsResult::keep);
    EXPECT_EQ(progress().deleted(), 0);
    EXPECT_TRUE(lines().empty());
}

TEST_F(NativeAppleDouble, NeverDeleteListsProtectByExtensionSubstringAndByType)
{
    UserDefaults::standardUserDefaults().setObject(Value("pdf jpg"), "neverDeleteFileExtensions");
    UserDefaults::standardUserDefaults().setObject(Value("8BPS 'TEXT'"), "neverDeleteMacOSTypes");
    dataFile("a.pdf", {});
    dataFile("a.pd", {});
    dataFile("README", {});
    dataFile(".jpg", {});
    dataFile("t.bin", {{finderInfoName, finderInfo("TEXT", 0)}});
    dataFile("u.bin", {{finderInfoName, finderInfo(std::string(4, '\0'), aliasFlag)}});

    EXPECT_EQ(removeAppleDoubles({}), Result::keep);
    for (const char *kept : {"._a.pdf", "._a.pd", "._t.bin"})
        EXPECT_TRUE(fileExists(path(kept))) << kept;
    for (const char *gone : {"._README", "._.jpg", "._u.bin"})
        EXPECT_FALSE(fileExists(path(gone))) << gone << ": an empty extension or type protects nothing";
}

TEST_F(NativeAppleDouble, AliasesAndLabelledFilesKeepTheirFinderInfo)
{
    const std::string alias = dataFile("alias", {{finderInfoName, finderInfo("fdrp", aliasFlag)}, {quarantine, "q"}});
    const std::string label = dataFile("label", {{finderInfoName, finderInfo("TEXT", purpleLabel)}, {quarantine, "q"}});
    const std::string plain = dataFile("plain", {{finderInfoName, finderInfo("TEXT", 0)}, {quarantine, "q"}});
    file("._orphan", "no data file");

    Flags keep;
    keep.aliasData = true;
    keep.colorLabels = true;
    EXPECT_EQ(removeAppleDoubles(keep), Result::keep);
    EXPECT_EQ(attributeNamesOf(alias), std::vector<std::string>{"user." + finderInfoName});
    EXPECT_EQ(attributeNamesOf(label), std::vector<std::string>{"user." + finderInfoName});
    EXPECT_TRUE(fileExists(path("._alias")));
    EXPECT_TRUE(fileExists(path("._label")));
    // Neither alias nor label: nothing to keep, the companion goes whole and the file is not touched.
    EXPECT_FALSE(fileExists(path("._plain")));
    EXPECT_EQ(attributeNamesOf(plain).size(), 2u);
    EXPECT_FALSE(fileExists(path("._orphan"))) << "a label or alias flag that cannot be read is none";
}

TEST_F(NativeAppleDouble, ACancelStillDeletesTheCompanionsAlreadyJudged)
{
    for (const char *name : {"._a", "._b", "._c"})
        file(name);
    progress().cancelFromCall(2);
    removeAppleDoubles({});
    int left = 0;
    for (const char *name : {"._a", "._b", "._c"})
        left += fileExists(path(name)) ? 1 : 0;
    EXPECT_EQ(left, 2);
    EXPECT_EQ(progress().deleted(), 1);
}

TEST_F(NativeAppleDouble, SimulationLeavesEveryByteAndAttributeInPlace)
{
    dataFile("a.txt", {{quarantine, "0083;"}, {tags, "bplist"}});
    dataFile("b.txt", {{quarantine, "0083;"}});
    file("._orphan", "orphan");
    useSimulation();
    const auto before = snapshot(m_folder);

    Flags keep;
    keep.tags = true;
    EXPECT_EQ(removeAppleDoubles(keep), Result::keep);
    EXPECT_EQ(removeAppleDoubles({}), Result::remove);
    EXPECT_EQ(snapshot(m_folder), before);

    const std::vector<std::string> all = lines();
    EXPECT_EQ(std::count(all.begin(), all.end(), "Deleted " + quarantine + " in ._a.txt"), 1) << "what would be stripped";
    EXPECT_EQ(std::count(all.begin(), all.end(), "Deleted ._b.txt in Docs on STICK"), 2)
        << "emptied by the strip, then deleted whole";
    EXPECT_EQ(std::count(all.begin(), all.end(), "Deleted ._orphan in Docs on STICK"), 1);
    EXPECT_EQ(progress().deleted(), 4);
}

TEST_F(NativeAppleDouble, AnAccessControlListSurvivesTheStrip)
{
    const std::string data = dataFile("a.txt", {{quarantine, "0083;"}, {tags, "bplist"}});
    if (std::system(("setfacl -m u:nobody:r '" + data + "' 2>/dev/null").c_str()) != 0)
        GTEST_SKIP() << "setfacl could not set an access control list here";
    ASSERT_GT(lgetxattr(data.c_str(), "system.posix_acl_access", nullptr, 0), 0);

    Flags keep;
    keep.tags = true;
    removeAppleDoubles(keep);
    EXPECT_EQ(attributeNamesOf(data), sorted({"system.posix_acl_access", "user." + tags}));
}

TEST_F(CompanionAppleDouble, KeptTagsSurviveInARewrittenCompanion)
{
    companionFile("Report.txt", finderInfo("TEXT", 0), {{quarantine, "0083;"}, {tags, "bplist"}});
    companionFile("Orphan.txt", finderInfo("TEXT", 0), {{tags, "bplist"}}, false);
    Flags keep;
    keep.tags = true;
    EXPECT_EQ(removeAppleDoubles(keep), Result::keep);
    EXPECT_EQ(ExtendedAttributes::list(path("Report.txt")), (std::vector<std::string>{finderInfoName, tags}));
    EXPECT_TRUE(fileExists(path("._Orphan.txt")));
    EXPECT_EQ(lines(), std::vector<std::string>{"Deleted " + quarantine + " in ._Report.txt"});

    // Without the tags option, only the colour label read from the companion keeps the Finder info.
    companionFile("Label.txt", finderInfo("TEXT", purpleLabel), {{quarantine, "0083;"}});
    Flags labels;
    labels.colorLabels = true;
    removeAppleDoubles(labels);
    EXPECT_EQ(ExtendedAttributes::list(path("Label.txt")), std::vector<std::string>{finderInfoName});
    EXPECT_FALSE(fileExists(path("._Report.txt"))) << "no label: deleted whole";
    EXPECT_FALSE(fileExists(path("._Orphan.txt"))) << "a missing file's label cannot be read and counts as none";
    EXPECT_EQ(progress().deleted(), 2);
}

TEST_F(CompanionAppleDouble, ACompanionEmptiedByTheStripIsCountedOnce)
{
    companionFile("Report.txt", std::string(32, '\0'), {{quarantine, "0083;"}, {lastUsed, "date"}});
    Flags keep;
    keep.tags = true;
    EXPECT_EQ(removeAppleDoubles(keep), Result::remove);
    EXPECT_FALSE(fileExists(path("._Report.txt")));
    EXPECT_TRUE(fileExists(path("Report.txt")));
    EXPECT_EQ(lines(), std::vector<std::string>{"Deleted ._Report.txt in Docs on STICK"});
    EXPECT_EQ(progress().deleted(), 1);
    EXPECT_TRUE(statisticsReach(1));
}

TEST_F(CompanionAppleDouble, SimulationLeavesEveryCompanionByteInPlace)
{
    companionFile("Report.txt", finderInfo("TEXT", purpleLabel), {{quarantine, "0083;"}, {tags, "bplist"}});
    companionFile("Other.txt", finderInfo("TEXT", 0), {{quarantine, "0083;"}});
    useSimulation();
    const auto before = snapshot(m_folder);
    Flags keep;
    keep.tags = true;
    removeAppleDoubles(keep);
    removeAppleDoubles({});
    EXPECT_EQ(snapshot(m_folder), before);
    EXPECT_GT(progress().deleted(), 0);
}

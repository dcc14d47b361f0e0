#include "StoreTestEnvironment.h"

#include <cstdlib>
#include <filesystem>
#include <pwd.h>
#include <unistd.h>

#include "GCDAdditions.h"
#include "PreferencesSupport.h"
#include "PropertyList.h"
#include "UserDefaults.h"
#include "VolumesFolders.h"
#include "XTWStore.h"

namespace
{
void replaceAll(std::string &text, const std::string &from, const std::string &to)
{
    for (std::size_t at = text.find(from); at != std::string::npos; at = text.find(from, at + to.size()))
        text.replace(at, from.size(), to);
}

void pointStandardDefaultsAt(const std::string &file)
{
    UserDefaults &defaults = UserDefaults::standardUserDefaults();
    defaults.setFilePathForTesting(file);
    PreferencesSupport::registerBundleDefaults(defaults);
}
}

StoreTestEnvironment::StoreTestEnvironment()
    : m_volumesFolder(m_home.file("volumes")), m_defaultsFile(m_home.file("org.tarnwick.Tarnwick.plist"))
{
    if (const char *cacheHome = std::getenv("XDG_CACHE_HOME"))
        m_formerCacheHome = cacheHome;
    setenv("XDG_CACHE_HOME", m_home.file("cache").c_str(), 1);

    // The process's one registration of the bundle defaults happens before the switch.
    PreferencesSupport::standardUserDefaults();
    pointStandardDefaultsAt(m_defaultsFile);

    for (const char *name : {"STICK", "MacDisk", "Share", "ROStick", "NTFS", "ExpanDrive", "EFI"})
        std::filesystem::create_directories(volume(name));
    VolumesFolders::registerFolderForTesting(m_volumesFolder);

    m_source = std::make_shared<ScriptedVolumeFactsSource>(fixtureText("mountinfo.txt"));
    const std::string media = "/media/" + userName() + "/";
    m_source->setStatfs("/", {4096, 250000});
    m_source->setProbeAnswer("/", true);
    m_source->setStatfs(media + "USB Stick", {4096, 1000});
    m_source->setStatfs(media + "Windows", {4096, 3000});
    m_source->setStatfs("/mnt/sshfs", {4096, 5000});
    m_source->setStatfs("/mnt/nas", {1024, 6000});
    m_source->setStatfs("/Volumes/Dropbox", {4096, 7000});
    m_source->setStatfs(media + "DVD", {2048, 8000, true});
    m_source->setStatfs("/Volumes/Data", {4096, 9000});
    m_source->setProbeAnswer("/Volumes/Data", true);
    m_source->setStatfs(volume("STICK"), {4096, 2000});
    m_source->setStatfs(volume("MacDisk"), {4096, 5000});
    m_source->setProbeAnswer(volume("MacDisk"), true);
    m_source->setStatfs(volume("Share"), {1024, 3000});
    m_source->setStatfs(volume("ROStick"), {4096, 1500, true});
    m_source->setStatfs(volume("NTFS"), {4096, 2500});
    m_source->setStatfs(volume("ExpanDrive"), {4096, 100});
    m_source->setStatfs(volume("EFI"), {512, 400});
    m_installedSource = std::make_unique<ScopedVolumeFactsSource>(m_source);

    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);
}

StoreTestEnvironment::~StoreTestEnvironment()
{
    GCDAdditions::cancelBlockWithName(XTWStore::saveThrottleName);
    VolumesFolders::unregisterFolderForTesting(m_volumesFolder);
    if (m_formerCacheHome)
        setenv("XDG_CACHE_HOME", m_formerCacheHome->c_str(), 1);
    else
        unsetenv("XDG_CACHE_HOME");
}

std::string StoreTestEnvironment::userName()
{
    const passwd *entry = getpwuid(getuid());
    return entry && entry->pw_name ? entry->pw_name : "";
}

std::string StoreTestEnvironment::fixtureText(const std::string &name) const
{
    std::string text = readFile(testSourceDir() + "/store/fixtures/" + name);
    replaceAll(text, "@VOLUMES@", m_volumesFolder);
    replaceAll(text, "@USER@", userName());
    return text;
}

void StoreTestEnvironment::installDefaultsFixture(const std::string &name)
{
    installDefaultsFixture(name, m_defaultsFile);
}

void StoreTestEnvironment::installDefaultsFixture(const std::string &name, const std::string &file)
{
    m_defaultsFile = file;
    writeFile(m_defaultsFile, fixtureText(name));
    pointStandardDefaultsAt(m_defaultsFile);
}

Dictionary StoreTestEnvironment::defaultsOnDisk() const
{
    const Value root = PropertyList::parse(readFile(m_defaultsFile));
    return root.asDictionary() ? *root.asDictionary() : Dictionary();
}

Dictionary StoreTestEnvironment::sourceItemsOnDisk() const
{
    const Dictionary root = defaultsOnDisk();
    const auto preferences = root.find("preferences");
    if (preferences == root.end() || !preferences->second.asDictionary())
        return {};
    const auto items = preferences->second.asDictionary()->find("sourceItems");
    if (items == preferences->second.asDictionary()->end() || !items->second.asDictionary())
        return {};
    return *items->second.asDictionary();
}

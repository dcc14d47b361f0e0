#pragma once

#include <memory>
#include <optional>
#include <string>

#include "ScriptedVolumeFactsSource.h"
#include "TestSupport.h"
#include "Value.h"

// A pretend machine for store tests: the standard user defaults in a temporary file (with
// the bundle's registered defaults), the caches folder (the log) in a temporary folder, a temporary volumes folder
// holding real folders for the scripted disks of fixtures/mountinfo.txt, and no save of an earlier test pending.
class StoreTestEnvironment
{
public:
    StoreTestEnvironment();
    ~StoreTestEnvironment();
    StoreTestEnvironment(const StoreTestEnvironment &) = delete;
    StoreTestEnvironment &operator=(const StoreTestEnvironment &) = delete;

    // The registered volumes folder, without a final "/".
    const std::string &volumesFolder() const { return m_volumesFolder; }
    // The real folder of a scripted disk ("STICK", "MacDisk", "Share", "ROStick", "NTFS", "ExpanDrive", "EFI").
    std::string volume(const std::string &name) const { return m_volumesFolder + "/" + name; }
    ScriptedVolumeFactsSource &source() { return *m_source; }

    // A fixture's text with @VOLUMES@ and @USER@ filled in.
    std::string fixtureText(const std::string &name) const;
    // Makes the fixture the user-defaults file, as if written by an earlier version; the
    // file may be put elsewhere than the usual place.
    void installDefaultsFixture(const std::string &name);
    void installDefaultsFixture(const std::string &name, const std::string &file);
    const std::string &defaultsFile() const { return m_defaultsFile; }
    std::string homeFile(const std::string &name) const { return m_home.file(name); }
    // The defaults file as it is on disk, parsed afresh.
    Dictionary defaultsOnDisk() const;
    // "preferences" / "sourceItems" of the file on disk.
    Dictionary sourceItemsOnDisk() const;

    static std::string userName();

private:
    TemporaryDirectory m_home;
    std::string m_volumesFolder;
    std::string m_defaultsFile;
    std::shared_ptr<ScriptedVolumeFactsSource> m_source;
    std::unique_ptr<ScopedVolumeFactsSource> m_installedSource;
    std::optional<std::string> m_formerCacheHome;
};

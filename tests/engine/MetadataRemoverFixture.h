#pragma once

#include <gtest/gtest.h>

#include <map>
#include <memory>
#include <string>

#include "../store/StoreTestEnvironment.h"
#include "RecordingProgress.h"
#include "StatisticsManager.h"
#include "XMetadataRemover.h"

// A remover reporting to a recording progress and to statistics of its own, working in the
// folder "Docs" of the scripted disk STICK (a real folder, so its messages end "on STICK").
class MetadataRemoverFixture : public testing::Test
{
protected:
    MetadataRemoverFixture();

    // A file in the working folder (or below it), with its folders made.
    std::string file(const std::string &relative, const std::string &contents = "data");
    std::string folder(const std::string &relative);
    URL url(const std::string &relative) const;
    std::string path(const std::string &relative) const { return m_folder + "/" + relative; }

    RecordingProgress &progress() { return m_owner->recording(); }
    std::vector<std::string> lines() { return progress().lines(); }
    // Waits for the statistics to reach the count of deletions on STICK.
    bool statisticsReach(std::int64_t count);
    std::int64_t statisticsCount();
    void useSimulation() { m_remover.setIsASimulation(true); }

    // Every entry below the folder with its kind, bytes (or link target) and extended
    // attributes of every namespace: what a simulation must leave as it was.
    static std::map<std::string, std::string> snapshot(const std::string &folder);

    StoreTestEnvironment m_environment;
    std::string m_folder;
    std::shared_ptr<FakeRemoverOwner> m_owner = std::make_shared<FakeRemoverOwner>();
    std::shared_ptr<StatisticsManager> m_statistics = StatisticsManager::create();
    XMetadataRemover m_remover{m_statistics};
};

// Sets an extended attribute by its Linux name; fails the test when the file system refuses.
void setAttribute(const std::string &path, const std::string &name, const std::string &value);
// The item's attribute names of every namespace, sorted.
std::vector<std::string> attributeNamesOf(const std::string &path);
// True when the file system of the folder keeps user attributes.
bool keepsUserAttributes(const std::string &folder);

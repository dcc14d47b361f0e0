#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <string>

#include "MountTable.h"
#include "VolumeFactsSource.h"

// A pretend system for volume questions: a mount table given as mountinfo text, the
// statfs answer of each mount, the attribute probe's answers and paths that cannot be
// examined. A mount without a statfs answer cannot be examined either.
class ScriptedVolumeFactsSource : public VolumeFactsSource
{
public:
    struct StatfsResult
    {
        std::uint32_t blockSize = 4096;
        std::uint64_t blockCount = 1000;
        bool readOnly = false;
    };

    explicit ScriptedVolumeFactsSource(const std::string &mountInfoText);

    void setStatfs(const std::string &mountPoint, StatfsResult result);
    void setProbeAnswer(const std::string &mountPoint, bool hasNativeAttributes);
    // The path and everything below it cannot be examined (statfs fails).
    void setMissing(const std::string &path);

    std::optional<VolumeFacts> factsForPath(const std::string &path) const override;
    bool probeNativeExtendedAttributes(const std::string &mountPoint) const override;
    VolumeLocation locate(const std::string &path) const override;

private:
    bool isMissing(const std::string &path) const;

    MountTable m_table;
    std::map<std::string, StatfsResult> m_statfs;
    std::map<std::string, bool> m_probeAnswers;
    std::set<std::string> m_missing;
};

// Installs a scripted source for the life of the object, then restores the system's.
class ScopedVolumeFactsSource
{
public:
    explicit ScopedVolumeFactsSource(std::shared_ptr<const VolumeFactsSource> source);
    ~ScopedVolumeFactsSource();
    ScopedVolumeFactsSource(const ScopedVolumeFactsSource &) = delete;
    ScopedVolumeFactsSource &operator=(const ScopedVolumeFactsSource &) = delete;
};

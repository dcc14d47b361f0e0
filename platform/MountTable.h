#pragma once

#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "TallowExport.h"

// One line of the kernel's mount table (/proc/self/mountinfo), unescaped.
struct TALLOW_EXPORT MountEntry
{
    int mountId = 0;
    int parentId = 0;
    unsigned major = 0;
    unsigned minor = 0;
    // The folder of the mounted file system shown here: "/" unless a bind mount shows a subfolder.
    std::string root;
    std::string mountPoint;
    std::string mountOptions;
    std::vector<std::string> optionalFields;
    std::string fileSystemType;
    std::string source;
    std::string superOptions;

    bool isReadOnly() const;
    bool operator==(const MountEntry &) const = default;
};

// Where the mount table's text comes from; tests script it with fixture text.
class TALLOW_EXPORT MountInfoSource
{
public:
    virtual ~MountInfoSource() = default;
    // Nullopt when the text cannot be read.
    virtual std::optional<std::string> read() const = 0;
    // Changes whenever the text may have changed; a source that cannot tell
    // answers a new value every time, so its text is never reused.
    virtual std::uint64_t generation() const;
};

// The running system's table.
class TALLOW_EXPORT ProcMountInfoSource : public MountInfoSource
{
public:
    explicit ProcMountInfoSource(std::string path = "/proc/self/mountinfo");
    ~ProcMountInfoSource() override;
    std::optional<std::string> read() const override;
    // The kernel flags the open table (POLLPRI) whenever a mount comes or goes.
    std::uint64_t generation() const override;
    const std::string &path() const { return m_path; }

private:
    std::string m_path;
    mutable std::mutex m_watchMutex;
    int m_watch = -1;
    mutable std::uint64_t m_generation = 0;
};

// Fixture text in place of the kernel's; the text may be changed while other threads read it.
class TALLOW_EXPORT ScriptedMountInfoSource : public MountInfoSource
{
public:
    explicit ScriptedMountInfoSource(std::string text = {});
    void setText(std::string text);
    std::optional<std::string> read() const override;
    std::uint64_t generation() const override;

private:
    mutable std::mutex m_mutex;
    std::string m_text;
    std::uint64_t m_generation = 0;
};

// The mounts that are visible: for a mount point mounted more than once only the last
// entry counts, and mounts hidden beneath a later mount are left out.
class TALLOW_EXPORT MountTable
{
public:
    MountTable() = default;

    // Lines that do not parse are skipped.
    static MountTable parse(std::string_view text);
    // The table from the process-wide source; empty when it cannot be read.
    static MountTable current();
    // The same table, shared rather than copied, with a stamp that differs from every earlier
    // snapshot's whenever the table may have changed since: facts derived from a mount may be
    // kept for as long as the stamp stays the same.
    struct Snapshot
    {
        std::shared_ptr<const MountTable> table;
        std::uint64_t stamp = 0;
    };
    static Snapshot snapshot();

    // Replaces the process-wide source; nullptr restores /proc/self/mountinfo.
    static void setSourceForTesting(std::shared_ptr<const MountInfoSource> source);
    static std::shared_ptr<const MountInfoSource> source();

    // Undoes the kernel's octal escapes (\040 space, \011 tab, \012 newline, \134 backslash).
    static std::string unescape(std::string_view field);

    const std::vector<MountEntry> &entries() const { return m_entries; }
    std::optional<MountEntry> mountAt(std::string_view mountPoint) const;
    // The mount whose mount point is the longest whole-component prefix of an absolute,
    // resolved path ("/mnt/a" holds "/mnt/a/b", not "/mnt/ab").
    std::optional<MountEntry> mountForPath(std::string_view realPath) const;

    bool operator==(const MountTable &) const = default;

private:
    explicit MountTable(std::vector<MountEntry> entries);

    std::vector<MountEntry> m_entries;
};

// True when `prefix` is `path` or a folder that contains it, comparing whole components.
TALLOW_EXPORT bool pathHasComponentPrefix(std::string_view path, std::string_view prefix);

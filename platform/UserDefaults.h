#pragma once

#include <cstdint>
#include <mutex>
#include <optional>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// The user's preferences: one domain kept in a property-list file (XML), in front of a
// registration domain that lives in memory only. Reads look in the file's domain first, then in
// the registration domain. Every change is written through at once, atomically (a temporary
// file in the same folder, flushed, renamed over the old one, folder flushed).
//
// A file that is no property list, or whose root is no dictionary, is renamed aside to
// "<name>.corrupt-YYYYMMDD-HHMMSS" (local time) with a line in the system log naming both paths,
// and the domain starts empty. A file that exists but cannot be read is logged and left alone:
// the domain starts empty and nothing is written over that file. A value the writer cannot
// write (a date outside its range, a string holding NUL) is left out at load with a log line
// each; the file as it was is then kept aside the same way and the rest saved in its place.
//
// The file is read on first use, not at construction. All members may be called from any thread.
class TALLOW_EXPORT UserDefaults
{
public:
    // The application's domain: $XDG_CONFIG_HOME/tarnwick/<bundle identifier>.plist.
    static UserDefaults &standardUserDefaults();

    explicit UserDefaults(std::string filePath);
    UserDefaults(const UserDefaults &) = delete;
    UserDefaults &operator=(const UserDefaults &) = delete;

    std::string filePath() const;
    // Points this object at another file and forgets both domains (tests use it to keep the
    // standard defaults away from the user's own file).
    void setFilePathForTesting(const std::string &filePath);

    // Adds the entries to the registration domain, replacing registered values of the same keys.
    void registerDefaults(const Dictionary &defaults);

    std::optional<Value> objectForKey(const std::string &key) const;
    // A Null value removes the key. A value holding a Null inside, or anything else that has no
    // property-list form, throws Error and changes nothing.
    void setObject(const Value &value, const std::string &key);
    void removeObjectForKey(const std::string &key);

    // Typed reads. A value of another type counts as absent, except where noted.
    std::optional<std::string> stringForKey(const std::string &key) const;
    // A Boolean; an Integer or Real other than 0; a string holding a whole decimal integer
    // other than 0. Everything else, including any other string, is false.
    bool boolForKey(const std::string &key) const;
    // An Integer; a Real truncated toward zero (0 when it does not fit); a Boolean as 0 or 1;
    // a string holding a whole decimal integer. Else 0.
    std::int64_t integerForKey(const std::string &key) const;
    // A Real; an Integer; a Boolean as 0 or 1; a string holding a whole decimal number. Else 0.
    double doubleForKey(const std::string &key) const;
    std::optional<Dictionary> dictionaryForKey(const std::string &key) const;
    std::optional<Array> arrayForKey(const std::string &key) const;

    // The registration domain overlaid with the file's domain.
    Dictionary dictionaryRepresentation() const;

    // Writes what is not yet on disk (a change whose write failed). True when the file holds
    // every change.
    bool synchronize();

private:
    void loadIfNeeded() const;
    void keepWhatCanBeWritten(const Dictionary &contents) const;
    void setEntry(const std::string &key, const std::optional<Value> &value);
    bool writeFile(const std::string &xml) const;

    mutable std::mutex m_mutex;
    std::string m_filePath;
    Dictionary m_registered;
    mutable Dictionary m_persistent;
    mutable bool m_loaded = false;
    // False when the file exists but could not be read or moved aside: it is never written over.
    mutable bool m_writable = true;
    mutable bool m_dirty = false;
    mutable bool m_lastWriteFailed = false;
};

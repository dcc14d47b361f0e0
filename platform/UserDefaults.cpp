#include "UserDefaults.h"

#include <cerrno>
#include <charconv>
#include <cmath>
#include <climits>
#include <cstdio>
#include <ctime>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>
#include <vector>

#include "Bundle.h"
#include "BundleInfo.h"
#include "Error.h"
#include "FileDescriptor.h"
#include "FolderAndName.h"
#include "PrivateFolders.h"
#include "PropertyList.h"
#include "SystemLog.h"
#include "XdgPaths.h"

namespace
{
std::string errnoText()
{
    return Error::POSIXerrno().localizedDescription();
}

// The file that a path names once the symbolic links at its end are followed, so that a
// preferences file linked from elsewhere (a dotfiles folder) is replaced where it lives and the
// link stays. A dangling link names its target; a chain too long to follow stays as it is.
std::string followLinks(const std::string &path)
{
    constexpr int maximumLinks = 40;
    std::string current = path;
    for (int hop = 0; hop < maximumLinks; ++hop) {
        struct stat status;
        if (lstat(current.c_str(), &status) != 0 || !S_ISLNK(status.st_mode))
            return current;
        std::string target(PATH_MAX, '\0');
        const ssize_t length = readlink(current.c_str(), target.data(), target.size());
        if (length <= 0 || static_cast<std::size_t>(length) >= target.size())
            return current;
        target.resize(static_cast<std::size_t>(length));
        current = target.front() == '/' ? target : FolderAndName::of(current).folder + "/" + target;
    }
    return current;
}

// Temporary file in the same folder, flushed, renamed over the target, folder flushed: the file
// holds either the old or the new contents whatever happens on the way.
bool replaceFileAtomically(const std::string &linkOrPath, const std::string &contents, std::string &failure)
{
    const std::string path = followLinks(linkOrPath);
    const std::string folder = FolderAndName::of(path).folder;
    if (!makePrivateFolders(folder)) {
        failure = "cannot create the folder " + folder + ": " + errnoText();
        return false;
    }
    std::string temporaryPath = path + ".tmp-XXXXXX";
    const int descriptor = mkostemp(temporaryPath.data(), O_CLOEXEC);
    if (descriptor < 0) {
        failure = "cannot create a temporary file in " + folder + ": " + errnoText();
        return false;
    }
    bool written = writeFully(descriptor, contents.data(), contents.size()) && fsync(descriptor) == 0;
    if (!written)
        failure = "cannot write " + temporaryPath + ": " + errnoText();
    if (close(descriptor) != 0 && written) {
        failure = "cannot write " + temporaryPath + ": " + errnoText();
        written = false;
    }
    if (written && rename(temporaryPath.c_str(), path.c_str()) != 0) {
        failure = "cannot rename " + temporaryPath + " to " + path + ": " + errnoText();
        written = false;
    }
    if (!written) {
        unlink(temporaryPath.c_str());
        return false;
    }
    const int folderDescriptor = open(folder.c_str(), O_RDONLY | O_DIRECTORY | O_CLOEXEC);
    if (folderDescriptor >= 0) {
        fsync(folderDescriptor);
        close(folderDescriptor);
    }
    return true;
}

std::string timestampForFileName()
{
    const std::time_t now = std::time(nullptr);
    std::tm local{};
    localtime_r(&now, &local);
    char text[32];
    std::strftime(text, sizeof text, "%Y%m%d-%H%M%S", &local);
    return text;
}

// Renames without replacing anything: a second damaged file within the same second gets a
// numbered name rather than overwriting the first one kept aside.
std::optional<std::string> moveAside(const std::string &linkOrPath, std::string &failure)
{
    const std::string path = followLinks(linkOrPath);
    const std::string base = path + ".corrupt-" + timestampForFileName();
    for (int attempt = 1; attempt <= 100; ++attempt) {
        const std::string target = attempt == 1 ? base : base + "-" + std::to_string(attempt);
        if (renameat2(AT_FDCWD, path.c_str(), AT_FDCWD, target.c_str(), RENAME_NOREPLACE) == 0)
            return target;
        if (errno == EINVAL) {
            // The file system cannot refuse to replace; look first instead.
            struct stat status;
            if (lstat(target.c_str(), &status) == 0)
                continue;
            if (rename(path.c_str(), target.c_str()) == 0)
                return target;
        }
        if (errno != EEXIST) {
            failure = errnoText();
            return std::nullopt;
        }
    }
    failure = "too many files kept aside already";
    return std::nullopt;
}

std::optional<std::int64_t> wholeInteger(const std::string &text)
{
    std::int64_t number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty())
        return std::nullopt;
    return number;
}

// Why the property-list writer cannot write a value that is no container; empty when it can.
std::string unwritableReason(const Value &value)
{
    try {
        PropertyList::toXML(value);
    } catch (const Error &error) {
        return error.localizedDescription();
    }
    return {};
}

Value writableCopy(const Value &value, const std::string &where, std::vector<std::string> &leftOut);

// An item as it may be kept, or nullopt when the writer cannot write it (noted in leftOut).
std::optional<Value> writableItem(const Value &item, const std::string &where, std::vector<std::string> &leftOut)
{
    if (item.asDictionary() || item.asArray())
        return writableCopy(item, where, leftOut);
    if (const std::string reason = unwritableReason(item); !reason.empty()) {
        leftOut.push_back("\"" + where + "\": " + reason);
        return std::nullopt;
    }
    return item;
}

// A copy of the value without what the writer cannot write (a date outside its range, a string
// or key holding NUL), each part left out noted with where it was and why.
Value writableCopy(const Value &value, const std::string &where, std::vector<std::string> &leftOut)
{
    if (const Dictionary *dictionary = value.asDictionary()) {
        Dictionary kept;
        for (const auto &[key, item] : *dictionary) {
            if (const std::string reason = unwritableReason(Value(key)); !reason.empty()) {
                leftOut.push_back((where.empty() ? std::string("a key") : "a key in \"" + where + "\"") + ": " + reason);
                continue;
            }
            if (auto writable = writableItem(item, where.empty() ? key : where + "." + key, leftOut))
                kept.insert_or_assign(key, std::move(*writable));
        }
        return Value(std::move(kept));
    }
    if (const Array *array = value.asArray()) {
        Array kept;
        for (std::size_t index = 0; index < array->size(); ++index) {
            if (auto writable = writableItem((*array)[index], where + "[" + std::to_string(index) + "]", leftOut))
                kept.push_back(std::move(*writable));
        }
        return Value(std::move(kept));
    }
    return value;
}

std::optional<double> wholeNumber(const std::string &text)
{
    double number = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), number);
    if (error != std::errc() || end != text.data() + text.size() || text.empty() || !std::isfinite(number))
        return std::nullopt;
    return number;
}
}

UserDefaults &UserDefaults::standardUserDefaults()
{
    static UserDefaults *const instance = new UserDefaults(
        XdgPaths::configHome() + "/tarnwick/" + Bundle::main().bundleIdentifier().value_or(TARNWICK_BUNDLE_IDENTIFIER)
        + ".plist");
    return *instance;
}

UserDefaults::UserDefaults(std::string filePath) : m_filePath(std::move(filePath)) {}

std::string UserDefaults::filePath() const
{
    std::lock_guard lock(m_mutex);
    return m_filePath;
}

void UserDefaults::setFilePathForTesting(const std::string &filePath)
{
    std::lock_guard lock(m_mutex);
    m_filePath = filePath;
    m_registered.clear();
    m_persistent.clear();
    m_loaded = false;
    m_writable = true;
    m_dirty = false;
    m_lastWriteFailed = false;
}

void UserDefaults::loadIfNeeded() const
{
    if (m_loaded)
        return;
    m_loaded = true;
    Value contents;
    std::string problem;
    try {
        contents = PropertyList::readFile(m_filePath);
        if (!contents.asDictionary())
            problem = "Its root is not a dictionary.";
    } catch (const Error &error) {
        if (error.domain() == Error::POSIXDomain) {
            if (error.code() != ENOENT && error.code() != ENOTDIR) {
                m_writable = false;
                SystemLog::write("The preferences file " + m_filePath + " cannot be read (" + error.localizedDescription()
                                 + "). The preferences start empty and will not be saved over that file.");
            }
            return;
        }
        problem = error.localizedDescription();
    }
    if (problem.empty()) {
        keepWhatCanBeWritten(*contents.asDictionary());
        return;
    }
    std::string failure;
    if (const auto keptAs = moveAside(m_filePath, failure)) {
        SystemLog::write("The preferences file " + m_filePath + " is damaged and has been kept as " + *keptAs
                         + "; the preferences start empty. " + problem);
    } else {
        m_writable = false;
        SystemLog::write("The preferences file " + m_filePath + " is damaged and could not be kept aside (" + failure
                         + "); the preferences start empty and will not be saved over that file. " + problem);
    }
}

void UserDefaults::keepWhatCanBeWritten(const Dictionary &contents) const
{
    std::vector<std::string> leftOut;
    m_persistent = *writableCopy(Value(contents), "", leftOut).asDictionary();
    if (leftOut.empty())
        return;
    for (const std::string &part : leftOut)
        SystemLog::write("The preferences file " + m_filePath + " holds a value that cannot be saved, left out: " + part);
    // The file as it was is kept aside; the settings that remain are saved in its place.
    std::string failure;
    if (const auto keptAs = moveAside(m_filePath, failure)) {
        SystemLog::write("The preferences file " + m_filePath + " has been kept as " + *keptAs
                         + "; the rest of its settings are kept.");
        m_dirty = true;
        writeFile(PropertyList::toXML(Value(m_persistent)));
    } else {
        m_writable = false;
        SystemLog::write("The preferences file " + m_filePath + " could not be kept aside (" + failure
                         + "); the preferences will not be saved over that file.");
    }
}

bool UserDefaults::writeFile(const std::string &xml) const
{
    if (!m_writable)
        return false;
    std::string failure;
    if (!replaceFileAtomically(m_filePath, xml, failure)) {
        if (!m_lastWriteFailed)
            SystemLog::write("The preferences could not be saved to " + m_filePath + ": " + failure + ".");
        m_lastWriteFailed = true;
        return false;
    }
    m_lastWriteFailed = false;
    m_dirty = false;
    return true;
}

void UserDefaults::registerDefaults(const Dictionary &defaults)
{
    std::lock_guard lock(m_mutex);
    for (const auto &[key, value] : defaults)
        m_registered.insert_or_assign(key, value);
}

std::optional<Value> UserDefaults::objectForKey(const std::string &key) const
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    if (const auto found = m_persistent.find(key); found != m_persistent.end())
        return found->second;
    if (const auto found = m_registered.find(key); found != m_registered.end())
        return found->second;
    return std::nullopt;
}

void UserDefaults::setEntry(const std::string &key, const std::optional<Value> &value)
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    Dictionary updated = m_persistent;
    if (value) {
        const auto found = updated.find(key);
        if (found != updated.end() && found->second == *value)
            return;
        updated.insert_or_assign(key, *value);
    } else if (updated.erase(key) == 0) {
        return;
    }
    // Refuses a value without a property-list form before anything changes.
    const std::string xml = PropertyList::toXML(Value(updated));
    m_persistent = std::move(updated);
    m_dirty = true;
    writeFile(xml);
}

void UserDefaults::setObject(const Value &value, const std::string &key)
{
    setEntry(key, value.isNull() ? std::nullopt : std::optional<Value>(value));
}

void UserDefaults::removeObjectForKey(const std::string &key)
{
    setEntry(key, std::nullopt);
}

std::optional<std::string> UserDefaults::stringForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (value && value->asString())
        return *value->asString();
    return std::nullopt;
}

bool UserDefaults::boolForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (!value)
        return false;
    if (const bool *flag = value->asBoolean())
        return *flag;
    if (const std::int64_t *integer = value->asInteger())
        return *integer != 0;
    if (const double *real = value->asReal())
        return *real != 0;
    if (const std::string *text = value->asString())
        return wholeInteger(*text).value_or(0) != 0;
    return false;
}

std::int64_t UserDefaults::integerForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (!value)
        return 0;
    if (const std::int64_t *integer = value->asInteger())
        return *integer;
    if (const double *real = value->asReal()) {
        // 2^63 itself does not fit, -2^63 does; NaN fails both comparisons.
        constexpr double limit = 9223372036854775808.0;
        return *real >= -limit && *real < limit ? static_cast<std::int64_t>(*real) : 0;
    }
    if (const bool *flag = value->asBoolean())
        return *flag ? 1 : 0;
    if (const std::string *text = value->asString())
        return wholeInteger(*text).value_or(0);
    return 0;
}

double UserDefaults::doubleForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (!value)
        return 0;
    if (const double *real = value->asReal())
        return *real;
    if (const std::int64_t *integer = value->asInteger())
        return static_cast<double>(*integer);
    if (const bool *flag = value->asBoolean())
        return *flag ? 1 : 0;
    if (const std::string *text = value->asString())
        return wholeNumber(*text).value_or(0);
    return 0;
}

std::optional<Dictionary> UserDefaults::dictionaryForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (value && value->asDictionary())
        return *value->asDictionary();
    return std::nullopt;
}

std::optional<Array> UserDefaults::arrayForKey(const std::string &key) const
{
    const auto value = objectForKey(key);
    if (value && value->asArray())
        return *value->asArray();
    return std::nullopt;
}

Dictionary UserDefaults::dictionaryRepresentation() const
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    Dictionary merged = m_registered;
    for (const auto &[key, value] : m_persistent)
        merged.insert_or_assign(key, value);
    return merged;
}

bool UserDefaults::synchronize()
{
    std::lock_guard lock(m_mutex);
    loadIfNeeded();
    if (!m_dirty)
        return true;
    std::string xml;
    try {
        xml = PropertyList::toXML(Value(m_persistent));
    } catch (const Error &error) {
        SystemLog::write("The preferences could not be saved to " + m_filePath + ": " + error.localizedDescription());
        return false;
    }
    return writeFile(xml);
}

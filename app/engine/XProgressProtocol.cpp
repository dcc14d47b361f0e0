#include "XProgressProtocol.h"

#include <algorithm>
#include <vector>

#include "LocalizedString.h"
#include "Logger.h"
#include "PreferencesSupport.h"
#include "StringExtensions.h"
#include "UserDefaults.h"
#include "VolumeFactsSource.h"

namespace
{
std::string withoutCharacter(std::string text, char removed)
{
    text.erase(std::remove(text.begin(), text.end(), removed), text.end());
    return text;
}

// Fills the format's "%@" placeholders with the arguments, in order.
std::string fillFormat(std::string format, const std::vector<std::string> &arguments)
{
    std::size_t at = 0;
    for (const std::string &argument : arguments) {
        at = format.find("%@", at);
        if (at == std::string::npos)
            break;
        format.replace(at, 2, argument);
        at += argument.size();
    }
    return format;
}

// The start-up disk as the user knows it: its label, else "/".
std::string startupDiskName()
{
    const std::optional<VolumeFacts> facts = VolumeFactsSource::current()->factsForPath("/");
    return facts && !facts->name.empty() ? facts->name : "/";
}
}

XProgressProtocol::~XProgressProtocol() = default;

namespace
{
// A folder's place is taken again after this long: a volume may be mounted elsewhere meanwhile.
constexpr auto placedFolderLifetime = std::chrono::seconds(1);
}

XProgressProtocol::PlacedFolder XProgressProtocol::placedFolder(const std::string &path)
{
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    {
        std::lock_guard lock(m_placedMutex);
        if (m_placed && m_placed->path == path && now - m_placed->when < placedFolderLifetime)
            return *m_placed;
    }
    PlacedFolder placed{path, VolumeFactsSource::current()->locate(path), {}, now};
    placed.volumeName = placed.location.isStartupDisk ? startupDiskName() : placed.location.name;
    std::lock_guard lock(m_placedMutex);
    m_placed = placed;
    return placed;
}

void XProgressProtocol::placeFolder(const std::string &path, const VolumeLocation &location)
{
    const MonotonicClock::TimePoint now = MonotonicClock::now();
    std::lock_guard lock(m_placedMutex);
    // Folders of one volume follow each other: its name is looked up once for them.
    if (m_placed && m_placed->location == location && now - m_placed->when < placedFolderLifetime) {
        m_placed->path = path;
        return;
    }
    m_placed = PlacedFolder{path, location, location.isStartupDisk ? startupDiskName() : location.name, now};
}

void XProgressProtocol::deletionMessageForURL(const URL &url, const std::optional<Error> &error)
{
    logMsg(deletionMessage(url, error));
}

std::string XProgressProtocol::deletionMessage(const URL &url, const std::optional<Error> &error)
{
    const std::string name = withoutCharacter(url.lastPathComponent(), '\r');
    // The item itself may be gone; the folder that held it places it on its volume.
    const URL parent = url.deletingLastPathComponent();
    const PlacedFolder placed = placedFolder(parent.path());
    const VolumeLocation &location = placed.location;
    const std::string volumesPrefix = location.isStartupDisk ? std::string() : location.prefix;

    std::string message;
    if (error) {
        // Worked on the path as it is, so that a line feed in the name cannot keep it in the folder.
        std::string folder = dropSuffix(dropPrefix(url.path(), volumesPrefix), url.lastPathComponent());
        folder = withoutCharacter(dropSuffix(folder, "/"), '\n');
        message = error->localizedDescription() + " when deleting " + name + " in " + folder;
    } else {
        const std::string parentName = withoutCharacter(parent.lastPathComponent(), '\n');
        // The start-up disk has no volumes-folder prefix: it is named by its label, else "/".
        const std::string &volume = placed.volumeName;
        const bool atTopOfVolume = location.isStartupDisk ? parent.path() == "/" : parentName == volume;
        const std::string where = atTopOfVolume ? "on " + volume : "in " + parentName + " on " + volume;
        message = fillFormat(LSFK("Deleted %@ %@"), {name, where});
    }
    return message;
}

void XProgressProtocol::deletionMessageForContent(const std::string &content, const URL &inside,
                                                  const std::optional<Error> &)
{
    logMsg(fillFormat(LSFK("Deleted %@ in %@"), {content, inside.displayName()}));
}

void XProgressProtocol::deletionMessagesForContents(const std::vector<std::string> &contents, const URL &inside)
{
    if (contents.empty())
        return;
    const std::string format = LSFK("Deleted %@ in %@");
    const std::string displayName = inside.displayName();
    std::vector<std::string> messages;
    messages.reserve(contents.size());
    for (const std::string &content : contents)
        messages.push_back(fillFormat(format, {content, displayName}));
    logMsgs(messages);
}

void XProgressProtocol::logMsg(const std::string &message)
{
    stdoutMsg(message);
}

void XProgressProtocol::logMsgs(const std::vector<std::string> &messages)
{
    for (const std::string &message : messages)
        logMsg(message);
}

void XProgressProtocol::stdoutMsg(const std::string &message)
{
    if (PreferencesSupport::standardUserDefaults().boolForKey("logDeletions"))
        Logger::shared().log(message);
}

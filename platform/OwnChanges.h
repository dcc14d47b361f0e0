#pragma once

#include <chrono>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string>

#include "TallowExport.h"

// The changes Tarnwick makes itself, so that the file-system event stream does not answer
// them with a clean of its own. Before it deletes an item, removes an attribute or writes a
// scratch file that replaces another, the code notes the path; the stream then asks whether
// the events it saw are explained by those notes. A note of one event is used up by it; notes
// of a scratch file or of a folder removed with its contents explain every event there until
// they expire. Notes are kept for a bounded time and in a bounded number, and only while a
// stream is running. Any thread may note and ask.
class TALLOW_EXPORT OwnChanges
{
public:
    static constexpr std::chrono::seconds lifetime{60};
    static constexpr std::size_t capacity = 16384;

    // The file (or empty folder) is about to be unlinked.
    static void noteRemovalAt(int directoryFd, const std::string &name);
    // The folder is about to be removed with everything in it.
    static void noteTreeRemovalAt(int directoryFd, const std::string &name);
    // An attribute of the item is about to be removed.
    static void noteAttributeRemovalAt(int directoryFd, const std::string &name);
    // A scratch file that will be written and then renamed onto another name.
    static void noteScratchFileAt(int directoryFd, const std::string &name);
    // The name a scratch file is about to be renamed onto.
    static void noteReplacementAt(int directoryFd, const std::string &name);
    // The name whose file is about to be exchanged with a scratch file's (renameat2
    // RENAME_EXCHANGE): the scratch file moves to the name and the name's file away.
    static void noteExchangeAt(int directoryFd, const std::string &name);

    // While one lives, the notes its thread makes for entries of the open folder name the
    // folder by its real path, known already (a clean reaches every folder from its root by
    // name, never through a link) or asked of the kernel at the first note, not once per note:
    // a clean makes a great many notes in one folder. The folder stays open meanwhile.
    class TALLOW_EXPORT FolderBeingChanged
    {
    public:
        explicit FolderBeingChanged(int directoryFd, std::optional<std::string> realPath = std::nullopt);
        ~FolderBeingChanged();
        FolderBeingChanged(const FolderBeingChanged &) = delete;
        FolderBeingChanged &operator=(const FolderBeingChanged &) = delete;

        // The folder's path, asked of the kernel once; nothing when it has none.
        const std::optional<std::string> &path();
        int fd() const { return m_fd; }
        FolderBeingChanged *previous() const { return m_previous; }

    private:
        int m_fd;
        bool m_resolved = false;
        std::optional<std::string> m_path;
        FolderBeingChanged *m_previous;
    };

    // Streams say when they run; nothing is noted while none does.
    static void beginRecording();
    static void endRecording();
    static bool isRecording();

    // Whether the noted changes explain every inotify event kind in `events` (IN_CREATE,
    // IN_DELETE, IN_ATTRIB ...) at the real path; the single-event notes used are consumed.
    static bool accountFor(const std::string &path, std::uint32_t events);
    // False only when nothing is noted, so that no event needs its path made to be asked about.
    static bool mayAccountFor();

    static void clearForTesting();
};

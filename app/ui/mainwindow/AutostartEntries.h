#pragma once

#include <string>
#include <vector>

// The desktop's login items: the XDG autostart folder. Tarnwick's entry is its own file there,
// tarnwick.desktop; an entry of another name counts as Tarnwick's only when the program it
// starts is named "tarnwick" (an older copy's entry, say). Every other program's entry is left
// alone, whatever its name or its program's folder contains.
class AutostartEntries
{
public:
    enum class AddResult {
        added,
        // The autostart folder cannot be made or reached.
        folderUnavailable,
        writeFailed,
    };

    // $XDG_CONFIG_HOME/autostart.
    static std::string folder();
    // <folder>/tarnwick.desktop.
    static std::string ownEntryPath();

    // The entries in the folder that start Tarnwick, in name order.
    static std::vector<std::string> tarnwickEntries();
    static bool isTarnwickEntry(const std::string &path);
    // The file name of the program an entry's Exec line starts; empty when there is none.
    static std::string execProgramName(const std::string &path);

    // Writes Tarnwick's own entry, starting the given program.
    static AddResult add(const std::string &program);
    // Removes every entry that starts Tarnwick; false when one could not be removed.
    static bool removeAll();
};

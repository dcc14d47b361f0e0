#pragma once

#include <string>
#include <vector>

#include "Value.h"

// Runs a shell command in the folder; answers its exit status and standard output.
struct CommandResult
{
    int status = -1;
    std::string output;
};
CommandResult runCommand(const std::string &folder, const std::string &command);

// Makes the files (name -> contents) inside the folder, creating parent folders.
void makeFiles(const std::string &folder, const std::vector<std::pair<std::string, std::string>> &files);

// `unzip -t` passes on the archive.
bool unzipTestPasses(const std::string &archive);
// The entry names `unzip -Z1` lists, in order.
std::vector<std::string> unzipNames(const std::string &archive);

Data readBytes(const std::string &path);
void writeBytes(const std::string &path, const Data &bytes);

// Quotes a string for the shell.
std::string shellQuoted(const std::string &text);

// A stored entry for a hand-made archive; `descriptor` is the length of the
// data descriptor after its data (0 for none, else 12, 16, 20 or 24).
struct StoredEntry
{
    std::string name;
    std::string data;
    int descriptor = 0;
};

// A stored archive made byte by byte, for layouts the zip tool does not write.
// With `reverseCentral` the central directory lists the entries in reverse file order.
Data buildStoredArchive(const std::vector<StoredEntry> &entries, const std::string &comment = {},
                        bool reverseCentral = false);

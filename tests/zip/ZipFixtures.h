#pragma once

#include <cstdint>
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

// A stored local file (header and data, no descriptor), for archives laid out by hand.
Data localRecord(const std::string &name, const std::string &data);

// What a central record says of a stored entry: its name, where its local header lies,
// and the size and checksum of its data.
struct CentralRecord
{
    std::string name;
    std::uint32_t localHeaderOffset = 0;
    std::uint32_t size = 0;
    std::uint32_t crc32 = 0;

    static CentralRecord of(const std::string &name, std::uint32_t localHeaderOffset, const std::string &data);
};

// The local-file area followed by a central directory of the records and an end record,
// whatever the records point at (overlapping entries, for one).
Data withCentralDirectory(const Data &localFiles, const std::vector<CentralRecord> &records);

// Overwrites the end record's two entry counts.
void setEntryCount(Data &archive, std::uint16_t count);

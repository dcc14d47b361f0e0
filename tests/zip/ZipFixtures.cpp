#include "ZipFixtures.h"

#include <array>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <gtest/gtest.h>
#include <sstream>
#include <sys/wait.h>
#include <zlib.h>
#include <algorithm>

std::string shellQuoted(const std::string &text)
{
    std::string quoted = "'";
    for (const char c : text) {
        if (c == '\'')
            quoted += "'\\''";
        else
            quoted += c;
    }
    return quoted + "'";
}

CommandResult runCommand(const std::string &folder, const std::string &command)
{
    CommandResult result;
    const std::string full = "cd " + shellQuoted(folder) + " && { " + command + " ; } 2>/dev/null";
    FILE *pipe = ::popen(full.c_str(), "r");
    if (!pipe)
        return result;
    std::array<char, 4096> buffer;
    std::size_t count;
    while ((count = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0)
        result.output.append(buffer.data(), count);
    const int status = ::pclose(pipe);
    result.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
    return result;
}

void makeFiles(const std::string &folder, const std::vector<std::pair<std::string, std::string>> &files)
{
    for (const auto &[name, contents] : files) {
        const std::filesystem::path path = std::filesystem::path(folder) / name;
        std::filesystem::create_directories(path.parent_path());
        std::ofstream stream(path, std::ios::binary);
        stream << contents;
        ASSERT_TRUE(stream.good()) << path;
    }
}

bool unzipTestPasses(const std::string &archive)
{
    return runCommand("/", "unzip -tq " + shellQuoted(archive)).status == 0;
}

std::vector<std::string> unzipNames(const std::string &archive)
{
    std::vector<std::string> names;
    std::istringstream lines(runCommand("/", "unzip -Z1 " + shellQuoted(archive)).output);
    for (std::string line; std::getline(lines, line);)
        names.push_back(line);
    return names;
}

Data readBytes(const std::string &path)
{
    std::ifstream stream(path, std::ios::binary);
    return Data((std::istreambuf_iterator<char>(stream)), std::istreambuf_iterator<char>());
}

void writeBytes(const std::string &path, const Data &bytes)
{
    std::ofstream stream(path, std::ios::binary | std::ios::trunc);
    stream.write(reinterpret_cast<const char *>(bytes.data()), static_cast<std::streamsize>(bytes.size()));
    ASSERT_TRUE(stream.good()) << path;
}

namespace
{
void put16(Data &bytes, std::uint32_t value)
{
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
}

void put32(Data &bytes, std::uint32_t value)
{
    put16(bytes, value & 0xFFFF);
    put16(bytes, value >> 16);
}

void putText(Data &bytes, const std::string &text)
{
    bytes.insert(bytes.end(), text.begin(), text.end());
}

// The end record after a central directory that began at `centralOffset` and ends here; a
// count past 65,535 wraps as a 16-bit field does.
void putEndRecord(Data &bytes, std::size_t count, std::uint32_t centralOffset, const std::string &comment = {})
{
    const auto centralSize = static_cast<std::uint32_t>(bytes.size() - centralOffset);
    put32(bytes, 0x06054b50);
    put16(bytes, 0);
    put16(bytes, 0);
    put16(bytes, static_cast<std::uint32_t>(count & 0xFFFF));
    put16(bytes, static_cast<std::uint32_t>(count & 0xFFFF));
    put32(bytes, centralSize);
    put32(bytes, centralOffset);
    put16(bytes, static_cast<std::uint32_t>(comment.size()));
    putText(bytes, comment);
}
}

Data buildStoredArchive(const std::vector<StoredEntry> &entries, const std::string &comment, bool reverseCentral)
{
    Data bytes;
    std::vector<Data> centrals;
    for (const StoredEntry &entry : entries) {
        const auto crc = static_cast<std::uint32_t>(
            crc32(0, reinterpret_cast<const Bytef *>(entry.data.data()), static_cast<uInt>(entry.data.size())));
        const auto size = static_cast<std::uint32_t>(entry.data.size());
        const bool descriptor = entry.descriptor != 0;
        const bool wide = entry.descriptor == 20 || entry.descriptor == 24;
        const std::uint16_t flags = descriptor ? 0x0008 : 0;
        const std::uint32_t offset = static_cast<std::uint32_t>(bytes.size());
        put32(bytes, 0x04034b50);
        put16(bytes, wide ? 45 : 20);
        put16(bytes, flags);
        put16(bytes, 0);
        put16(bytes, 0x6000);
        put16(bytes, 0x5A21);
        put32(bytes, descriptor ? 0 : crc);
        put32(bytes, descriptor ? 0 : size);
        put32(bytes, descriptor ? 0 : size);
        put16(bytes, static_cast<std::uint32_t>(entry.name.size()));
        put16(bytes, wide ? 20 : 0);
        putText(bytes, entry.name);
        if (wide) {
            put16(bytes, 0x0001);
            put16(bytes, 16);
            for (int i = 0; i < 4; ++i)
                put32(bytes, 0);
        }
        putText(bytes, entry.data);
        if (descriptor) {
            if (entry.descriptor == 16 || entry.descriptor == 24)
                put32(bytes, 0x08074b50);
            put32(bytes, crc);
            put32(bytes, size);
            if (wide)
                put32(bytes, 0);
            put32(bytes, size);
            if (wide)
                put32(bytes, 0);
        }
        Data central;
        put32(central, 0x02014b50);
        put16(central, 0x031E);
        put16(central, wide ? 45 : 20);
        put16(central, flags);
        put16(central, 0);
        put16(central, 0x6000);
        put16(central, 0x5A21);
        put32(central, crc);
        put32(central, size);
        put32(central, size);
        put16(central, static_cast<std::uint32_t>(entry.name.size()));
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put16(central, 0);
        put32(central, 0100644u << 16);
        put32(central, offset);
        putText(central, entry.name);
        centrals.push_back(central);
    }
    if (reverseCentral)
        std::reverse(centrals.begin(), centrals.end());
    const auto centralOffset = static_cast<std::uint32_t>(bytes.size());
    for (const Data &central : centrals)
        bytes.insert(bytes.end(), central.begin(), central.end());
    putEndRecord(bytes, entries.size(), centralOffset, comment);
    return bytes;
}

Data localRecord(const std::string &name, const std::string &data)
{
    const auto crc = static_cast<std::uint32_t>(
        crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())));
    Data bytes;
    put32(bytes, 0x04034b50);
    put16(bytes, 20);
    put16(bytes, 0);
    put16(bytes, 0);
    put16(bytes, 0x6000);
    put16(bytes, 0x5A21);
    put32(bytes, crc);
    put32(bytes, static_cast<std::uint32_t>(data.size()));
    put32(bytes, static_cast<std::uint32_t>(data.size()));
    put16(bytes, static_cast<std::uint32_t>(name.size()));
    put16(bytes, 0);
    putText(bytes, name);
    putText(bytes, data);
    return bytes;
}

CentralRecord CentralRecord::of(const std::string &name, std::uint32_t localHeaderOffset, const std::string &data)
{
    return {name, localHeaderOffset, static_cast<std::uint32_t>(data.size()),
            static_cast<std::uint32_t>(
                ::crc32(0, reinterpret_cast<const Bytef *>(data.data()), static_cast<uInt>(data.size())))};
}

Data withCentralDirectory(const Data &localFiles, const std::vector<CentralRecord> &records)
{
    Data bytes = localFiles;
    const auto centralOffset = static_cast<std::uint32_t>(bytes.size());
    for (const CentralRecord &record : records) {
        put32(bytes, 0x02014b50);
        put16(bytes, 0x031E);
        put16(bytes, 20);
        put16(bytes, 0);
        put16(bytes, 0);
        put16(bytes, 0x6000);
        put16(bytes, 0x5A21);
        put32(bytes, record.crc32);
        put32(bytes, record.size);
        put32(bytes, record.size);
        put16(bytes, static_cast<std::uint32_t>(record.name.size()));
        for (int field = 0; field < 4; ++field)
            put16(bytes, 0);
        put32(bytes, 0100644u << 16);
        put32(bytes, record.localHeaderOffset);
        putText(bytes, record.name);
    }
    putEndRecord(bytes, records.size(), centralOffset);
    return bytes;
}

void setEntryCount(Data &archive, std::uint16_t count)
{
    // The end record, without a comment, is the last 22 bytes; its counts lie at 8 and 10.
    for (const std::size_t field : {archive.size() - 22 + 8, archive.size() - 22 + 10}) {
        archive[field] = static_cast<std::uint8_t>(count);
        archive[field + 1] = static_cast<std::uint8_t>(count >> 8);
    }
}

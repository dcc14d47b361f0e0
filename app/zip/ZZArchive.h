#pragma once

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "Error.h"
#include "Value.h"
#include "ZZArchiveEntry.h"
#include "ZZArchiveEntryWriter.h"
#include "ZZArchiveLayout.h"
#include "ZZBytes.h"
#include "ZZChannel.h"

// Open options: the encoding of names without the UTF-8 flag (an integer,
// ZZStringEncoding; UTF-8 when absent), and whether a missing archive opens empty.
extern const char *const ZZOpenOptionsEncodingKey;
extern const char *const ZZOpenOptionsCreateIfMissingKey;

// A zip archive in a file or in memory: its central directory read into entries,
// and rewritten so that it holds exactly a given list of entries. A rewrite is
// built completely beside the original and then put in its place, so a failure
// at any step leaves the original as it was.
class ZZArchive
{
public:
    static std::unique_ptr<ZZArchive> archiveWithURL(const std::string &URL, Error *error);
    static std::unique_ptr<ZZArchive> initWithURL(const std::string &URL, const Dictionary &options, Error *error);
    static std::unique_ptr<ZZArchive> archiveWithData(Data data, Error *error);
    static std::unique_ptr<ZZArchive> initWithData(Data data, const Dictionary &options, Error *error);
    static std::unique_ptr<ZZArchive> initWithChannel(std::shared_ptr<ZZChannel> channel, const Dictionary &options,
                                                      Error *error);

    std::string URL() const;
    // The whole archive's bytes as loaded.
    const ZZBytes &contents() const;
    // In central-directory order.
    const std::vector<std::shared_ptr<ZZArchiveEntry>> &entries() const;
    ZZChannel &channel() const;

    bool loadCanMiss(bool canMiss, Error *error);
    // Rewrites the archive to hold exactly these entries, then reloads it.
    bool updateEntries(const std::vector<std::shared_ptr<ZZArchiveEntry>> &newEntries, Error *error);

private:
    ZZArchive(std::shared_ptr<ZZChannel> channel, std::uint64_t encoding);

    // How many leading entries keep their local files where they are.
    std::optional<std::size_t> keptPrefixLength(const std::vector<std::shared_ptr<ZZArchiveEntry>> &newEntries, Error *error) const;
    bool writeArchive(ZZChannelOutput &output, std::uint64_t initialSkip, std::size_t firstWritten,
                      const std::vector<std::unique_ptr<ZZArchiveEntryWriter>> &writers, Error *error) const;

    std::shared_ptr<ZZChannel> m_channel;
    std::uint64_t m_encoding;
    ZZBytes m_contents;
    std::vector<std::shared_ptr<ZZArchiveEntry>> m_entries;
    // Where the loaded entries' local files lie; none for an empty or missing archive.
    std::shared_ptr<const ZZArchiveLayout> m_layout;
};

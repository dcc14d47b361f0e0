#pragma once

#include <cstdint>
#include <memory>
#include <vector>

#include "ZZChannelOutput.h"

// Writes into a file descriptor. Small writes are gathered into a buffer and
// adjacent spans of a mapped file are joined and copied inside the kernel, so a
// rewrite costs few system calls. Failures carry the POSIX domain and errno.
class ZZFileChannelOutput : public ZZChannelOutput
{
public:
    explicit ZZFileChannelOutput(int fileDescriptor);
    ~ZZFileChannelOutput() override;
    ZZFileChannelOutput(const ZZFileChannelOutput &) = delete;
    ZZFileChannelOutput &operator=(const ZZFileChannelOutput &) = delete;

    std::uint64_t offset() const override;
    bool seekToOffset(std::uint64_t offset, Error *error) override;
    using ZZChannelOutput::writeData;
    bool writeData(const ZZBytes &data, Error *error) override;
    bool truncateAtOffset(std::uint64_t offset, Error *error) override;
    bool close(Error *error) override;

private:
    struct PendingCopy
    {
        ZZBytes source;
        std::uint64_t destination = 0;
    };

    bool flush(Error *error);
    bool flushBuffer(Error *error);
    bool flushCopy(Error *error);
    bool writeAt(const std::uint8_t *data, std::uint64_t length, std::uint64_t at, Error *error);
    void startWriteback(std::uint64_t writtenEnd);

    int m_fileDescriptor;
    std::uint64_t m_offset = 0;
    std::vector<std::uint8_t> m_buffer;
    std::uint64_t m_bufferStart = 0;
    std::unique_ptr<PendingCopy> m_pendingCopy;
    std::uint64_t m_writebackStart = 0;
};

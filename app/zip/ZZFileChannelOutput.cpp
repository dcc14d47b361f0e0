#include "ZZFileChannelOutput.h"

#include <algorithm>
#include <cerrno>
#include <climits>
#include <fcntl.h>
#include <unistd.h>

#include "ZZError.h"

namespace
{
constexpr std::uint64_t bufferLimit = 1 << 20;
constexpr std::uint64_t largestSingleWrite = INT_MAX;
constexpr std::uint64_t smallestKernelCopy = 64 * 1024;
// Writeback is started every so many bytes, so that the final sync overlaps the copying.
constexpr std::uint64_t writebackStep = 32 << 20;
}

ZZFileChannelOutput::ZZFileChannelOutput(int fileDescriptor)
    : m_fileDescriptor(fileDescriptor)
{
    const off_t position = ::lseek(fileDescriptor, 0, SEEK_CUR);
    m_offset = position > 0 ? static_cast<std::uint64_t>(position) : 0;
}

ZZFileChannelOutput::~ZZFileChannelOutput()
{
    if (m_fileDescriptor >= 0)
        ::close(m_fileDescriptor);
}

std::uint64_t ZZFileChannelOutput::offset() const
{
    return m_offset;
}

bool ZZFileChannelOutput::seekToOffset(std::uint64_t offset, Error *error)
{
    if (!flush(error))
        return false;
    if (offset > static_cast<std::uint64_t>(LLONG_MAX))
        return zzFail(error, Error::posix(EINVAL));
    m_offset = offset;
    return true;
}

bool ZZFileChannelOutput::writeData(const ZZBytes &data, Error *error)
{
    if (m_fileDescriptor < 0)
        return zzFail(error, Error::posix(EBADF));
    if (data.size == 0)
        return true;
    PendingCopy *pending = m_pendingCopy.get();
    const bool adjacent = pending && data.descriptor >= 0 && pending->source.descriptor == data.descriptor
        && pending->source.keeper == data.keeper
        && pending->source.descriptorOffset + pending->source.size == data.descriptorOffset
        && pending->destination + pending->source.size == m_offset;
    // Large spans of a mapped file are copied by the kernel; small ones are cheaper gathered in the buffer.
    if (adjacent || (data.descriptor >= 0 && data.size >= smallestKernelCopy)) {
        if (!flushBuffer(error))
            return false;
        if (adjacent) {
            pending->source.size += data.size;
        } else {
            if (!flushCopy(error))
                return false;
            m_pendingCopy = std::make_unique<PendingCopy>(PendingCopy{data, m_offset});
        }
        m_offset += data.size;
        return true;
    }
    if (!flushCopy(error))
        return false;
    if (m_buffer.empty())
        m_bufferStart = m_offset;
    if (m_buffer.size() + data.size > bufferLimit) {
        if (!flushBuffer(error))
            return false;
        if (data.size > bufferLimit) {
            if (!writeAt(data.data, data.size, m_offset, error))
                return false;
            m_offset += data.size;
            return true;
        }
        m_bufferStart = m_offset;
    }
    m_buffer.insert(m_buffer.end(), data.data, data.data + data.size);
    m_offset += data.size;
    return true;
}

bool ZZFileChannelOutput::truncateAtOffset(std::uint64_t offset, Error *error)
{
    if (!flush(error))
        return false;
    if (::ftruncate(m_fileDescriptor, static_cast<off_t>(offset)) != 0)
        return zzFail(error, Error::POSIXerrno());
    return true;
}

bool ZZFileChannelOutput::close(Error *error)
{
    if (m_fileDescriptor < 0)
        return true;
    const bool flushed = flush(error);
    const int descriptor = m_fileDescriptor;
    m_fileDescriptor = -1;
    if (::close(descriptor) != 0 && flushed)
        return zzFail(error, Error::POSIXerrno());
    return flushed;
}

bool ZZFileChannelOutput::flush(Error *error)
{
    return flushBuffer(error) && flushCopy(error);
}

bool ZZFileChannelOutput::flushBuffer(Error *error)
{
    if (m_buffer.empty())
        return true;
    const bool written = writeAt(m_buffer.data(), m_buffer.size(), m_bufferStart, error);
    m_buffer.clear();
    return written;
}

bool ZZFileChannelOutput::flushCopy(Error *error)
{
    if (!m_pendingCopy)
        return true;
    const PendingCopy pending = *m_pendingCopy;
    m_pendingCopy.reset();
    loff_t from = static_cast<loff_t>(pending.source.descriptorOffset);
    loff_t to = static_cast<loff_t>(pending.destination);
    std::uint64_t done = 0;
    while (done < pending.source.size) {
        const std::size_t chunk = std::min<std::uint64_t>(pending.source.size - done, writebackStep);
        const ssize_t copied = ::copy_file_range(pending.source.descriptor, &from, m_fileDescriptor, &to, chunk, 0);
        if (copied > 0) {
            done += static_cast<std::uint64_t>(copied);
            startWriteback(pending.destination + done);
            continue;
        }
        if (copied < 0 && errno == EINTR)
            continue;
        if (copied < 0 && errno != EXDEV && errno != EINVAL && errno != ENOSYS && errno != EOPNOTSUPP
            && errno != ETXTBSY)
            return zzFail(error, Error::POSIXerrno());
        // The kernel cannot copy between these files: write the mapped bytes instead.
        return writeAt(pending.source.data + done, pending.source.size - done, pending.destination + done, error);
    }
    return true;
}

bool ZZFileChannelOutput::writeAt(const std::uint8_t *data, std::uint64_t length, std::uint64_t at, Error *error)
{
    std::uint64_t done = 0;
    while (done < length) {
        const std::size_t chunk = std::min<std::uint64_t>(length - done, largestSingleWrite);
        const ssize_t written = ::pwrite(m_fileDescriptor, data + done, chunk, static_cast<off_t>(at + done));
        if (written < 0) {
            if (errno == EINTR)
                continue;
            return zzFail(error, Error::POSIXerrno());
        }
        if (written == 0)
            return zzFail(error, Error::posix(ENOSPC));
        done += static_cast<std::uint64_t>(written);
        startWriteback(at + done);
    }
    return true;
}

void ZZFileChannelOutput::startWriteback(std::uint64_t writtenEnd)
{
    if (writtenEnd < m_writebackStart + writebackStep)
        return;
    // Only a hint: the caller's sync still decides durability.
    ::sync_file_range(m_fileDescriptor, static_cast<off_t>(m_writebackStart),
                      static_cast<off_t>(writtenEnd - m_writebackStart), SYNC_FILE_RANGE_WRITE);
    m_writebackStart = writtenEnd;
}

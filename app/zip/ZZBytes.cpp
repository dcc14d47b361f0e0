#include "ZZBytes.h"

#include <sys/stat.h>

bool ZZBytes::contains(std::uint64_t offset, std::uint64_t length) const
{
    return offset <= size && length <= size - offset;
}

ZZBytes ZZBytes::slice(std::uint64_t offset, std::uint64_t length) const
{
    ZZBytes part = *this;
    part.data = data + offset;
    part.size = length;
    part.descriptorOffset = descriptorOffset + offset;
    return part;
}

ZZBytes ZZBytes::borrowed(const void *data, std::uint64_t size)
{
    ZZBytes bytes;
    bytes.data = static_cast<const std::uint8_t *>(data);
    bytes.size = size;
    return bytes;
}

bool ZZBytes::isWhole() const
{
    if (descriptor < 0)
        return true;
    struct stat status;
    return ::fstat(descriptor, &status) == 0 && status.st_size >= 0
        && static_cast<std::uint64_t>(status.st_size) >= descriptorOffset + size;
}

// The mount table parser, fed any text: every entry it keeps is complete and findable.
#include <cstdint>

#include "FuzzSupport.h"
#include "MountTable.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const MountTable table = MountTable::parse(bytesOf(data, size));
    for (const MountEntry &entry : table.entries()) {
        entry.isReadOnly();
        if (!table.mountAt(entry.mountPoint))
            fuzzFinding("a kept mount is not found at its mount point");
        if (!entry.mountPoint.empty() && entry.mountPoint.front() == '/')
            table.mountForPath(entry.mountPoint + "/x");
    }
    MountTable::unescape(bytesOf(data, size));
    return 0;
}

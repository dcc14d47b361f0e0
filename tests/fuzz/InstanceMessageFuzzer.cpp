// The instance message decoder, fed any bytes: a message it accepts encodes to the same bytes.
#include <cstdint>

#include "Error.h"
#include "FuzzSupport.h"
#include "InstanceChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string message(bytesOf(data, size));
    std::vector<std::string> paths;
    std::string error;
    if (!InstanceChannel::decodeMessage(message, paths, error)) {
        if (!paths.empty())
            fuzzFinding("a refused message left paths behind");
        return 0;
    }
    try {
        if (InstanceChannel::encodeMessage(paths) != message)
            fuzzFinding("an accepted message does not encode to its own bytes");
    } catch (const Error &) {
        fuzzFinding("an accepted message holds paths that cannot be sent");
    }
    return 0;
}

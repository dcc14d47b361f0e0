// The instance message decoder, fed any bytes: a message it accepts, of either version, encodes
// to the same bytes.
#include <cstdint>

#include "Error.h"
#include "FuzzSupport.h"
#include "InstanceChannel.h"

extern "C" int LLVMFuzzerTestOneInput(const std::uint8_t *data, std::size_t size)
{
    const std::string message(bytesOf(data, size));
    InstanceChannel::Message decoded;
    std::string error;
    if (!InstanceChannel::decodeMessage(message, decoded, error)) {
        if (!decoded.paths.empty() || !decoded.command.empty())
            fuzzFinding("a refused message left paths or a command behind");
        return 0;
    }
    try {
        if (InstanceChannel::encodeMessage(decoded.paths, decoded.command) != message)
            fuzzFinding("an accepted message does not encode to its own bytes");
    } catch (const Error &) {
        fuzzFinding("an accepted message holds paths or a command that cannot be sent");
    }
    return 0;
}

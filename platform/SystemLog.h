#pragma once

#include <functional>
#include <string>

#include "TallowExport.h"

// The system log: syslog(3) under the ident "Tarnwick", with a copy on stderr.
// Messages are written verbatim, never as a format.
class TALLOW_EXPORT SystemLog
{
public:
    using Sink = std::function<void(const std::string &message)>;

    static void write(const std::string &message);

    // Every message is also handed to the sink (tests read the log through it),
    // under the log's lock: a sink must neither write to the log nor add or
    // remove sinks. Returns a token for removeSink.
    static int addSink(Sink sink);
    static void removeSink(int token);
};

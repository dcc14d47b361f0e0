#pragma once

#include <chrono>
#include <cstddef>
#include <functional>
#include <string>

#include "TallowExport.h"

// The system log: syslog(3) under the ident "Tarnwick", with a copy on stderr.
// Messages are written verbatim, never as a format.
//
// One writer thread hands the lines to the system logger, in the order they were given, so
// that no caller waits on a slow logger. Lines not yet written are bounded: a caller that
// finds the bound reached waits for room while the logger takes lines in, and once it has
// taken none for `stuckAfter` the lines are left out and counted, and one line saying how
// many is written when there is room again.
class TALLOW_EXPORT SystemLog
{
public:
    using Sink = std::function<void(const std::string &message)>;
    using Output = std::function<void(const std::string &message)>;

    static constexpr std::size_t capacity = 8192;
    static constexpr std::chrono::milliseconds stuckAfter{1000};
    // How long write(), and the end of the process, wait for the lines before them.
    static constexpr std::chrono::milliseconds waitLimit{2000};

    // Returns once the line and every line before it are written, or after waitLimit.
    static void write(const std::string &message);
    // Returns at once (unless the lines not yet written reach the bound).
    static void post(const std::string &message);
    // Whether every line given so far was written within the limit.
    static bool flush(std::chrono::milliseconds limit);

    // Every message is also handed to the sink (tests read the log through it) as it is
    // given, under the log's lock: a sink must neither write to the log nor add or remove
    // sinks. Returns a token for removeSink.
    static int addSink(Sink sink);
    static void removeSink(int token);

    // Replaces what the writer thread does with each line (syslog and stderr); empty restores it.
    static void setOutputForTesting(Output output);
};

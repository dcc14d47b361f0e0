#pragma once

#include <cstddef>
#include <filesystem>
#include <optional>
#include <string>
#include <sys/types.h>
#include <vector>

// Small helpers the benchmarks share.
namespace BenchSupport
{
// The middle value; 0 for none.
double median(std::vector<double> values);
// Starts the program without a shell, its standard error and output to the files when named;
// the child's pid, or -1.
pid_t spawnProgram(const std::vector<std::string> &arguments,
                   const std::optional<std::filesystem::path> &errors = std::nullopt,
                   const std::optional<std::filesystem::path> &output = std::nullopt);
// Runs the program without a shell and waits for it; false when it failed.
bool runProgram(const std::vector<std::string> &arguments,
                const std::optional<std::filesystem::path> &errors = std::nullopt,
                const std::optional<std::filesystem::path> &output = std::nullopt);
// A field of /proc/PROCESS/status in KiB ("VmRSS:", "VmHWM:"); -1 when missing.
long statusKiB(const std::string &field, const std::string &process = "self");
// The entries below the folder; walking them also brings them into the cache.
std::size_t entryCount(const std::filesystem::path &root);
}

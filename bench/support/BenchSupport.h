#pragma once

#include <cstddef>
#include <filesystem>
#include <string>
#include <vector>

// Small helpers the benchmarks share.
namespace BenchSupport
{
double median(std::vector<double> values);
// Runs the program without a shell; false when it failed.
bool runProgram(const std::vector<std::string> &arguments);
// A field of /proc/self/status in KiB ("VmRSS:", "VmHWM:"); -1 when missing.
long statusKiB(const std::string &field);
// The entries below the folder; walking them also brings them into the cache.
std::size_t entryCount(const std::filesystem::path &root);
}

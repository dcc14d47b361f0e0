#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

// A private folder for the run's files, made once and removed when the fuzzer ends.
const std::string &fuzzFolder();
// Writes the bytes as the whole file; aborts when that fails (the fuzzer cannot go on).
void writeWholeFile(const std::string &path, std::string_view bytes);
// Stops the run with a message when an invariant does not hold, so libFuzzer keeps the input.
[[noreturn]] void fuzzFinding(const std::string &what);

inline std::string_view bytesOf(const std::uint8_t *data, std::size_t size)
{
    return std::string_view(reinterpret_cast<const char *>(data), size);
}

#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

#include "Error.h"

// The zip layer's error domain and the user-information key naming an entry.
extern const char *const ZZErrorDomain;
extern const char *const ZZEntryIndexKey;
// Where a zip error keeps the lower-level error that caused it.
extern const char *const ZZUnderlyingErrorKey;
// The platform's "no such file" read error: an empty or missing archive.
extern const char *const ZZCocoaErrorDomain;
constexpr std::int64_t ZZFileReadNoSuchFileError = 260;

enum ZZErrorCode : std::int64_t
{
    ZZOpenReadErrorCode = 0,
    ZZEndOfCentralDirectoryReadErrorCode = 1,
    ZZCentralFileHeaderReadErrorCode = 2,
    ZZLocalFileReadErrorCode = 3,
    ZZOpenWriteErrorCode = 4,
    ZZLocalFileWriteErrorCode = 5,
    ZZCentralFileHeaderWriteErrorCode = 6,
    ZZEndOfCentralDirectoryWriteErrorCode = 7,
    ZZReplaceWriteErrorCode = 8,
    ZZUnsupportedCompressionMethod = 9,
    ZZUnsupportedEncryptionMethod = 10,
    ZZInvalidCRChecksum = 11,
    ZZWrongPassword = 12
};

// The code's own description unless the failure is better said in words of its own.
Error zzError(ZZErrorCode code, std::optional<std::int64_t> entryIndex = {}, const Error *underlying = nullptr,
              std::string_view description = {});

// The lower-level error a zip error carries, rebuilt from its user information.
std::optional<Error> zzUnderlyingError(const Error &error);
// The entry index a zip error carries.
std::optional<std::int64_t> zzEntryIndex(const Error &error);

// Stores the error in the caller's slot when there is one; answers false for `return fail(...)`.
bool zzFail(Error *slot, Error error);

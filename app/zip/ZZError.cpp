#include "ZZError.h"

#include <string>

const char *const ZZErrorDomain = "org.tarnwick.ZZErrorDomain";
const char *const ZZEntryIndexKey = "ZZEntryIndexKey";
const char *const ZZUnderlyingErrorKey = "NSUnderlyingError";
const char *const ZZCocoaErrorDomain = "NSCocoaErrorDomain";

namespace
{
const char *describe(ZZErrorCode code)
{
    switch (code) {
    case ZZOpenReadErrorCode: return "The zip archive could not be read.";
    case ZZEndOfCentralDirectoryReadErrorCode: return "The zip archive has no valid end of central directory.";
    case ZZCentralFileHeaderReadErrorCode: return "The zip archive has a damaged central directory entry.";
    case ZZLocalFileReadErrorCode: return "A zip entry's local header does not match its central directory entry.";
    case ZZOpenWriteErrorCode: return "The zip archive could not be prepared for rewriting.";
    case ZZLocalFileWriteErrorCode: return "A zip entry could not be written.";
    case ZZCentralFileHeaderWriteErrorCode: return "The zip central directory could not be written.";
    case ZZEndOfCentralDirectoryWriteErrorCode: return "The zip end of central directory could not be written.";
    case ZZReplaceWriteErrorCode: return "The rewritten zip archive could not replace the original.";
    case ZZUnsupportedCompressionMethod: return "The zip entry uses an unsupported compression method.";
    case ZZUnsupportedEncryptionMethod: return "The zip entry uses an unsupported encryption method.";
    case ZZInvalidCRChecksum: return "The zip entry's data is damaged (checksum mismatch).";
    case ZZWrongPassword: return "The password for the zip entry is wrong.";
    }
    return "Unknown zip error.";
}
}

Error zzError(ZZErrorCode code, std::optional<std::int64_t> entryIndex, const Error *underlying,
              std::string_view description)
{
    Dictionary info;
    std::string text = description.empty() ? describe(code) : std::string(description);
    if (entryIndex)
        info[ZZEntryIndexKey] = Value(static_cast<long long>(*entryIndex));
    if (underlying) {
        info[ZZUnderlyingErrorKey] = Value(Dictionary{
            {"domain", Value(underlying->domain())},
            {"code", Value(static_cast<long long>(underlying->code()))},
            {Error::LocalizedDescriptionKey, Value(underlying->localizedDescription())}});
        text += " (" + underlying->localizedDescription() + ")";
    }
    info[Error::LocalizedDescriptionKey] = Value(text);
    return Error(ZZErrorDomain, code, std::move(info));
}

std::optional<Error> zzUnderlyingError(const Error &error)
{
    const auto it = error.userInfo().find(ZZUnderlyingErrorKey);
    if (it == error.userInfo().end() || !it->second.asDictionary())
        return std::nullopt;
    const Dictionary &inner = *it->second.asDictionary();
    const auto domain = inner.find("domain");
    const auto code = inner.find("code");
    const auto text = inner.find(Error::LocalizedDescriptionKey);
    if (domain == inner.end() || code == inner.end() || !domain->second.asString() || !code->second.asInteger())
        return std::nullopt;
    Dictionary info;
    if (text != inner.end())
        info[Error::LocalizedDescriptionKey] = text->second;
    return Error(*domain->second.asString(), *code->second.asInteger(), std::move(info));
}

std::optional<std::int64_t> zzEntryIndex(const Error &error)
{
    const auto it = error.userInfo().find(ZZEntryIndexKey);
    if (it == error.userInfo().end() || !it->second.asInteger())
        return std::nullopt;
    return *it->second.asInteger();
}

bool zzFail(Error *slot, Error error)
{
    if (slot)
        *slot = std::move(error);
    return false;
}

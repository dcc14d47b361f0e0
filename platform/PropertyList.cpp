#include "PropertyList.h"

#include <plist/plist.h>

#include <cerrno>
#include <cmath>
#include <cstdlib>
#include <cstring>
#include <fcntl.h>
#include <limits>
#include <memory>
#include <sys/stat.h>
#include <unistd.h>

#include "Error.h"
#include "FileDescriptor.h"
#include "PropertyListScreen.h"

namespace
{
// Seconds between 1970-01-01 and 2001-01-01, the reference date of property lists.
constexpr double referenceDateSince1970 = 978307200.0;
// Deeper nesting than any real file has; it keeps the conversion's recursion bounded.
constexpr int maximumDepth = 512;

struct PlistDeleter
{
    void operator()(plist_t node) const { plist_free(node); }
};
using PlistPointer = std::unique_ptr<void, PlistDeleter>;

struct MallocDeleter
{
    void operator()(void *memory) const { std::free(memory); }
};

Error readError(const std::string &reason)
{
    return Error(PropertyList::ErrorDomain, PropertyList::ReadCorruptError,
                 Dictionary{{Error::LocalizedDescriptionKey, Value("The property list is damaged: " + reason + ".")}});
}

Error writeError(const std::string &reason)
{
    return Error(PropertyList::ErrorDomain, PropertyList::WriteInvalidError,
                 Dictionary{{Error::LocalizedDescriptionKey, Value("The value cannot be written as a property list: " + reason + ".")}});
}

std::int64_t integerFromNode(plist_t node)
{
    std::uint64_t raw = 0;
    plist_get_uint_val(node, &raw);
    if (raw <= static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
        return static_cast<std::int64_t>(raw);
    // libplist keeps signed and unsigned 64-bit integers in one node type; only its XML text
    // tells a negative number (two's complement) from an unsigned one that does not fit.
    char *xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(node, &xml, &length);
    const std::unique_ptr<char, MallocDeleter> owner(xml);
    if (!xml || std::string_view(xml, length).find("<integer>-") == std::string_view::npos)
        throw readError("the integer " + std::to_string(raw) + " is too large");
    return static_cast<std::int64_t>(raw);
}

// libplist hands a date back as whole seconds truncated toward zero plus an unsigned fraction,
// which loses the sign within the second before 2001 and overflows beyond 2038. The double it
// stores is read from a one-element binary list instead: "bplist00", the array's marker and
// its one reference, then the date's marker 0x33 and a big-endian double.
double secondsSinceReferenceDate(plist_t node)
{
    const PlistPointer holder(plist_new_array());
    plist_array_append_item(holder.get(), plist_copy(node));
    char *bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(holder.get(), &bytes, &length);
    const std::unique_ptr<char, MallocDeleter> owner(bytes);
    constexpr std::size_t dateOffset = 10;
    if (bytes && length >= dateOffset + 9 && static_cast<unsigned char>(bytes[dateOffset]) == 0x33) {
        std::uint64_t bits = 0;
        for (std::size_t i = 1; i <= 8; ++i)
            bits = (bits << 8) | static_cast<unsigned char>(bytes[dateOffset + i]);
        double seconds;
        std::memcpy(&seconds, &bits, sizeof seconds);
        return seconds;
    }
    std::int32_t seconds = 0;
    std::int32_t microseconds = 0;
    plist_get_date_val(node, &seconds, &microseconds);
    return seconds + (seconds < 0 ? -microseconds : microseconds) / 1e6;
}

Value valueFromNode(plist_t node, int depth, PropertyList::References references)
{
    if (depth > maximumDepth)
        throw readError("it is nested too deeply");
    switch (plist_get_node_type(node)) {
    case PLIST_BOOLEAN: {
        std::uint8_t flag = 0;
        plist_get_bool_val(node, &flag);
        return Value(flag != 0);
    }
    case PLIST_UINT:
        return Value(static_cast<long long>(integerFromNode(node)));
    case PLIST_REAL: {
        double real = 0;
        plist_get_real_val(node, &real);
        return Value(real);
    }
    case PLIST_STRING: {
        std::uint64_t length = 0;
        const char *text = plist_get_string_ptr(node, &length);
        return Value(std::string(text ? text : "", text ? length : 0));
    }
    case PLIST_DATA: {
        std::uint64_t length = 0;
        const auto *bytes = reinterpret_cast<const std::uint8_t *>(plist_get_data_ptr(node, &length));
        return Value(Data(bytes, bytes + (bytes ? length : 0)));
    }
    case PLIST_DATE:
        return Value(Date{secondsSinceReferenceDate(node) + referenceDateSince1970});
    case PLIST_ARRAY: {
        Array array;
        const std::uint32_t count = plist_array_get_size(node);
        array.reserve(count);
        for (std::uint32_t i = 0; i < count; ++i)
            array.push_back(valueFromNode(plist_array_get_item(node, i), depth + 1, references));
        return Value(std::move(array));
    }
    case PLIST_DICT: {
        Dictionary dictionary;
        plist_dict_iter iterator = nullptr;
        plist_dict_new_iter(node, &iterator);
        const std::unique_ptr<void, MallocDeleter> iteratorOwner(iterator);
        for (;;) {
            char *key = nullptr;
            plist_t item = nullptr;
            plist_dict_next_item(node, iterator, &key, &item);
            const std::unique_ptr<char, MallocDeleter> keyOwner(key);
            if (!item)
                break;
            dictionary.insert_or_assign(key ? key : "", valueFromNode(item, depth + 1, references));
        }
        return Value(std::move(dictionary));
    }
    case PLIST_UID: {
        if (references != PropertyList::References::AsUIDDictionaries)
            throw readError("it holds a keyed-archive reference");
        std::uint64_t uid = 0;
        plist_get_uid_val(node, &uid);
        if (uid > static_cast<std::uint64_t>(std::numeric_limits<std::int64_t>::max()))
            throw readError("it holds a keyed-archive reference that does not fit");
        return Value(Dictionary{{PropertyList::UIDKey, Value(static_cast<long long>(uid))}});
    }
    case PLIST_KEY:
    case PLIST_NONE:
        break;
    }
    throw readError("it holds a value of an unknown type");
}

void checkText(const std::string &text, const char *what)
{
    if (text.find('\0') != std::string::npos)
        throw writeError(std::string("a ") + what + " contains a NUL character");
}

plist_t dateNode(const Date &date)
{
    const double sinceReference = date.secondsSince1970 - referenceDateSince1970;
    double wholeSeconds = std::floor(sinceReference);
    double microseconds = std::round((sinceReference - wholeSeconds) * 1e6);
    if (microseconds >= 1e6) {
        wholeSeconds += 1;
        microseconds = 0;
    }
    if (!std::isfinite(sinceReference) || wholeSeconds < std::numeric_limits<std::int32_t>::min()
        || wholeSeconds > std::numeric_limits<std::int32_t>::max())
        throw writeError("the date lies outside the range libplist can write");
    return plist_new_date(static_cast<std::int32_t>(wholeSeconds), static_cast<std::int32_t>(microseconds));
}

// A dictionary that stands for a keyed-archive reference: its one entry is "CF$UID" with an integer.
const std::int64_t *uidOf(const Dictionary &dictionary)
{
    if (dictionary.size() != 1 || dictionary.begin()->first != PropertyList::UIDKey)
        return nullptr;
    const std::int64_t *uid = dictionary.begin()->second.asInteger();
    return uid && *uid >= 0 ? uid : nullptr;
}

plist_t nodeFromValue(const Value &value, PropertyList::References references)
{
    switch (value.type()) {
    case Value::Type::Null:
        throw writeError("it holds a null value");
    case Value::Type::Boolean:
        return plist_new_bool(*value.asBoolean() ? 1 : 0);
    case Value::Type::Integer:
        // Stored as the two's complement, which libplist writes back as a negative number.
        return plist_new_uint(static_cast<std::uint64_t>(*value.asInteger()));
    case Value::Type::Real:
        return plist_new_real(*value.asReal());
    case Value::Type::String:
        checkText(*value.asString(), "string");
        return plist_new_string(value.asString()->c_str());
    case Value::Type::Data: {
        const Data &data = *value.asData();
        return plist_new_data(reinterpret_cast<const char *>(data.data()), data.size());
    }
    case Value::Type::Date:
        return dateNode(*value.asDate());
    case Value::Type::Array: {
        PlistPointer array(plist_new_array());
        for (const Value &item : *value.asArray())
            plist_array_append_item(array.get(), nodeFromValue(item, references));
        return array.release();
    }
    case Value::Type::Dictionary: {
        if (references == PropertyList::References::AsUIDDictionaries)
            if (const std::int64_t *uid = uidOf(*value.asDictionary()))
                return plist_new_uid(static_cast<std::uint64_t>(*uid));
        PlistPointer dictionary(plist_new_dict());
        for (const auto &[key, item] : *value.asDictionary()) {
            checkText(key, "dictionary key");
            plist_dict_set_item(dictionary.get(), key.c_str(), nodeFromValue(item, references));
        }
        return dictionary.release();
    }
    }
    throw writeError("it holds a value of an unknown type");
}
}

Value PropertyList::parse(std::string_view bytes, References references)
{
    if (bytes.empty())
        throw readError("it is empty");
    if (bytes.size() > std::numeric_limits<std::uint32_t>::max())
        throw readError("it is too large");
    if (const std::string problem = PropertyListScreen::problemIn(bytes); !problem.empty())
        throw readError(problem);
    plist_t root = nullptr;
    plist_from_memory(bytes.data(), static_cast<std::uint32_t>(bytes.size()), &root);
    if (!root)
        throw readError("it is neither an XML nor a binary property list");
    const PlistPointer owner(root);
    return valueFromNode(root, 0, references);
}

Value PropertyList::readFile(const std::string &path)
{
    // Non-blocking, so that a FIFO at the path cannot hang the caller; only regular files are read.
    const FileDescriptor file(open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NONBLOCK));
    if (!file.isValid())
        throw Error::POSIXerrno();
    const int descriptor = file.get();
    struct stat status {};
    if (fstat(descriptor, &status) != 0)
        throw Error::POSIXerrno();
    if (!S_ISREG(status.st_mode))
        throw Error::posix(S_ISDIR(status.st_mode) ? EISDIR : EINVAL);
    if (static_cast<std::uint64_t>(status.st_size) > std::numeric_limits<std::uint32_t>::max())
        throw readError("it is too large");
    std::string contents;
    char buffer[65536];
    for (;;) {
        const ssize_t count = read(descriptor, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count < 0)
            throw Error::POSIXerrno();
        if (count == 0)
            break;
        contents.append(buffer, static_cast<std::size_t>(count));
    }
    return parse(contents);
}

std::string PropertyList::toXML(const Value &value)
{
    const PlistPointer root(nodeFromValue(value, References::Refused));
    char *xml = nullptr;
    std::uint32_t length = 0;
    plist_to_xml(root.get(), &xml, &length);
    const std::unique_ptr<char, MallocDeleter> owner(xml);
    if (!xml)
        throw writeError("libplist could not write it");
    return std::string(xml, length);
}

std::string PropertyList::toBinary(const Value &value, References references)
{
    const PlistPointer root(nodeFromValue(value, references));
    char *bytes = nullptr;
    std::uint32_t length = 0;
    plist_to_bin(root.get(), &bytes, &length);
    const std::unique_ptr<char, MallocDeleter> owner(bytes);
    if (!bytes)
        throw writeError("libplist could not write it");
    return std::string(bytes, length);
}

#include "KeyedArchive.h"

#include <cmath>
#include <string_view>

#include "Error.h"
#include "PropertyList.h"

namespace
{
constexpr double referenceDateSince1970 = 978307200.0;
constexpr const char *archiverName = "NSKeyedArchiver";
constexpr long long archiveVersion = 100000;

Value reference(long long uid)
{
    return Value(Dictionary{{PropertyList::UIDKey, Value(uid)}});
}

// The index a reference stands for, or nullopt when the value is no reference.
std::optional<std::size_t> referenceIndex(const Value *value)
{
    const Dictionary *dictionary = value ? value->asDictionary() : nullptr;
    if (!dictionary || dictionary->size() != 1)
        return std::nullopt;
    const auto found = dictionary->find(PropertyList::UIDKey);
    if (found == dictionary->end())
        return std::nullopt;
    const std::int64_t *uid = found->second.asInteger();
    if (!uid || *uid < 0)
        return std::nullopt;
    return static_cast<std::size_t>(*uid);
}

const Value *entry(const Dictionary &dictionary, const std::string &key)
{
    const auto found = dictionary.find(key);
    return found == dictionary.end() ? nullptr : &found->second;
}
}

Data KeyedArchive::archivedDataWithDate(const Date &date)
{
    const Value dateClass(Dictionary{{"$classname", Value("NSDate")},
                                     {"$classes", Value(Array{Value("NSDate"), Value("NSObject")})}});
    const Value root(Dictionary{{"NS.time", Value(date.secondsSince1970 - referenceDateSince1970)},
                                {"$class", reference(2)}});
    const Value archive(Dictionary{
        {"$archiver", Value(archiverName)},
        {"$version", Value(archiveVersion)},
        {"$top", Value(Dictionary{{"root", reference(1)}})},
        {"$objects", Value(Array{Value("$null"), root, dateClass})},
    });
    const std::string bytes = PropertyList::toBinary(archive, PropertyList::References::AsUIDDictionaries);
    return Data(bytes.begin(), bytes.end());
}

std::optional<Date> KeyedArchive::unarchivedDate(const Data &data)
{
    Value archive;
    try {
        archive = PropertyList::parse(std::string_view(reinterpret_cast<const char *>(data.data()), data.size()),
                                      PropertyList::References::AsUIDDictionaries);
    } catch (const Error &) {
        return std::nullopt;
    }
    const Dictionary *top = archive.asDictionary();
    if (!top)
        return std::nullopt;
    const Value *archiver = entry(*top, "$archiver");
    const Value *topObjects = entry(*top, "$top");
    const Value *objectsValue = entry(*top, "$objects");
    if (!archiver || !archiver->asString() || *archiver->asString() != archiverName || !topObjects
        || !topObjects->asDictionary() || !objectsValue || !objectsValue->asArray())
        return std::nullopt;
    const Array &objects = *objectsValue->asArray();
    const std::optional<std::size_t> rootIndex = referenceIndex(entry(*topObjects->asDictionary(), "root"));
    if (!rootIndex || *rootIndex >= objects.size() || !objects[*rootIndex].asDictionary())
        return std::nullopt;
    const Dictionary &root = *objects[*rootIndex].asDictionary();

    const std::optional<std::size_t> classIndex = referenceIndex(entry(root, "$class"));
    if (!classIndex || *classIndex >= objects.size() || !objects[*classIndex].asDictionary())
        return std::nullopt;
    const Value *className = entry(*objects[*classIndex].asDictionary(), "$classname");
    if (!className || !className->asString() || (*className->asString() != "NSDate" && *className->asString() != "__NSDate"))
        return std::nullopt;

    const Value *time = entry(root, "NS.time");
    double seconds = 0;
    if (time && time->asReal())
        seconds = *time->asReal();
    else if (time && time->asInteger())
        seconds = static_cast<double>(*time->asInteger());
    else
        return std::nullopt;
    if (!std::isfinite(seconds))
        return std::nullopt;
    return Date{seconds + referenceDateSince1970};
}

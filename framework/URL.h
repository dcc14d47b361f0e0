#pragma once

#include <compare>
#include <optional>
#include <set>
#include <string>
#include <type_traits>
#include <variant>

#include "TallowExport.h"
#include "URLValues.h"

// A file URL: an absolute path, with the questions the system asks of the item there.
// Every question answers without throwing; a missing item gives nullopt or false.
class TALLOW_EXPORT URL
{
public:
    URL() = default;

    // A relative path is taken from the current folder (and left relative when that folder
    // cannot be found); repeated and final slashes go.
    static URL fileURLWithPath(const std::string &path);
    // A leading "~" expanded to the home folder; nullopt when nothing is there.
    static std::optional<URL> URLForFileWhichExists(const std::string &path);

    const std::string &path() const { return m_path; }
    std::string lastPathComponent() const;
    URL appendingPathComponent(const std::string &component) const;
    URL deletingLastPathComponent() const;

    // The values of the keys for the item itself (a symbolic link is not followed);
    // nullopt when the item cannot be examined. Keys without a value are absent.
    std::optional<URLResourceValues> resourceValues(const std::set<URLValues> &keys) const;

    // One value as the type the caller names; nullopt when missing or of another type.
    template<typename T>
    std::optional<T> value(URLValues key) const;

    // Something (a link included) is at the path.
    bool isReachable() const;
    // The root of the volume holding the item.
    std::optional<URL> volume() const;
    // The localised name, else the last path component.
    std::string displayName() const;
    // The path without its volumes-folder prefix ("/media/me/Data/Photos" → "Data/Photos").
    std::string displayPath() const;
    // The translated file-system type of the volume holding the item ("msdos", "ext4").
    std::optional<std::string> diskFormatRaw() const;

    auto operator<=>(const URL &) const = default;

private:
    explicit URL(std::string path);

    std::string m_path;
};

namespace URLDetail
{
template<typename T, typename Variant>
struct IsAlternative;

template<typename T, typename... Alternatives>
struct IsAlternative<T, std::variant<Alternatives...>> : std::disjunction<std::is_same<T, Alternatives>...>
{
};
}

template<typename T>
std::optional<T> URL::value([[maybe_unused]] URLValues key) const
{
    if constexpr (!URLDetail::IsAlternative<T, URLResourceValue>::value) {
        return std::nullopt;
    } else {
        const std::optional<URLResourceValues> values = resourceValues({key});
        if (!values)
            return std::nullopt;
        const std::optional<URLResourceValue> member = get(key, *values);
        if (!member)
            return std::nullopt;
        if (const T *typed = std::get_if<T>(&*member))
            return *typed;
        return std::nullopt;
    }
}

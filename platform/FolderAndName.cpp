#include "FolderAndName.h"

FolderAndName FolderAndName::of(std::string_view path)
{
    const std::string_view item = trimmed(path);
    if (item == "/")
        return {"/", {}};
    const std::size_t slash = item.rfind('/');
    if (slash == std::string_view::npos)
        return {".", std::string(item)};
    return {slash == 0 ? "/" : std::string(item.substr(0, slash)), std::string(item.substr(slash + 1))};
}

std::string FolderAndName::nameOf(std::string_view path)
{
    const std::string_view item = trimmed(path);
    if (item == "/")
        return {};
    return std::string(item.substr(item.rfind('/') + 1));
}

std::string_view FolderAndName::trimmed(std::string_view path)
{
    while (path.size() > 1 && path.back() == '/')
        path.remove_suffix(1);
    return path;
}

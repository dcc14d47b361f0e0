#pragma once

#include <string>
#include <string_view>

#include "TallowExport.h"

// A path cut at its last slash, trailing slashes ignored: "a/b/" is the folder "a" and the
// name "b"; a bare name lies in "."; "/x" lies in "/". The root itself is "/" with no name.
struct TALLOW_EXPORT FolderAndName
{
    std::string folder;
    std::string name;

    static FolderAndName of(std::string_view path);
    // The name alone.
    static std::string nameOf(std::string_view path);
    // The path without trailing slashes ("/" stays "/").
    static std::string_view trimmed(std::string_view path);
};

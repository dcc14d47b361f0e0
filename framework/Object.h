#pragma once

#include "TallowExport.h"

// The root of the classes that weak boxes and delegate lists refer to; its type
// information lives in libTallow so that casts agree across libraries.
class TALLOW_EXPORT Object
{
public:
    Object() = default;
    Object(const Object &) = default;
    Object &operator=(const Object &) = default;
    virtual ~Object();
};

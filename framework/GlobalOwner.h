#pragma once

#include <cstddef>
#include <memory>
#include <type_traits>

#include "TallowExport.h"

// A process-wide list of strong references that keeps objects (windows and their
// controllers) alive until they are removed. Main thread only.
class TALLOW_EXPORT GlobalOwner
{
public:
    // Appends a reference; adding the same object twice keeps two entries.
    template <typename T>
    static void add(const std::shared_ptr<T> &object)
    {
        addEntry(std::shared_ptr<const void>(object), identity(object.get()));
    }

    // Takes out the first entry that is that very object; nothing when there is none.
    // The reference is released on a later turn of the main loop, so an object may
    // remove itself from inside one of its own calls.
    template <typename T>
    static void remove(const T *object)
    {
        removeEntry(identity(object));
    }

    // The number of entries.
    static std::size_t count();

private:
    // The address of the whole object, whatever base it is seen through.
    template <typename T>
    static const void *identity(const T *object)
    {
        if constexpr (std::is_polymorphic_v<T>)
            return object ? dynamic_cast<const void *>(object) : nullptr;
        else
            return object;
    }

    static void addEntry(std::shared_ptr<const void> reference, const void *identity);
    static void removeEntry(const void *identity);
};

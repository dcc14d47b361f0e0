#pragma once

#include <memory>

#include "Object.h"

// A weak box: it never keeps its object alive. T may be any class that the
// object's dynamic type derives from, including an interface beside Object.
template <typename T>
class WeakObject
{
public:
    WeakObject() = default;
    explicit WeakObject(const std::shared_ptr<Object> &value)
        : m_value(value)
    {
    }

    // The object while it lives and is a T; null otherwise.
    std::shared_ptr<T> object() const { return std::dynamic_pointer_cast<T>(m_value.lock()); }

private:
    std::weak_ptr<Object> m_value;
};

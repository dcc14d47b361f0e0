#include "Value.h"

#include <chrono>

Date Date::now()
{
    using namespace std::chrono;
    return Date{duration<double>(system_clock::now().time_since_epoch()).count()};
}

Value::Value() = default;
Value::Value(std::nullptr_t) {}
Value::Value(bool b) : m_storage(b) {}
Value::Value(int i) : m_storage(std::int64_t(i)) {}
Value::Value(long i) : m_storage(std::int64_t(i)) {}
Value::Value(long long i) : m_storage(std::int64_t(i)) {}
Value::Value(unsigned int i) : m_storage(std::int64_t(i)) {}
Value::Value(double d) : m_storage(d) {}
Value::Value(const char *s) : m_storage(std::string(s)) {}
Value::Value(std::string s) : m_storage(std::move(s)) {}
Value::Value(::Data d) : m_storage(std::move(d)) {}
Value::Value(::Date d) : m_storage(d) {}
Value::Value(::Array a) : m_storage(std::make_shared<::Array>(std::move(a))) {}
Value::Value(::Dictionary d) : m_storage(std::make_shared<::Dictionary>(std::move(d))) {}

Value::Type Value::type() const
{
    return static_cast<Type>(m_storage.index());
}

template <typename T, typename S>
static const T *getIf(const S &storage)
{
    return std::get_if<T>(&storage);
}

const bool *Value::asBoolean() const { return getIf<bool>(m_storage); }
const std::int64_t *Value::asInteger() const { return getIf<std::int64_t>(m_storage); }
const double *Value::asReal() const { return getIf<double>(m_storage); }
const std::string *Value::asString() const { return getIf<std::string>(m_storage); }
const ::Data *Value::asData() const { return getIf<::Data>(m_storage); }
const ::Date *Value::asDate() const { return getIf<::Date>(m_storage); }

const ::Array *Value::asArray() const
{
    const auto *p = std::get_if<std::shared_ptr<::Array>>(&m_storage);
    return p ? p->get() : nullptr;
}

const ::Dictionary *Value::asDictionary() const
{
    const auto *p = std::get_if<std::shared_ptr<::Dictionary>>(&m_storage);
    return p ? p->get() : nullptr;
}

// Containers are shared between copies; a mutable access detaches this copy first.
::Array *Value::asArray()
{
    auto *p = std::get_if<std::shared_ptr<::Array>>(&m_storage);
    if (!p)
        return nullptr;
    if (p->use_count() > 1)
        *p = std::make_shared<::Array>(**p);
    return p->get();
}

::Dictionary *Value::asDictionary()
{
    auto *p = std::get_if<std::shared_ptr<::Dictionary>>(&m_storage);
    if (!p)
        return nullptr;
    if (p->use_count() > 1)
        *p = std::make_shared<::Dictionary>(**p);
    return p->get();
}

bool Value::operator==(const Value &other) const
{
    if (type() != other.type())
        return false;
    switch (type()) {
    case Type::Null:
        return true;
    case Type::Boolean:
        return *asBoolean() == *other.asBoolean();
    case Type::Integer:
        return *asInteger() == *other.asInteger();
    case Type::Real:
        return *asReal() == *other.asReal();
    case Type::String:
        return *asString() == *other.asString();
    case Type::Data:
        return *asData() == *other.asData();
    case Type::Date:
        return *asDate() == *other.asDate();
    case Type::Array:
        return *asArray() == *other.asArray();
    case Type::Dictionary:
        return *asDictionary() == *other.asDictionary();
    }
    return false;
}

#pragma once

#include <cstdint>
#include <map>
#include <memory>
#include <optional>
#include <string>
#include <variant>
#include <vector>

#include "TallowExport.h"

class Value;

using Array = std::vector<Value>;
using Dictionary = std::map<std::string, Value>;
using Data = std::vector<std::uint8_t>;

// A point in time, as seconds since 1970-01-01 UTC (wall clock).
struct TALLOW_EXPORT Date
{
    double secondsSince1970 = 0;

    static Date now();
    static constexpr double oneDayInSeconds = 86400.0;
    double timeIntervalSince(const Date &other) const { return secondsSince1970 - other.secondsSince1970; }
    bool operator==(const Date &) const = default;
};

// A property-list value: what user defaults, stored dictionaries and
// notification user info hold. Strings are UTF-8.
class TALLOW_EXPORT Value
{
public:
// The enumerators name the global container types on purpose.
#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wshadow"
    enum class Type { Null, Boolean, Integer, Real, String, Data, Date, Array, Dictionary };
#pragma GCC diagnostic pop

    Value();
    Value(std::nullptr_t);
    Value(bool b);
    Value(int i);
    Value(long i);
    Value(long long i);
    Value(unsigned int i);
    Value(double d);
    Value(const char *s);
    Value(std::string s);
    Value(::Data d);
    Value(::Date d);
    Value(::Array a);
    Value(::Dictionary d);

    Type type() const;
    bool isNull() const { return type() == Type::Null; }

    // Exact accessors: nullptr when the value holds another type.
    const bool *asBoolean() const;
    const std::int64_t *asInteger() const;
    const double *asReal() const;
    const std::string *asString() const;
    const ::Data *asData() const;
    const ::Date *asDate() const;
    const ::Array *asArray() const;
    const ::Dictionary *asDictionary() const;
    ::Array *asArray();
    ::Dictionary *asDictionary();

    bool operator==(const Value &other) const;

private:
    using Storage = std::variant<std::monostate, bool, std::int64_t, double, std::string, ::Data, ::Date,
                                 std::shared_ptr<::Array>, std::shared_ptr<::Dictionary>>;
    Storage m_storage;
};

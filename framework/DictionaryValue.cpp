#include "DictionaryValue.h"

#include <limits>

bool readValue(const Value &value, bool &out)
{
    if (const bool *b = value.asBoolean()) {
        out = *b;
        return true;
    }
    if (const std::int64_t *i = value.asInteger(); i && (*i == 0 || *i == 1)) {
        out = *i == 1;
        return true;
    }
    if (const double *d = value.asReal(); d && (*d == 0.0 || *d == 1.0)) {
        out = *d == 1.0;
        return true;
    }
    return false;
}

bool readValue(const Value &value, std::int64_t &out)
{
    if (const std::int64_t *i = value.asInteger()) {
        out = *i;
        return true;
    }
    if (const bool *b = value.asBoolean()) {
        out = *b ? 1 : 0;
        return true;
    }
    return false;
}

bool readValue(const Value &value, int &out)
{
    std::int64_t wide = 0;
    if (!readValue(value, wide))
        return false;
    if (wide < std::numeric_limits<int>::min() || wide > std::numeric_limits<int>::max())
        return false;
    out = static_cast<int>(wide);
    return true;
}

bool readValue(const Value &value, double &out)
{
    if (const double *d = value.asReal()) {
        out = *d;
        return true;
    }
    if (const std::int64_t *i = value.asInteger()) {
        out = static_cast<double>(*i);
        return true;
    }
    if (const bool *b = value.asBoolean()) {
        out = *b ? 1.0 : 0.0;
        return true;
    }
    return false;
}

template <typename T>
static bool readExactly(const T *held, T &out)
{
    if (!held)
        return false;
    out = *held;
    return true;
}

bool readValue(const Value &value, std::string &out) { return readExactly(value.asString(), out); }
bool readValue(const Value &value, Data &out) { return readExactly(value.asData(), out); }
bool readValue(const Value &value, Date &out) { return readExactly(value.asDate(), out); }
bool readValue(const Value &value, Array &out) { return readExactly(value.asArray(), out); }
bool readValue(const Value &value, Dictionary &out) { return readExactly(value.asDictionary(), out); }

bool readValue(const Value &value, Value &out)
{
    if (value.isNull())
        return false;
    out = value;
    return true;
}

Error valueForKeyFailed(const std::string &key)
{
    return Error("valueForKey failed: " + key, 0);
}

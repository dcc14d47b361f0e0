#pragma once

#include <cstdlib>
#include <optional>
#include <string>

// Sets (or, with nullopt, unsets) an environment variable for the life of the object.
class EnvironmentOverride
{
public:
    EnvironmentOverride(std::string name, const std::optional<std::string> &value) : m_name(std::move(name))
    {
        if (const char *previous = std::getenv(m_name.c_str()))
            m_previous = previous;
        value ? setenv(m_name.c_str(), value->c_str(), 1) : unsetenv(m_name.c_str());
    }
    ~EnvironmentOverride() { m_previous ? setenv(m_name.c_str(), m_previous->c_str(), 1) : unsetenv(m_name.c_str()); }
    EnvironmentOverride(const EnvironmentOverride &) = delete;
    EnvironmentOverride &operator=(const EnvironmentOverride &) = delete;

private:
    std::string m_name;
    std::optional<std::string> m_previous;
};

#include "Error.h"

#include <cerrno>
#include <cstring>

Error::Error(std::string domain, std::int64_t code, Dictionary userInfo)
    : m_domain(std::move(domain)), m_code(code), m_userInfo(std::move(userInfo))
{
    m_what = localizedDescription();
}

Error Error::POSIXerrno()
{
    const int code = errno;
    return posix(code);
}

Error Error::posix(int code)
{
    char buffer[256];
    // GNU strerror_r returns the text, which may or may not be in buffer.
    const char *text = strerror_r(code, buffer, sizeof buffer);
    return Error(POSIXDomain, code, Dictionary{{LocalizedDescriptionKey, Value(std::string(text))}});
}

Error Error::posix(int code, const std::string &description)
{
    return Error(POSIXDomain, code, Dictionary{{LocalizedDescriptionKey, Value(description)}});
}

std::string Error::localizedDescription() const
{
    const auto it = m_userInfo.find(LocalizedDescriptionKey);
    if (it != m_userInfo.end() && it->second.asString())
        return *it->second.asString();
    return "The operation couldn’t be completed. (" + m_domain + " error " + std::to_string(m_code) + ".)";
}

const char *Error::what() const noexcept
{
    return m_what.c_str();
}

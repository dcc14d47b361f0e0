#pragma once

#include <cstdint>
#include <exception>
#include <string>

#include "TallowExport.h"
#include "Value.h"

// An error with a domain, an integer code and user information; thrown by
// operations that can fail and handed back through optional out-parameters.
class TALLOW_EXPORT Error : public std::exception
{
public:
    static constexpr const char *POSIXDomain = "NSPOSIXErrorDomain";
    static constexpr const char *LocalizedDescriptionKey = "NSLocalizedDescription";

    Error() = default;
    Error(std::string domain, std::int64_t code, Dictionary userInfo = {});

    // The calling thread's errno, read first, in the POSIX domain with strerror's text.
    static Error POSIXerrno();
    static Error posix(int code);
    // The code with a description of our own, where strerror's text would not say what happened.
    static Error posix(int code, const std::string &description);

    const std::string &domain() const { return m_domain; }
    std::int64_t code() const { return m_code; }
    const Dictionary &userInfo() const { return m_userInfo; }

    // The description the user sees: the user info's description when present,
    // else a generic text naming the domain and code.
    std::string localizedDescription() const;
    const char *what() const noexcept override;

private:
    std::string m_domain;
    std::int64_t m_code = 0;
    Dictionary m_userInfo;
    std::string m_what;
};

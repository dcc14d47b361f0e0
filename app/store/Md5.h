#pragma once

#include <string>

// The MD5 digest (RFC 1321) of the string's UTF-8 bytes up to its first NUL, as 32
// lower-case hexadecimal digits. Black-list items are named by it, so it is stored data.
std::string md5(const std::string &string);

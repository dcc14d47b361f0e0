#include "ErrorDescription.h"

#include "Error.h"

std::string errorDescription(const Error &error)
{
    return "Error Domain=" + error.domain() + " Code=" + std::to_string(error.code()) + " \""
           + error.localizedDescription() + "\"";
}

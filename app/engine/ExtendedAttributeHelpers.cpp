#include "ExtendedAttributeHelpers.h"

#include "ExtendedAttributes.h"

void removeExtendedAttribute(const std::string &url, const std::string &name)
{
    ExtendedAttributes::remove(url, name);
}

std::vector<std::string> listExtendedAttributes(const std::string &url)
{
    return ExtendedAttributes::list(url);
}

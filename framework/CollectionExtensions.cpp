#include "CollectionExtensions.h"

#include <QLocale>

#include <unicode/coll.h>
#include <unicode/stringpiece.h>

#include <memory>

std::vector<std::string> localizedSort(std::vector<std::string> strings)
{
    UErrorCode status = U_ZERO_ERROR;
    const icu::Locale locale(QLocale().name().toStdString().c_str());
    std::unique_ptr<icu::Collator> collator(icu::Collator::createInstance(locale, status));
    if (U_FAILURE(status)) {
        std::stable_sort(strings.begin(), strings.end());
        return strings;
    }
    std::stable_sort(strings.begin(), strings.end(), [&collator](const std::string &a, const std::string &b) {
        UErrorCode compareStatus = U_ZERO_ERROR;
        return collator->compareUTF8(icu::StringPiece(a), icu::StringPiece(b), compareStatus) == UCOL_LESS;
    });
    return strings;
}

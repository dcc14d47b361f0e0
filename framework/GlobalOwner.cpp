#include "GlobalOwner.h"

#include <QCoreApplication>
#include <QMetaObject>

#include <algorithm>
#include <utility>
#include <vector>

namespace
{
struct Entry
{
    std::shared_ptr<const void> reference;
    const void *identity;
};

std::vector<Entry> &entries()
{
    static std::vector<Entry> list;
    return list;
}
}

void GlobalOwner::addEntry(std::shared_ptr<const void> reference, const void *identity)
{
    if (!reference)
        return;
    entries().push_back({std::move(reference), identity});
}

void GlobalOwner::removeEntry(const void *identity)
{
    auto &list = entries();
    const auto found = std::find_if(list.begin(), list.end(),
                                    [identity](const Entry &entry) { return entry.identity == identity; });
    if (found == list.end())
        return;
    std::shared_ptr<const void> reference = std::move(found->reference);
    list.erase(found);
    if (QCoreApplication *application = QCoreApplication::instance())
        QMetaObject::invokeMethod(application, [released = std::move(reference)]() mutable { released.reset(); },
                                  Qt::QueuedConnection);
}

std::size_t GlobalOwner::count()
{
    return entries().size();
}

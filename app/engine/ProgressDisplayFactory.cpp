#include "ProgressDisplayFactory.h"

#include <mutex>

namespace
{
std::mutex factoryMutex;
std::shared_ptr<ProgressDisplayFactory> installedFactory;
}

ProgressDisplayFactory::~ProgressDisplayFactory() = default;

std::shared_ptr<ProgressDisplayFactory> ProgressDisplayFactory::current()
{
    std::lock_guard lock(factoryMutex);
    return installedFactory;
}

void ProgressDisplayFactory::setCurrent(std::shared_ptr<ProgressDisplayFactory> factory)
{
    std::lock_guard lock(factoryMutex);
    installedFactory = std::move(factory);
}

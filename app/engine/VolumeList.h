#pragma once

#include <vector>

#include "URL.h"

class MountTable;

// The writable mounted volumes, read from the mount table at each call: no observers, no state.
class VolumeList
{
public:
    // The visible volumes, in mount-table order, that are not hidden and not mounted read-only;
    // a volume whose facts cannot be read counts as writable. The root "/" is among them when writable.
    static std::vector<URL> buildRWVolumeURLList();
    static std::vector<URL> buildRWVolumeURLList(const MountTable &table);
    // The volumes whose roots the engine cleans before a folder's own metadata.
    static std::vector<URL> localVolumeList();
};

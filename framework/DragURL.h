#pragma once

#include <optional>
#include <string>

#include "TallowExport.h"

class QMimeData;

// The path of the URL a drag carries: its first URL when the drag offers URLs
// ("text/uri-list") and that URL is a local file; nothing otherwise. The path
// keeps the file name's bytes exactly.
TALLOW_EXPORT std::optional<std::string> urlFromDrag(const QMimeData *mimeData);

#pragma once

// libTallow is built with hidden visibility; only what carries this is exported.
#define TALLOW_EXPORT __attribute__((visibility("default")))

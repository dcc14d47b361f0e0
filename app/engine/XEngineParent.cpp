#include "XEngineParent.h"

XEngineParent::~XEngineParent() = default;

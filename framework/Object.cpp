#include "Object.h"

Object::~Object() = default;

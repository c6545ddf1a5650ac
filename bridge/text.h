// The bridge's text routines (flat JSON lookup, JSON and script escapes, UTF-8/UTF-16). They
// live in the ground folder, since every subsystem uses them; this header keeps the bridge's
// name for them.
#pragma once

#include "core/text.h"

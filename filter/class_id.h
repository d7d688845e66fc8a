// The filter's class identifier: served by the module, returned by the filter object's
// GetClassID and written to the registry by registration.
#pragma once

#include "platform/platform.h"

// {6E1C2D47-A93B-4F20-9D84-5B7A0C3E61F9}
const CLSID FilterClassId = {0x6e1c2d47, 0xa93b, 0x4f20,
                             {0x9d, 0x84, 0x5b, 0x7a, 0x0c, 0x3e, 0x61, 0xf9}};

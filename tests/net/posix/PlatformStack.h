// The net tests' platform stack on POSIX, and the resolver's codes it returns
// (getaddrinfo's EAI_ values). tests/net/CMakeLists.txt puts this folder or
// its Windows sibling on the include path.
#pragma once

#include <netdb.h>

#include "net/IdStackPosix.h"

using TIdStackPlatform = TIdStackPosix;

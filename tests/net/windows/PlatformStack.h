// The net tests' platform stack on Windows, and the resolver's codes it
// returns (getaddrinfo's EAI_ values, which are socket error numbers here).
// tests/net/CMakeLists.txt puts this folder or its POSIX sibling on the
// include path.
#pragma once

// Only the sockets: the full windows.h turns names such as SetPort into
// macros, and the tests call the library's SetPort.
#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#include <ws2tcpip.h>

#include "net/IdStackWindows.h"

using TIdStackPlatform = TIdStackWindows;

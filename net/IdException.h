// The network library's base failure. Every failure raised by the network
// components (notifications, socket layer, UDP endpoint, TFTP client) derives
// from EIdException, so a caller can catch them all in one place.
#pragma once

#include "runtime/Exception.h"

class EIdException : public Exception {
public:
    using Exception::Exception;
};

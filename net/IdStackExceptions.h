// The failure classes of the socket layer: socket errors with their socket
// error number, the socket handle's bind and send faults, the stack's creation
// faults and the invalid IPv6 text. Only classes here, so a caller that
// catches them needs no stack.
#pragma once

#include <string>
#include <utility>

#include "net/IdException.h"

/// A failing socket call: "Socket Error # %d\r\n%s" with the socket error number.
class EIdSocketError : public EIdException {
public:
    EIdSocketError(int ALastError, std::string message)
        : EIdException(std::move(message)), lastError_(ALastError) {}
    int LastError() const noexcept { return lastError_; }

private:
    int lastError_;
};

/// Socket error 10038: the value is not a socket.
class EIdNotASocket : public EIdSocketError {
public:
    using EIdSocketError::EIdSocketError;
};

class EIdSocketHandleError : public EIdException {
public:
    using EIdException::EIdException;
};

/// "Could not bind socket."
class EIdCouldNotBindSocket : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

/// "Invalid Port Range (%d - %d)"
class EIdInvalidPortRange : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

/// "Can not bind in port range (%d - %d)"
class EIdCanNotBindPortInRange : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

/// "Cannot change IPVersion when connected"
class EIdCannotSetIPVersionWhenConnected : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

/// "Package Size Too Big."
class EIdPackageSizeTooBig : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

/// "Not all bytes sent."
class EIdNotAllBytesSent : public EIdSocketHandleError {
public:
    using EIdSocketHandleError::EIdSocketHandleError;
};

class EIdSilentException : public EIdException {
public:
    using EIdException::EIdException;
};

/// "Connection Closed Gracefully."
class EIdConnClosedGracefully : public EIdSilentException {
public:
    using EIdSilentException::EIdSilentException;
};

/// Faults in creating or using the process-wide stack.
class EIdStackError : public EIdException {
public:
    using EIdException::EIdException;
};

/// "Set Size Exceeded."
class EIdStackSetSizeExceeded : public EIdStackError {
public:
    using EIdStackError::EIdStackError;
};

/// "The requested IPVersion / Address family is not supported."
class EIdIPVersionUnsupported : public EIdStackError {
public:
    using EIdStackError::EIdStackError;
};

/// The platform socket library failed to start; carries the cause's message.
class EIdStackInitializationFailed : public EIdStackError {
public:
    using EIdStackError::EIdStackError;
};

/// The platform socket library or one of its functions could not be loaded.
/// Only a platform that loads its socket library at run time raises it.
class EIdWinsockStubError : public EIdException {
public:
    EIdWinsockStubError(int AWin32Error, std::string message)
        : EIdException(std::move(message)), win32Error_(AWin32Error) {}
    int Win32Error() const noexcept { return win32Error_; }

private:
    int win32Error_;
};

/// "%s is not a valid IPv6 address"
class EIdInvalidIPv6Address : public EIdException {
public:
    using EIdException::EIdException;
};

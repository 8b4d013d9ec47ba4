// The runtime's failure classes. Every failure the system raises is an
// Exception carrying one message text; layers above derive their own families
// (EIdException in net/, the EIdTFTP family in tftp/). Nothing platform- or
// protocol-specific belongs here.
#pragma once

#include <exception>
#include <string>

/// Base of every failure: one message text, 8-bit, byte for byte.
class Exception : public std::exception {
public:
    explicit Exception(std::string message) : message_(std::move(message)) {}
    const std::string& Message() const noexcept { return message_; }
    const char* what() const noexcept override { return message_.c_str(); }

private:
    std::string message_;
};

/// A text that does not convert to a number, or a format text that does not
/// match its arguments.
class EConvertError : public Exception {
public:
    using Exception::Exception;
};

/// A read past the end of a buffer or datagram: a bounds failure, not a
/// protocol one.
class ERangeError : public Exception {
public:
    using Exception::Exception;
};

/// A failure that should not happen when the caller follows the protocol of
/// an object (a step called out of order).
class EInternalError : public Exception {
public:
    using Exception::Exception;
};

/// A failed operating-system call, with the system's error number.
class EOSError : public Exception {
public:
    EOSError(std::string message, int errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

/// Typed file I/O failure with the classic I/O error codes
/// (2 file not found, 3 invalid filename, 4 too many open files,
/// 5 access denied, 100 read beyond end of file).
class EInOutError : public Exception {
public:
    EInOutError(std::string message, int errorCode)
        : Exception(std::move(message)), errorCode_(errorCode) {}
    int ErrorCode() const noexcept { return errorCode_; }

private:
    int errorCode_;
};

/// Base of the stream failures.
class EStreamError : public Exception {
public:
    using Exception::Exception;
};

/// A file stream that could not be opened: "Cannot open file "%s". %s".
class EFOpenError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

/// A stream that could not be read.
class EReadError : public EStreamError {
public:
    using EStreamError::EStreamError;
};

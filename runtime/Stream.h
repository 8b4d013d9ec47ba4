// Byte streams of the runtime: the abstract seekable stream that the TFTP
// transfer reads its source from, an in-memory stream (HTTP bodies), and a
// file stream. No protocol knowledge here. The file stream's operations are
// platform calls, so they live in the runtime's platform file (FilesPosix.cpp).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "runtime/Files.h"

enum class TSeekOrigin { soBeginning, soCurrent, soEnd };

/// A readable, writable, seekable byte stream.
class TStream {
public:
    virtual ~TStream() = default;
    /// Reads up to count bytes into buffer; returns the bytes read, 0 at the end.
    /// Throws EReadError when the underlying read fails.
    virtual std::int64_t Read(void* buffer, std::int64_t count) = 0;
    /// Writes count bytes; returns the bytes written.
    virtual std::int64_t Write(const void* buffer, std::int64_t count) = 0;
    /// Moves the position; returns the new position.
    virtual std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) = 0;
    virtual std::int64_t Size() = 0;

    std::int64_t Position() { return Seek(0, TSeekOrigin::soCurrent); }
    void SetPosition(std::int64_t pos) { Seek(pos, TSeekOrigin::soBeginning); }
    /// Copies the whole of source, from its start, to this stream's position.
    void CopyFrom(TStream& source);
};

/// A stream held in memory; grows as it is written.
class TMemoryStream : public TStream {
public:
    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override { return static_cast<std::int64_t>(data_.size()); }

    void Clear();
    const std::vector<std::uint8_t>& Data() const { return data_; }
    /// The whole content as 8-bit text, byte for byte.
    std::string Text() const { return std::string(data_.begin(), data_.end()); }

private:
    std::vector<std::uint8_t> data_;
    std::int64_t position_ = 0;
};

/// A stream over an open file; closes it when destroyed.
class TFileStream : public TStream {
public:
    enum class TOpenMode { fmOpenRead, fmOpenReadWrite };
    /// What others may do with the file while the stream has it open.
    enum class TShareMode { fmShareDenyNone, fmShareDenyWrite };

    /// Opens an existing regular file (links followed), at once: a pipe
    /// without a writer is refused, not waited for. With fmShareDenyWrite no
    /// writer may change the file while the stream is open, and a file that
    /// a writer holds is not opened. Throws EFOpenError "Cannot open file
    /// "%s". %s" with the full path and the system's text for the error
    /// ("Not a regular file" for a pipe, a device or a socket).
    TFileStream(const std::string& path, TOpenMode mode,
                TShareMode share = TShareMode::fmShareDenyNone);

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;
    /// The open file's size and modification time as they are now; a zero
    /// stamp when the system cannot tell.
    TFileStamp Stamp();

    const std::string& FileName() const { return path_; }

private:
    std::string path_;
    TFileHandle file_;
};

/// The whole content of the file at path, read as TFileStream reads it;
/// none when it holds more than limit bytes (read no further than that).
/// Throws what TFileStream throws.
std::optional<std::string> ReadFileUpTo(const std::string& path, std::int64_t limit);

// Byte streams of the runtime: the abstract seekable stream that the TFTP
// transfer reads its source from, an in-memory stream (HTTP bodies), and a
// file stream over a POSIX descriptor. No protocol knowledge here.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

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

/// Own alias for the platform's file handle and its invalid value.
using file_t = int;
constexpr file_t kInvalidFile = -1;

/// A stream over an open file; closes it when destroyed.
class TFileStream : public TStream {
public:
    enum class TOpenMode { fmOpenRead, fmOpenReadWrite };

    /// Opens an existing file. Throws EFOpenError "Cannot open file "%s". %s"
    /// with the full path and the system's text for the error.
    TFileStream(const std::string& path, TOpenMode mode);
    ~TFileStream() override;
    TFileStream(const TFileStream&) = delete;
    TFileStream& operator=(const TFileStream&) = delete;

    std::int64_t Read(void* buffer, std::int64_t count) override;
    std::int64_t Write(const void* buffer, std::int64_t count) override;
    std::int64_t Seek(std::int64_t offset, TSeekOrigin origin) override;
    std::int64_t Size() override;

    file_t Handle() const { return fd_; }
    const std::string& FileName() const { return path_; }

private:
    std::string path_;
    file_t fd_ = kInvalidFile;
};

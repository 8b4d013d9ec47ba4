#include "runtime/Stream.h"

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include "runtime/Exception.h"
#include "runtime/Files.h"
#include "runtime/Format.h"

void TStream::CopyFrom(TStream& source) {
    source.SetPosition(0);
    std::vector<std::uint8_t> buf(65536);
    for (;;) {
        const std::int64_t n = source.Read(buf.data(), static_cast<std::int64_t>(buf.size()));
        if (n <= 0)
            break;
        Write(buf.data(), n);
    }
}

std::int64_t TMemoryStream::Read(void* buffer, std::int64_t count) {
    const std::int64_t n =
        std::clamp<std::int64_t>(Size() - position_, 0, std::max<std::int64_t>(count, 0));
    if (n > 0)
        std::memcpy(buffer, data_.data() + position_, static_cast<std::size_t>(n));
    position_ += n;
    return n;
}

std::int64_t TMemoryStream::Write(const void* buffer, std::int64_t count) {
    if (count <= 0)
        return 0;
    const auto end = static_cast<std::size_t>(position_ + count);
    if (end > data_.size())
        data_.resize(end);
    std::memcpy(data_.data() + position_, buffer, static_cast<std::size_t>(count));
    position_ += count;
    return count;
}

std::int64_t TMemoryStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    std::int64_t base = 0;
    if (origin == TSeekOrigin::soCurrent)
        base = position_;
    else if (origin == TSeekOrigin::soEnd)
        base = Size();
    position_ = std::max<std::int64_t>(base + offset, 0);
    return position_;
}

void TMemoryStream::Clear() {
    data_.clear();
    position_ = 0;
}

TFileStream::TFileStream(const std::string& path, TOpenMode mode) : path_(path) {
    const int flags = (mode == TOpenMode::fmOpenRead ? O_RDONLY : O_RDWR) | O_CLOEXEC;
    fd_ = ::open(path.c_str(), flags);
    if (fd_ == kInvalidFile) {
        const int err = errno;
        throw EFOpenError(
            Format("Cannot open file \"%s\". %s", ExpandFileName(path), SysErrorMessage(err)));
    }
}

TFileStream::~TFileStream() {
    if (fd_ != kInvalidFile)
        ::close(fd_);
}

std::int64_t TFileStream::Read(void* buffer, std::int64_t count) {
    for (;;) {
        const ssize_t n =
            ::read(fd_, buffer, static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
        if (n >= 0)
            return n;
        if (errno != EINTR)
            throw EReadError(Format("Stream read error: %s", SysErrorMessage(errno)));
    }
}

std::int64_t TFileStream::Write(const void* buffer, std::int64_t count) {
    const ssize_t n =
        ::write(fd_, buffer, static_cast<std::size_t>(std::max<std::int64_t>(count, 0)));
    return n < 0 ? 0 : n;
}

std::int64_t TFileStream::Seek(std::int64_t offset, TSeekOrigin origin) {
    const int whence = origin == TSeekOrigin::soBeginning ? SEEK_SET
                       : origin == TSeekOrigin::soCurrent ? SEEK_CUR
                                                          : SEEK_END;
    return ::lseek(fd_, offset, whence);
}

std::int64_t TFileStream::Size() {
    struct stat st {};
    return ::fstat(fd_, &st) == 0 ? st.st_size : 0;
}

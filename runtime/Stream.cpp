#include "runtime/Stream.h"

#include <algorithm>
#include <cstring>

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

std::optional<std::string> ReadFileUpTo(const std::string& path, std::int64_t limit) {
    TFileStream file(path, TFileStream::TOpenMode::fmOpenRead);
    std::string content;
    char buffer[16 * 1024];
    for (std::int64_t n; (n = file.Read(buffer, sizeof buffer)) > 0;) {
        content.append(buffer, static_cast<std::size_t>(n));
        if (static_cast<std::int64_t>(content.size()) > limit)
            return std::nullopt;
    }
    return content;
}

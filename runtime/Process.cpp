// What every platform shares of Process.h: the set of children and its wait
// over the platform's own (TChildProcessSet::WaitFor, in the process file of
// each platform).
#include "runtime/Process.h"

#include <algorithm>

TChildProcess& TChildProcessSet::Start(const std::string& program,
                                       const std::vector<std::string>& args) {
    children_.push_back(std::make_unique<TChildProcess>(program, args));
    return *children_.back();
}

void TChildProcessSet::Remove(TChildProcess& child) {
    std::erase_if(children_, [&](const auto& owned) { return owned.get() == &child; });
}

std::vector<TChildProcess*> TChildProcessSet::Children() const {
    std::vector<TChildProcess*> children;
    for (const auto& child : children_)
        children.push_back(child.get());
    return children;
}

TChildWake TChildProcessSet::Wait(std::optional<std::chrono::milliseconds> timeout) {
    return WaitFor(Children(), timeout);
}

TChildWake TChildProcessSet::WaitFor(std::span<TChildProcess* const> children,
                                     std::optional<std::chrono::milliseconds> timeout) {
    // Beyond a year is no limit; it keeps the sum below from overflowing.
    constexpr std::chrono::milliseconds Longest = std::chrono::hours(24 * 365);
    if (!timeout || *timeout > Longest)
        return WaitUntil(children, std::nullopt);
    return WaitUntil(children, std::chrono::steady_clock::now() +
                                   std::max(*timeout, std::chrono::milliseconds::zero()));
}

void WaitForChildOutput(std::span<TChildProcess* const> children,
                        std::chrono::milliseconds timeout) {
    TChildProcessSet::WaitFor(children, timeout);
}

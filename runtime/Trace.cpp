// Trace lines, to the program's sink or the error stream.
#include "runtime/Trace.h"

#include <cstdio>
#include <exception>
#include <mutex>

namespace {

std::mutex gSinkLock;
std::function<void(const std::string&)> gSink;

} // namespace

void SetTraceSink(std::function<void(const std::string& line)> sink) {
    std::lock_guard guard(gSinkLock);
    gSink = std::move(sink);
}

void TraceLine(std::string_view text) noexcept {
    try {
        std::function<void(const std::string&)> sink;
        {
            std::lock_guard guard(gSinkLock);
            sink = gSink;
        }
        const std::string line(text);
        if (sink) {
            sink(line);
            return;
        }
        std::fputs((line + "\n").c_str(), stderr);
        std::fflush(stderr);
    } catch (...) {
        // Nowhere left to say it.
    }
}

void TraceCurrentException(std::string_view what) noexcept {
    try {
        throw;
    } catch (const std::exception& e) {
        try {
            TraceLine(std::string(what) + ": " + e.what());
        } catch (...) {
        }
    } catch (...) {
        try {
            TraceLine(std::string(what) + ": unknown failure");
        } catch (...) {
        }
    }
}

// The question that a close during a run asks, on the Windows GUI: a Yes/No
// box of the window's own, run on a thread of its own so that the update
// goes on on the window's thread while the user reads it. Whether the
// answer closes the window is the window controller's business.
#pragma once

#include <atomic>
#include <string>
#include <thread>

#ifndef NOMINMAX
#define NOMINMAX
#endif
#include <windows.h>

class TCloseQuestion {
public:
    TCloseQuestion() = default;
    /// Ends a question still open, as End does.
    ~TCloseQuestion();
    TCloseQuestion(const TCloseQuestion&) = delete;
    TCloseQuestion& operator=(const TCloseQuestion&) = delete;

    /// Opens text with Yes and No (No the default) over owner (OwnedBox),
    /// and returns at once; the answer comes to
    /// owner as answered, wParam TRUE for Yes. A question still open is
    /// ended first.
    void Ask(HWND owner, const std::string& text, UINT answered);
    /// Waits for the question's thread to end, answering its box No when it
    /// is still open; the window's thread takes the messages sent to it
    /// meanwhile. Nothing when no question was asked.
    void End();

private:
    std::thread thread_;
    /// The question's thread id once it runs, and whether it has answered.
    std::atomic<DWORD> threadId_{0};
    std::atomic<bool> done_{false};
};

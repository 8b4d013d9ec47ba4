// A window without a screen for the loader's tests: it records every line,
// status, trace, list change and error box it is told about, and lets a test
// act from inside a pump (a click, a cancel) as a user would.
#pragma once

#include <array>
#include <functional>
#include <string>
#include <thread>
#include <utility>
#include <vector>

#include "app/WindowOperations.h"

class TRecordingWindow : public TWindowOperations {
public:
    std::string Address;
    std::string Folder = "/nonexistent-program-folder/";
    std::vector<std::string> Lines, Statuses, Traces, Errors;
    std::vector<bool> BusyChanges;
    /// Every run's end, in order.
    std::vector<TRunOutcome> Outcomes;
    /// Every progress report, as (done, total).
    std::vector<std::pair<std::int64_t, std::int64_t>> Progress;
    bool GroupVisible = false;
    std::string DirEdit;
    std::array<std::vector<std::string>, 2> Lists;
    std::array<int, 2> Selected{-1, -1};
    int Pumps = 0, TimedPumps = 0;
    std::function<void()> OnDirEditChange;
    /// Runs inside every pump, as a message the window handles.
    std::function<void()> OnPump;

    std::vector<std::string>& List(TImageList list) { return Lists[static_cast<int>(list)]; }
    int& Index(TImageList list) { return Selected[static_cast<int>(list)]; }

    void LogLine(const std::string& text) override { Lines.push_back(text); }
    void ClearLog() override { Lines.clear(); }
    void SetStatus(const std::string& text) override { Statuses.push_back(text); }
    void TraceOut(const std::string& text) override { Traces.push_back(text); }
    void PumpMessages() override {
        ++Pumps;
        if (OnPump)
            OnPump();
    }
    void PumpMessagesUntil(Clock::time_point deadline) override {
        ++TimedPumps;
        if (OnPump)
            OnPump();
        // MinGW's sleep_until may wake early under Wine; the wait is to the deadline.
        while (Clock::now() < deadline)
            std::this_thread::sleep_until(deadline);
    }
    std::string ReadAddress() override { return Address; }
    void SetFileGroupVisible(bool visible) override { GroupVisible = visible; }
    std::string DirEditText() override { return DirEdit; }
    void SetDirEditText(const std::string& text) override {
        if (text == DirEdit)
            return;
        DirEdit = text;
        if (OnDirEditChange)
            OnDirEditChange();
    }
    void ListClear(TImageList list) override {
        List(list).clear();
        Index(list) = -1;
    }
    void ListAppend(TImageList list, const std::string& text) override {
        List(list).push_back(text);
    }
    int ListCount(TImageList list) override { return static_cast<int>(List(list).size()); }
    int ListItemIndex(TImageList list) override { return Index(list); }
    void SetListItemIndex(TImageList list, int index) override { Index(list) = index; }
    std::string ListItem(TImageList list, int index) override {
        return List(list).at(static_cast<std::size_t>(index));
    }
    std::string ProgramFolder() override { return Folder; }
    void ShowError(const std::string& text) override { Errors.push_back(text); }
    void SetBusy(bool busy) override { BusyChanges.push_back(busy); }
    void SetProgress(std::int64_t done, std::int64_t total) override {
        Progress.emplace_back(done, total);
    }
    void RunEnded(const TRunOutcome& outcome) override { Outcomes.push_back(outcome); }
};

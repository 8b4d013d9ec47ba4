// A message box moved over its owner as the system activates it.
#include "app/win32/OwnedBox.h"

#include <utility>

#include "app/Loader.h"
#include "app/win32/Layout.h"
#include "app/win32/WindowText.h"

namespace {

// One box at a time per thread: the hook and the owner of the box it waits for.
thread_local HHOOK Hook = nullptr;
thread_local HWND BoxOwner = nullptr;

LRESULT CALLBACK OnBoxActivate(int code, WPARAM wParam, LPARAM lParam) {
    const LRESULT next = CallNextHookEx(Hook, code, wParam, lParam);
    if (code == HCBT_ACTIVATE && Hook != nullptr) {
        RECT owner{};
        GetWindowRect(BoxOwner, &owner);
        CentreOver(reinterpret_cast<HWND>(wParam), owner);
        // The box's first activation is the one; its later ones keep its place.
        UnhookWindowsHookEx(std::exchange(Hook, nullptr));
    }
    return next;
}

} // namespace

int OwnedBox(HWND owner, const std::string& text, UINT type) {
    if (owner != nullptr && IsWindowVisible(owner)) {
        BoxOwner = owner;
        Hook = SetWindowsHookExW(WH_CBT, &OnBoxActivate, nullptr, GetCurrentThreadId());
    }
    const int answer =
        MessageBoxW(owner, WideText(text).c_str(), WideText(ApplicationTitleText).c_str(), type);
    if (Hook != nullptr)
        UnhookWindowsHookEx(std::exchange(Hook, nullptr));
    return answer;
}

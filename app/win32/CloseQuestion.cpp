// The close question's box on a thread of its own.
#include "app/win32/CloseQuestion.h"

#include <string_view>

#include "app/win32/OwnedBox.h"

TCloseQuestion::~TCloseQuestion() {
    End();
}

void TCloseQuestion::Ask(HWND owner, const std::string& text, UINT answered) {
    // A box run on the window's thread would hold the update in the box's
    // own message loop until the user answers; on a thread of its own it
    // leaves that one running the update, while it disables the window as
    // any box does. The answer comes back as a message.
    End();
    threadId_ = 0;
    done_ = false;
    thread_ = std::thread([this, owner, answered, text] {
        threadId_ = GetCurrentThreadId();
        const int answer = OwnedBox(owner, text, MB_YESNO | MB_ICONQUESTION | MB_DEFBUTTON2);
        done_ = true;
        PostMessageW(owner, answered, answer == IDYES, 0);
    });
}

void TCloseQuestion::End() {
    if (!thread_.joinable())
        return;
    while (!done_) {
        if (const DWORD thread = threadId_)
            EnumThreadWindows(
                thread,
                [](HWND box, LPARAM) -> BOOL {
                    char boxClass[16] = {};
                    GetClassNameA(box, boxClass, sizeof boxClass);
                    if (std::string_view(boxClass) == "#32770")
                        PostMessageW(box, WM_COMMAND, IDNO, 0);
                    return TRUE;
                },
                0);
        // The box's thread sends this one messages as it goes (its owner is
        // enabled again): they are taken while waiting.
        MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_SENDMESSAGE);
        MSG msg{};
        PeekMessageW(&msg, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
    thread_.join();
}

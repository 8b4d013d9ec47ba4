// Helpers shared by the window's tests: waiting on the event loop with a
// time-out, and answering modal boxes so that no test hangs on one. Nothing
// that asserts on the window's behaviour belongs here.
#pragma once

#include <QString>
#include <QTimer>
#include <QWidget>
#include <chrono>
#include <functional>
#include <vector>

class QMessageBox;

/// Handles events until done() holds or timeout passes; returns done().
bool WaitFor(const std::function<bool()>& done,
             std::chrono::milliseconds timeout = std::chrono::seconds(5));

/// Shows window and waits until it is the active window, so that keys and
/// focus changes reach it.
bool ShowActive(QWidget& window);

/// When scripts/screenshot-qt.sh runs the test (LOADER_SCREENSHOT_DIR), saves
/// the picture of window there as name.png, at the scale the test runs in.
void Picture(QWidget& window, const char* name);

/// Runs open, which opens a context menu, and triggers the menu's action
/// whose text (without its "&") starts with action.
void PickFromMenu(const QString& action, const std::function<void()>& open);

/// While it lives, answers every message box that finder yields, as soon as
/// it shows, with the next of answers (the last one again once they run
/// out), as a user who answers each at once; Texts holds their texts.
class TBoxAnswerer {
public:
    TBoxAnswerer(std::function<QMessageBox*()> finder, std::vector<int> answers);
    std::vector<QString> Texts;

private:
    std::function<QMessageBox*()> finder_;
    std::vector<int> answers_; // QMessageBox::StandardButton
    QTimer timer_;
};

/// Runs action while every message box that finder yields is answered with
/// OK, then keeps answering until expected boxes were seen (up to 5 s; with
/// expected 0, for a short grace period). Returns the texts of the boxes.
std::vector<QString> AnswerBoxesDuring(const std::function<QMessageBox*()>& finder,
                                       const std::function<void()>& action, std::size_t expected);

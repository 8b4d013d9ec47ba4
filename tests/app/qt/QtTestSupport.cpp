// The window tests' event-loop helpers and their main: one QApplication on
// the offscreen platform for every test of the program.
#include "QtTestSupport.h"

#include <QAbstractButton>
#include <QApplication>
#include <QElapsedTimer>
#include <QMenu>
#include <QMessageBox>
#include <QTest>
#include <QTimer>
#include <algorithm>
#include <cstdlib>
#include <gtest/gtest.h>

bool WaitFor(const std::function<bool()>& done, std::chrono::milliseconds timeout) {
    QElapsedTimer clock;
    clock.start();
    while (!done() && clock.elapsed() < timeout.count())
        QTest::qWait(5);
    return done();
}

bool ShowActive(QWidget& window) {
    window.show();
    window.activateWindow();
    return QTest::qWaitForWindowActive(&window);
}

void Picture(QWidget& window, const char* name) {
    const char* folder = std::getenv("LOADER_SCREENSHOT_DIR");
    if (folder == nullptr)
        return;
    QTest::qWait(50); // the last repaints
    EXPECT_TRUE(window.grab().save(QString::fromLocal8Bit(folder) + u'/' +
                                   QString::fromLatin1(name) + QStringLiteral(".png")));
}

void PickFromMenu(const QString& action, const std::function<void()>& open) {
    QTimer pick;
    QObject::connect(&pick, &QTimer::timeout, [&] {
        auto* menu = qobject_cast<QMenu*>(QApplication::activePopupWidget());
        if (menu == nullptr)
            return;
        for (QAction* item : menu->actions()) {
            if (item->text().remove(u'&').startsWith(action)) {
                menu->close();
                item->trigger();
                return;
            }
        }
        ADD_FAILURE() << "no menu action " << action.toStdString();
        menu->close();
    });
    pick.start(10);
    open();
}

TBoxAnswerer::TBoxAnswerer(std::function<QMessageBox*()> finder, std::vector<int> answers)
    : finder_(std::move(finder)), answers_(std::move(answers)) {
    // A box that runs its own event loop: this timer fires inside it.
    QObject::connect(&timer_, &QTimer::timeout, [this] {
        QMessageBox* box = finder_();
        if (box == nullptr || !box->isVisible())
            return;
        const std::size_t next = std::min(Texts.size(), answers_.size() - 1);
        Texts.push_back(box->text());
        if (QAbstractButton* answer = box->button(QMessageBox::StandardButton(answers_[next])))
            answer->click();
        else {
            ADD_FAILURE() << "no such button on the box " << box->text().toStdString();
            box->reject();
        }
    });
    timer_.start(10);
}

std::vector<QString> AnswerBoxesDuring(const std::function<QMessageBox*()>& finder,
                                       const std::function<void()>& action, std::size_t expected) {
    TBoxAnswerer answerer(finder, {QMessageBox::Ok});
    action();
    if (expected > 0)
        WaitFor([&] { return answerer.Texts.size() >= expected; });
    else
        QTest::qWait(100);
    return answerer.Texts;
}

int main(int argc, char* argv[]) {
    // Test discovery runs this program too, before ctest's environment applies.
    if (std::getenv("QT_QPA_PLATFORM") == nullptr)
        setenv("QT_QPA_PLATFORM", "offscreen", 1);
    QApplication app(argc, argv);
    testing::InitGoogleTest(&argc, argv);
    return RUN_ALL_TESTS();
}

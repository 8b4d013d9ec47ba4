// The folder edit: its change event on every change, and the folder chooser
// (how it opens, where it goes, what a confirmed or cancelled choice does).
#include "app/qt/DirectoryEdit.h"

#include <QApplication>
#include <QDir>
#include <QFileDialog>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTemporaryDir>
#include <QTest>
#include <QTimer>
#include <QToolButton>
#include <algorithm>
#include <functional>
#include <gtest/gtest.h>

#include "QtTestSupport.h"

namespace {

struct TEditHost {
    QWidget window;
    TAdvDirectoryEdit* edit = new TAdvDirectoryEdit(&window);
    QSignalSpy changes{edit, &TAdvDirectoryEdit::Change};

    TEditHost() {
        window.resize(300, 100);
        edit->setGeometry(6, 32, 251, 21);
        EXPECT_TRUE(ShowActive(window));
        edit->setFocus();
    }
};

// Answers the next chooser after checking how it opened: confirms folder, or
// cancels when folder is empty. Returns whether a chooser opened.
bool AnswerChooser(TAdvDirectoryEdit& edit, const std::function<void()>& open,
                   const QString& folder) {
    const QString start = QDir(edit.Text()).absolutePath();
    bool opened = false;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr || opened)
            return;
        opened = true;
        EXPECT_EQ(chooser->windowTitle(), QStringLiteral("Select Directory"));
        EXPECT_EQ(chooser->directory().absolutePath(), start);
        EXPECT_EQ(chooser->fileMode(), QFileDialog::Directory);
        // Folders only, no new-folder button, Qt's own dialog with its path edit.
        EXPECT_EQ(chooser->options(), QFileDialog::ShowDirsOnly | QFileDialog::ReadOnly |
                                          QFileDialog::DontUseNativeDialog);
        const auto buttons = chooser->findChildren<QToolButton*>();
        const auto newFolder = std::find_if(buttons.begin(), buttons.end(), [](QToolButton* b) {
            return b->toolTip() == QStringLiteral("Create New Folder");
        });
        if (newFolder == buttons.end())
            ADD_FAILURE() << "Qt's dialog has no new-folder button to hide any more";
        else
            EXPECT_FALSE((*newFolder)->isVisible());
        EXPECT_EQ(chooser->pos(), TAdvDirectoryEdit::ChooserPosition(
                                      edit.mapToGlobal(QPoint(0, edit.height())), chooser->size(),
                                      edit.screen()->availableGeometry()));
        if (folder.isEmpty()) {
            chooser->reject();
        } else {
            chooser->setDirectory(folder);
            static_cast<QDialog*>(chooser)->accept(); // as the OK button does
        }
    });
    answer.start(10);
    open();
    return opened;
}

} // namespace

TEST(DirectoryEdit, ChooserStaysOnTheWorkArea) {
    const QRect area(0, 0, 1000, 800);
    const QSize size(400, 300);
    struct TRow {
        const char* name;
        QPoint anchor;
        QPoint expected;
    };
    const TRow rows[] = {
        {"fits below the edit", {100, 100}, {100, 100}},
        {"right edge exactly on the area's edge", {600, 100}, {600, 100}},
        {"passes the right edge: moved left by its width", {601, 100}, {201, 100}},
        {"bottom just above the edge", {100, 499}, {100, 499}},
        {"bottom on the edge: raised 64 above it", {100, 500}, {100, 436}},
        {"both corrections", {900, 700}, {500, 436}},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        EXPECT_EQ(TAdvDirectoryEdit::ChooserPosition(row.anchor, size, area), row.expected);
    }
    // A work area that does not start at the origin (a panel on the top or left).
    EXPECT_EQ(TAdvDirectoryEdit::ChooserPosition({900, 700}, size, QRect(50, 40, 1000, 800)),
              QPoint(500, 476));
}

TEST(DirectoryEdit, EveryChangeOfTheTextRaisesChange) {
    TEditHost host;
    QTest::keyClicks(host.edit->Edit(), QStringLiteral("/tm"));
    EXPECT_EQ(host.changes.count(), 3);
    QTest::keyClick(host.edit->Edit(), Qt::Key_Backspace);
    EXPECT_EQ(host.changes.count(), 4);
    host.edit->SetText(QStringLiteral("/tmp"));
    EXPECT_EQ(host.changes.count(), 5);
    host.edit->SetText(QStringLiteral("/tmp")); // the same text is no change
    EXPECT_EQ(host.changes.count(), 5);
    EXPECT_EQ(host.edit->Text(), QStringLiteral("/tmp"));
    EXPECT_EQ(host.edit->Edit()->completer(), nullptr);
}

TEST(DirectoryEdit, ChooserOpensOnTheEditsFolderAndOnlyANewFolderChangesIt) {
    QTemporaryDir start, other;
    struct TRow {
        const char* name;
        QString holds;  // the edit, as the chooser opens
        bool byF4;      // else the browse button
        QString answer; // empty: cancel
        QString text;
        int changes;
    };
    const QString ended = start.path() + u'/';
    const TRow rows[] = {
        {"F4, another folder", start.path(), true, other.path(), other.path(), 1},
        {"button, cancel", start.path(), false, QString(), start.path(), 0},
        {"button, the same folder", start.path(), false, start.path(), start.path(), 0},
        {"the same folder, its separator at the end", ended, false, start.path(), ended, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TEditHost host;
        host.edit->SetText(row.holds);
        host.changes.clear();
        const auto open = [&] {
            if (row.byF4)
                QTest::keyClick(host.edit->Edit(), Qt::Key_F4);
            else
                host.edit->BrowseButton()->click();
        };
        EXPECT_TRUE(AnswerChooser(*host.edit, open, row.answer));
        EXPECT_EQ(host.edit->Text(), row.text);
        EXPECT_EQ(host.changes.count(), row.changes);
    }
}

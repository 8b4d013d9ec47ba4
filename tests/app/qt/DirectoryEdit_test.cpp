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

// What the chooser looked like when it opened, and how it was answered.
struct TChooserSeen {
    bool opened = false;
    QString title;
    QString directory;
    QFileDialog::FileMode mode{};
    QFileDialog::Options options;
    QPoint position;
    QSize size;
};

// Answers the next chooser: confirms folder, or cancels when it is empty.
TChooserSeen AnswerChooser(const std::function<void()>& open, const QString& folder) {
    TChooserSeen seen;
    QTimer answer;
    QObject::connect(&answer, &QTimer::timeout, [&] {
        auto* chooser = qobject_cast<QFileDialog*>(QApplication::activeModalWidget());
        if (chooser == nullptr || seen.opened)
            return;
        seen = {true,
                chooser->windowTitle(),
                chooser->directory().absolutePath(),
                chooser->fileMode(),
                chooser->options(),
                chooser->pos(),
                chooser->size()};
        if (folder.isEmpty()) {
            chooser->reject();
        } else {
            chooser->setDirectory(folder);
            static_cast<QDialog*>(chooser)->accept(); // as the OK button does
        }
    });
    answer.start(10);
    open();
    return seen;
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

TEST(DirectoryEdit, ChooserOpensOnTheEditsFolderBelowTheEdit) {
    QTemporaryDir start;
    QTemporaryDir other;
    TEditHost host;
    host.edit->SetText(start.path());
    host.changes.clear();
    const TChooserSeen seen =
        AnswerChooser([&] { QTest::keyClick(host.edit->Edit(), Qt::Key_F4); }, other.path());
    ASSERT_TRUE(seen.opened);
    EXPECT_EQ(seen.title, QStringLiteral("Select Directory"));
    EXPECT_EQ(seen.directory, QDir(start.path()).absolutePath());
    EXPECT_EQ(seen.mode, QFileDialog::Directory);
    EXPECT_TRUE(seen.options.testFlag(QFileDialog::ShowDirsOnly));
    EXPECT_TRUE(seen.options.testFlag(QFileDialog::ReadOnly)); // no new-folder button
    EXPECT_TRUE(seen.options.testFlag(QFileDialog::DontUseNativeDialog));
    EXPECT_EQ(seen.position,
              TAdvDirectoryEdit::ChooserPosition(host.edit->mapToGlobal(QPoint(0, 21)), seen.size,
                                                 host.edit->screen()->availableGeometry()));
    EXPECT_EQ(host.edit->Text(), other.path());
    EXPECT_EQ(host.changes.count(), 1);
}

TEST(DirectoryEdit, CancelOrTheSameFolderChangesNothing) {
    QTemporaryDir start;
    TEditHost host;
    host.edit->SetText(start.path());
    host.changes.clear();
    struct TRow {
        const char* name;
        QString answer; // empty: cancel
    };
    const TRow rows[] = {{"cancel", QString()}, {"the same folder", start.path()}};
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        const TChooserSeen seen =
            AnswerChooser([&] { host.edit->BrowseButton()->click(); }, row.answer);
        EXPECT_TRUE(seen.opened);
        EXPECT_EQ(host.edit->Text(), start.path());
        EXPECT_EQ(host.changes.count(), 0);
    }
}

TEST(DirectoryEdit, EmptyEditOpensOnTheCurrentFolder) {
    TEditHost host;
    const TChooserSeen seen = AnswerChooser([&] { host.edit->Browse(); }, QString());
    ASSERT_TRUE(seen.opened);
    EXPECT_EQ(seen.directory, QDir::currentPath());
    EXPECT_EQ(host.edit->Text(), QString());
}

// The masked address field as a Qt widget: every way of editing it reaches
// the rules (keys, the clipboard, the context menu), the focus it keeps
// while a change is incomplete, Enter, and Escape. The rules themselves are
// tested without Qt in tests/app/MaskRules_test.cpp.
#include "app/qt/MaskEdit.h"

#include <QApplication>
#include <QClipboard>
#include <QContextMenuEvent>
#include <QKeyEvent>
#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <functional>
#include <gtest/gtest.h>

#include "QtTestSupport.h"

namespace {

constexpr const char* Pattern = AddressPattern;
constexpr const char* Default = DefaultAddress;
const QString InvalidInput =
    QStringLiteral("Invalid input value.  Use escape key to abandon changes");

// The field and a second edit to leave it for, in one active window.
struct TFieldHost {
    QWidget window;
    TMaskEdit* field =
        new TMaskEdit(QString::fromLatin1(Pattern), QString::fromLatin1(Default), &window);
    QLineEdit* other = new QLineEdit(&window);
    QSignalSpy beeps{field, &TMaskEdit::Beeped};
    QSignalSpy failures{field, &TMaskEdit::ValidationFailed};
    QSignalSpy confirmations{field, &TMaskEdit::Confirmed};

    TFieldHost() {
        field->setGeometry(0, 0, 98, 21);
        other->setGeometry(0, 30, 98, 21);
        EXPECT_TRUE(ShowActive(window));
        field->setFocus(Qt::TabFocusReason);
        EXPECT_TRUE(WaitFor([&] { return field->hasFocus(); }));
        field->deselect();
    }
};

} // namespace

TEST(MaskEdit, EveryWayOfEditingGoesThroughTheRules) {
    struct TRow {
        const char* name;
        int selStart, selLength; // selLength 0: the caret at selStart
        std::function<void(TMaskEdit*)> edit;
        const char* reads;
        int caretAfter;
        int beeps;
    };
    const auto paste = [](const char* text) {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
    };
    const TRow rows[] = {
        {"typed digits and the literal", 0, 0,
         [](TMaskEdit* f) { QTest::keyClicks(f, QStringLiteral("10.")); }, "10 .168.100.100", 4, 0},
        {"refused key", 5, 0, [](TMaskEdit* f) { QTest::keyClicks(f, QStringLiteral("a,")); },
         Default, 5, 2},
        {"non-ASCII digit refused", 5, 0,
         [](TMaskEdit* f) {
             QKeyEvent arabicThree(QEvent::KeyPress, 0, Qt::NoModifier, QString(QChar(0x0663)));
             QApplication::sendEvent(f, &arabicThree);
         },
         Default, 5, 1},
        {"Backspace", 4, 0, [](TMaskEdit* f) { QTest::keyClick(f, Qt::Key_Backspace); },
         "19 .168.100.100", 2, 0},
        {"Delete", 4, 0, [](TMaskEdit* f) { QTest::keyClick(f, Qt::Key_Delete); },
         "192. 68.100.100", 4, 0},
        {"Ctrl+V of an address", 6, 0,
         [&](TMaskEdit* f) {
             paste("127.0.0.2");
             QTest::keyClick(f, Qt::Key_V, Qt::ControlModifier);
         },
         "127.000.000.002", 15, 0},
        {"the context menu's Paste", 0, 15,
         [&](TMaskEdit* f) {
             paste("127.0.0.2");
             PickFromMenu(QStringLiteral("Paste"), [f] {
                 QContextMenuEvent event(QContextMenuEvent::Keyboard, QPoint(5, 5),
                                         f->mapToGlobal(QPoint(5, 5)));
                 QApplication::sendEvent(f, &event);
             });
         },
         "127.000.000.002", 15, 0},
        {"Ctrl+X of a selection", 0, 3,
         [](TMaskEdit* f) { QTest::keyClick(f, Qt::Key_X, Qt::ControlModifier); },
         "   .168.100.100", 0, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TFieldHost host;
        host.field->setSelection(row.selStart, row.selLength);
        if (row.selLength == 0)
            host.field->setCursorPosition(row.selStart);
        row.edit(host.field);
        EXPECT_EQ(host.field->MaskedText(), QString::fromLatin1(row.reads));
        EXPECT_EQ(host.field->displayText(), QString::fromLatin1(row.reads).replace(u' ', u'_'));
        EXPECT_EQ(host.field->cursorPosition(), row.caretAfter);
        EXPECT_EQ(host.beeps.count(), row.beeps);
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192"));
}

TEST(MaskEdit, LeavingAChangedIncompleteFieldIsRefused) {
    TFieldHost host;
    host.field->setCursorPosition(8);
    QTest::keyClicks(host.field, QStringLiteral("1."));
    ASSERT_EQ(host.field->MaskedText(), QStringLiteral("192.168.1  .100"));
    EXPECT_EQ(host.field->displayText(), QStringLiteral("192.168.1__.100"));
    QTest::keyClick(host.field, Qt::Key_Tab);
    ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
    EXPECT_EQ(host.failures.at(0).at(0).toString(), InvalidInput);
    EXPECT_TRUE(host.field->hasFocus());
    EXPECT_EQ(host.field->cursorPosition(), 9);
    EXPECT_EQ(host.beeps.count(), 1);
    // Escape brings back what the field held on entry; then it may be left.
    QTest::keyClick(host.field, Qt::Key_Escape);
    EXPECT_EQ(host.field->MaskedText(), QString::fromLatin1(Default));
    QTest::keyClick(host.field, Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    EXPECT_EQ(host.failures.count(), 1);
}

TEST(MaskEdit, EnterValidatesAChangedFieldAndConfirmsACompleteOne) {
    TFieldHost host;
    host.field->setCursorPosition(0);
    QTest::keyClick(host.field, Qt::Key_Delete);
    QTest::keyClick(host.field, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
    EXPECT_EQ(host.field->cursorPosition(), 0);
    EXPECT_EQ(host.confirmations.count(), 0);
    // Completed, the field passes Enter and may be left.
    QTest::keyClicks(host.field, QStringLiteral("7"));
    QTest::keyClick(host.field, Qt::Key_Return);
    EXPECT_EQ(host.confirmations.count(), 1);
    QTest::keyClick(host.field, Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    EXPECT_EQ(host.failures.count(), 1);
}

TEST(MaskEdit, AnUnchangedFieldIsNeverValidated) {
    TFieldHost host;
    // Incomplete, but not by the user: the field was set while it had focus
    // and the user only moved about in it.
    host.field->setText(QStringLiteral("1"));
    host.field->setModified(false);
    QTest::keyClick(host.field, Qt::Key_Right);
    QTest::keyClick(host.field, Qt::Key_Return);
    QTest::keyClick(host.field, Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    QTest::qWait(50);
    EXPECT_EQ(host.failures.count(), 0);
    EXPECT_EQ(host.beeps.count(), 0);
    EXPECT_EQ(host.confirmations.count(), 0); // incomplete: Enter connects nowhere
}

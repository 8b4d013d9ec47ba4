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
        const char* message = nullptr; // what the field reported, if anything
    };
    const auto paste = [](const char* text) {
        QGuiApplication::clipboard()->setText(QString::fromLatin1(text));
    };
    const TRow rows[] = {
        {"typed digits and the literal", 0, 0,
         [](TMaskEdit* f) { QTest::keyClicks(f, QStringLiteral("10.")); }, "010.168.100.100", 4, 0},
        {"digit above 255 refused", 4, 0,
         [](TMaskEdit* f) { QTest::keyClicks(f, QStringLiteral("300")); }, "192.30 .100.100", 6, 1,
         "The second group must be 0 to 255"},
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
        {"Ctrl+V of an address out of range", 6, 0,
         [&](TMaskEdit* f) {
             paste("256.1.1.1");
             QTest::keyClick(f, Qt::Key_V, Qt::ControlModifier);
         },
         Default, 6, 1, "The first group must be 0 to 255"},
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
        if (row.message != nullptr) {
            ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
            EXPECT_EQ(host.failures.at(0).at(0).toString(), QString::fromLatin1(row.message));
        } else {
            QCoreApplication::processEvents();
            EXPECT_EQ(host.failures.count(), 0);
        }
    }
    EXPECT_EQ(QGuiApplication::clipboard()->text(), QStringLiteral("192"));
}

TEST(MaskEdit, AClickThatEntersTheFieldSelectsItsText) {
    TFieldHost host;
    host.other->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    // Mid-field, as a user clicks: the address typed replaces the old one.
    QTest::mouseClick(host.field, Qt::LeftButton, {}, QPoint(50, 10));
    EXPECT_TRUE(host.field->hasFocus());
    EXPECT_EQ(host.field->selectedText(), QString::fromLatin1(Default));
    QTest::keyClicks(host.field, QStringLiteral("127000000002"));
    EXPECT_EQ(host.field->MaskedText(), QStringLiteral("127.000.000.002"));
    // A click in the field it is already in places the caret.
    QTest::mouseClick(host.field, Qt::LeftButton, {}, QPoint(5, 10));
    EXPECT_FALSE(host.field->hasSelectedText());
    EXPECT_LT(host.field->cursorPosition(), 3);
}

TEST(MaskEdit, LeavingClosesShortGroupsButNotAnEmptyOne) {
    TFieldHost host;
    host.field->selectAll();
    QTest::keyClicks(host.field, QStringLiteral("10.1.1.5"));
    EXPECT_EQ(host.field->Reading(), QStringLiteral("010.001.001.005"));
    QTest::keyClick(host.field, Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    EXPECT_EQ(host.field->displayText(), QStringLiteral("010.001.001.005"));

    host.field->setFocus(Qt::TabFocusReason);
    ASSERT_TRUE(WaitFor([&] { return host.field->hasFocus(); }));
    host.field->setSelection(8, 3);
    QTest::keyClick(host.field, Qt::Key_Delete);
    EXPECT_EQ(host.field->displayText(), QStringLiteral("010.001.___.005"));
    QTest::keyClick(host.field, Qt::Key_Tab);
    ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
    EXPECT_EQ(host.failures.at(0).at(0).toString(),
              QStringLiteral("The third group must be 0 to 255"));
    EXPECT_TRUE(host.field->hasFocus());
    EXPECT_EQ(host.field->cursorPosition(), 8);
    EXPECT_EQ(host.beeps.count(), 1);
    // Escape brings back what the field held on entry; then it may be left.
    QTest::keyClick(host.field, Qt::Key_Escape);
    EXPECT_EQ(host.field->MaskedText(), QStringLiteral("010.001.001.005"));
    QTest::keyClick(host.field, Qt::Key_Tab);
    EXPECT_TRUE(WaitFor([&] { return host.other->hasFocus(); }));
    EXPECT_EQ(host.failures.count(), 1);
}

TEST(MaskEdit, EnterValidatesAChangedFieldAndConfirmsACompleteOne) {
    TFieldHost host;
    host.field->setSelection(0, 3);
    QTest::keyClick(host.field, Qt::Key_Delete);
    QTest::keyClick(host.field, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
    EXPECT_EQ(host.field->cursorPosition(), 0);
    EXPECT_EQ(host.confirmations.count(), 0);
    // With a digit in the group, Enter closes it and confirms.
    QTest::keyClicks(host.field, QStringLiteral("7"));
    QTest::keyClick(host.field, Qt::Key_Return);
    EXPECT_EQ(host.confirmations.count(), 1);
    EXPECT_EQ(host.field->MaskedText(), QStringLiteral("007.168.100.100"));
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

// The masked address field: typing, the literal key, refused keys, reading
// with blanks, validation on leaving and on Enter, and Escape.
#include "app/qt/MaskEdit.h"

#include <QLineEdit>
#include <QSignalSpy>
#include <QTest>
#include <gtest/gtest.h>

#include "QtTestSupport.h"

namespace {

constexpr char Pattern[] = "000.000.000.000";
constexpr char Default[] = "192.168.100.100";
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

TEST(MaskEdit, TypingFillsDigitPositionsAndTheLiteralJumps) {
    struct TRow {
        const char* name;
        const char* start; // "" for an empty field
        int caret;
        const char* typed;
        const char* reads;
        int caretAfter;
        int beeps;
    };
    const TRow rows[] = {
        {"dotted address into empty field", "", 0, "10.1.1.5", "10 .1  .1  .5  ", 13, 0},
        {"digits run over the literals", "", 0, "127000000100", "127.000.000.100", 15, 0},
        {"literal clears the rest of the group", Default, 0, "10.", "10 .168.100.100", 4, 0},
        {"full groups typed with their literals", "", 0, "192.168.1.5", "192.168.1  .5  ", 13, 0},
        {"literal after a full group only confirms", Default, 0, "192.16.", "192.16 .100.100", 8,
         0},
        {"digit overtypes", Default, 0, "2", "292.168.100.100", 1, 0},
        {"letter refused", Default, 0, "a", "192.168.100.100", 0, 1},
        {"blank refused", Default, 5, " ", "192.168.100.100", 5, 1},
        {"other punctuation refused", Default, 5, ",-_", "192.168.100.100", 5, 3},
        {"literal in the last group refused", Default, 13, ".", "192.168.100.100", 13, 1},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TFieldHost host;
        host.field->setText(QString::fromLatin1(row.start));
        host.field->setCursorPosition(row.caret);
        QTest::keyClicks(host.field, QString::fromLatin1(row.typed));
        EXPECT_EQ(host.field->MaskedText(), QString::fromLatin1(row.reads));
        EXPECT_EQ(host.field->MaskedText().size(), 15);
        EXPECT_EQ(host.field->cursorPosition(), row.caretAfter);
        EXPECT_EQ(host.beeps.count(), row.beeps);
    }
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

TEST(MaskEdit, EnterValidatesAChangedField) {
    TFieldHost host;
    host.field->setCursorPosition(0);
    QTest::keyClick(host.field, Qt::Key_Delete);
    QTest::keyClick(host.field, Qt::Key_Return);
    ASSERT_TRUE(WaitFor([&] { return host.failures.count() == 1; }));
    EXPECT_EQ(host.field->cursorPosition(), 0);
    // Completed, the field passes Enter and may be left.
    QTest::keyClicks(host.field, QStringLiteral("7"));
    QTest::keyClick(host.field, Qt::Key_Return);
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
}

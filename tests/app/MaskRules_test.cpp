// The masked address field's editing rules without a toolkit: typing, the
// literal key, refused keys, Backspace and Delete, a paste, Escape and the
// validation on leaving, as each window's field applies them.
#include "app/MaskRules.h"

#include <gtest/gtest.h>

namespace {

constexpr char Backspace = '\b';
constexpr char Delete = '\x7f';

/// The address field holding start, entered by the user, with selLength
/// positions selected from selStart (none: the caret at selStart).
TMaskRules Field(const char* start, int selStart, int selLength = 0) {
    TMaskRules field(AddressPattern, start);
    field.Enter();
    field.Select(selStart, selLength);
    return field;
}

/// Applies keys (Backspace, Delete or a typed character); returns how many
/// were refused.
int Press(TMaskRules& field, const std::string& keys) {
    int refused = 0;
    for (const char key : keys) {
        if (key == Backspace)
            field.Backspace();
        else if (key == Delete)
            field.Delete();
        else if (!field.Type(key))
            ++refused;
    }
    return refused;
}

} // namespace

TEST(MaskRules, KeysEditTheDigitPositionsOnly) {
    struct TRow {
        const char* name;
        const char* start;
        int selStart, selLength;
        std::string keys;
        const char* reads;
        int caretAfter;
        int refused;
        const char* refusal = ""; // for the last key refused
    };
    const char* Default = DefaultAddress;
    const TRow rows[] = {
        {"dotted address into an empty field", "", 0, 0, "10.1.1.5", "010.001.001.5  ", 13, 0},
        {"dotted address with single digits", "", 0, 0, "127.0.0.9", "127.000.000.9  ", 13, 0},
        {"digits run over the literals", "", 0, 0, "127000000100", "127.000.000.100", 15, 0},
        {"all selected first", Default, 0, 15, "127000000002", "127.000.000.002", 15, 0},
        {"selection typed over: rest of it unfilled", Default, 4, 7, "1", "192.1  .   .100", 5, 0},
        {"dot closes the group on the digits typed", Default, 0, 0, "10.", "010.168.100.100", 4, 0},
        {"dot after a full group only confirms", Default, 0, 0, "192.16.", "192.016.100.100", 8, 0},
        {"dot before any digit of the field refused", Default, 0, 0, ".", Default, 0, 1},
        {"dot in the last group refused", Default, 13, 0, ".", Default, 13, 1},
        {"digit overtypes", Default, 1, 0, "1", "112.168.100.100", 2, 0},
        {"digit taking its group past 255 starts it anew", Default, 0, 0, "25", "25 .168.100.100",
         2, 0},
        {"digit typed on a literal lands after it", Default, 3, 0, "0", "192.068.100.100", 5, 0},
        {"digit past the end changes nothing", Default, 15, 0, "5", Default, 15, 0},
        {"group above 255 refused where typed", "", 0, 0, "256", "25 .   .   .   ", 2, 1,
         "The first group must be 0 to 255"},
        {"refusal names its group", Default, 4, 3, "3.2569", "192.003.250.100", 10, 2,
         "The third group must be 0 to 255"},
        {"letter refused", Default, 0, 0, "a", Default, 0, 1},
        {"blank and other punctuation refused", Default, 5, 0, " ,-_", Default, 5, 4},
        {"Backspace unfills the digit before the caret",
         Default,
         2,
         0,
         {Backspace},
         "1 2.168.100.100",
         1,
         0},
        {"Backspace steps over a literal", Default, 4, 0, {Backspace}, "19 .168.100.100", 2, 0},
        {"Backspace at the start does nothing", Default, 0, 0, {Backspace}, Default, 0, 0},
        {"Delete unfills at the caret, which stays",
         Default,
         4,
         0,
         {Delete},
         "192. 68.100.100",
         4,
         0},
        {"Delete keeps a literal", Default, 3, 0, {Delete}, Default, 3, 0},
        {"Delete of a selection", Default, 2, 4, {Delete}, "19 .  8.100.100", 2, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TMaskRules field = Field(row.start, row.selStart, row.selLength);
        EXPECT_EQ(Press(field, row.keys), row.refused);
        EXPECT_EQ(field.Text(), row.reads);
        EXPECT_EQ(field.Caret(), row.caretAfter);
        EXPECT_EQ(field.SelectionLength(), 0);
        EXPECT_EQ(field.Modified(), row.reads != std::string(row.start));
        EXPECT_EQ(field.RefusalMessage(), row.refusal);
    }
}

TEST(MaskRules, APasteOfAWholeAddressFillsTheFieldGroupByGroup) {
    struct TRow {
        const char* name;
        int selStart, selLength;
        const char* pasted;
        const char* reads;
        int caretAfter;
        const char* refusal = "";
    };
    const TRow rows[] = {
        {"all selected", 0, 15, "127.0.0.2", "127.000.000.002", 15},
        {"caret in the middle", 6, 0, "127.0.0.2", "127.000.000.002", 15},
        {"line end and blanks around it", 0, 0, " 10.1.1.5\n", "010.001.001.005", 15},
        {"a group above 255 refused whole", 6, 0, "256.1.1.1", DefaultAddress, 6,
         "The first group must be 0 to 255"},
        // Anything else is placed as typed from the caret.
        {"three groups only", 0, 15, "127.0.0", "127.0  .0  .   ", 9},
        {"five groups", 0, 15, "1.2.3.4.5", "1  .2  .3  .45 ", 14},
        {"a group too long, and above 255", 0, 15, "1.2.3.4444", DefaultAddress, 15,
         "The fourth group must be 0 to 255"},
        {"digits only, over the selection", 4, 3, "12", "192.12 .100.100", 6},
        {"nothing that fits", 0, 0, "abc", DefaultAddress, 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TMaskRules field = Field(DefaultAddress, row.selStart, row.selLength);
        EXPECT_EQ(field.Paste(row.pasted), *row.refusal == '\0');
        EXPECT_EQ(field.Text(), row.reads);
        EXPECT_EQ(field.Caret(), row.caretAfter);
        EXPECT_EQ(field.RefusalMessage(), row.refusal);
        EXPECT_EQ(field.Shown().find(' '), std::string::npos);
    }
}

TEST(MaskRules, LeavingClosesShortGroupsAndHoldsAnEmptyOne) {
    TMaskRules field(AddressPattern, DefaultAddress);
    field.SetText("1"); // set by the program, not the user: never validated
    EXPECT_EQ(field.Text(), "1  .   .   .   ");
    field.Enter();
    EXPECT_TRUE(field.Validate());
    EXPECT_FALSE(field.HoldsInvalidChange());
    EXPECT_FALSE(field.Escape());             // nothing to abandon
    EXPECT_EQ(field.Reading(), field.Text()); // no number to close the groups on
    field.Leave();

    // A click into the field selects all of it: the address typed replaces it.
    field.SetText(DefaultAddress);
    field.Enter();
    field.Click();
    Press(field, "127.0.0.9");
    EXPECT_FALSE(field.HoldsInvalidChange());
    EXPECT_EQ(field.Reading(), "127.000.000.009"); // what a Connect now would read
    EXPECT_TRUE(field.Validate());
    EXPECT_EQ(field.Text(), "127.000.000.009");
    field.Leave();

    // A group without a digit holds the field, named in the message.
    field.Enter();
    field.Select(8, 3);
    Press(field, {Delete});
    field.Select(2, 0);
    Press(field, {Backspace}); // "1 7": the second group reads 17
    ASSERT_EQ(field.Shown(), "1_7.000.___.009");
    EXPECT_TRUE(field.HoldsInvalidChange());
    EXPECT_FALSE(field.Validate());
    EXPECT_EQ(field.Caret(), 8); // the empty group's start
    EXPECT_EQ(field.RefusalMessage(), "The third group must be 0 to 255");

    // Back from the error box: entering again keeps what Escape restores.
    field.Enter();
    EXPECT_TRUE(field.Escape());
    EXPECT_EQ(field.Text(), "127.000.000.009");
    EXPECT_FALSE(field.Modified());
    EXPECT_TRUE(field.Validate());

    field.Select(8, 3);
    Press(field, "5");
    field.Select(0, 0);
    Press(field, {Delete});
    EXPECT_TRUE(field.Validate());
    EXPECT_EQ(field.Text(), "027.000.005.009");
    EXPECT_EQ(field.RefusalMessage(), "");
    field.Leave();
    field.Enter();
    EXPECT_FALSE(field.Escape()); // the next entry starts afresh
}

TEST(MaskRules, HoweverTheFieldWasEnteredTheFirstKeyReplacesTheAddress) {
    // Entered, the field takes what the toolkit then did: where its caret
    // stood (a drag: selected how far), and a click or a key that moved it.
    enum TThen { tNothing, tClick, tMove };
    struct TRow {
        const char* name;
        const char* typedFirst;
        int caret, dragged;
        TThen then;
        std::string keys;
        const char* reads;
    };
    const TRow rows[] = {
        {"Tab: the caret at the end", "", 15, 0, tNothing, "127.0.0.2", "127.000.000.002"},
        {"the focus back after a run", "", 12, 0, tNothing, "127000000002", "127.000.000.002"},
        {"a click mid-field", "", 12, 0, tClick, "127000000002", "127.000.000.002"},
        {"a click that dragged a selection", "", 4, 3, tClick, "1", "192.001.100.100"},
        {"an arrow key moved the caret", "", 12, 0, tMove, "7", "192.168.100.007"},
        {"typed, then a click places the caret", "127000000002", 12, 0, tClick, "7",
         "127.000.000.007"},
        {"the first Backspace empties it", "", 8, 0, tNothing, "\b10.1.1.5", "010.001.001.005"},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TMaskRules field(AddressPattern, DefaultAddress);
        field.Enter();
        Press(field, row.typedFirst);
        field.Assign(field.Shown(), row.caret + row.dragged, row.caret, row.dragged,
                     field.Modified());
        if (row.then == tMove)
            field.CaretMoved();
        if (row.then == tClick)
            field.Click();
        EXPECT_EQ(Press(field, row.keys), 0);
        EXPECT_EQ(field.Reading(), row.reads);
    }
}

TEST(MaskRules, GroupRangeMessageNamesTheGroup) {
    const std::pair<int, const char*> rows[] = {
        {0, "The first group must be 0 to 255"},
        {1, "The second group must be 0 to 255"},
        {3, "The fourth group must be 0 to 255"},
        {4, "Group 5 must be 0 to 255"},
    };
    for (const auto& [group, message] : rows) {
        SCOPED_TRACE(group);
        EXPECT_EQ(GroupRangeMessage(group), message);
    }
}

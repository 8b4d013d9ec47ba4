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
    };
    const char* Default = DefaultAddress;
    const TRow rows[] = {
        {"dotted address into an empty field", "", 0, 0, "10.1.1.5", "10 .1  .1  .5  ", 13, 0},
        {"digits run over the literals", "", 0, 0, "127000000100", "127.000.000.100", 15, 0},
        {"all selected first", Default, 0, 15, "127000000002", "127.000.000.002", 15, 0},
        {"selection typed over: rest of it unfilled", Default, 4, 7, "1", "192.1  .   .100", 5, 0},
        {"literal clears the rest of the group", Default, 0, 0, "10.", "10 .168.100.100", 4, 0},
        {"literal after a full group only confirms", Default, 0, 0, "192.16.", "192.16 .100.100", 8,
         0},
        {"digit overtypes", Default, 0, 0, "2", "292.168.100.100", 1, 0},
        {"digit typed on a literal lands after it", Default, 3, 0, "5", "192.568.100.100", 5, 0},
        {"digit past the end changes nothing", Default, 15, 0, "5", "192.168.100.100", 15, 0},
        {"letter refused", Default, 0, 0, "a", "192.168.100.100", 0, 1},
        {"blank and other punctuation refused", Default, 5, 0, " ,-_", "192.168.100.100", 5, 4},
        {"literal in the last group refused", Default, 13, 0, ".", "192.168.100.100", 13, 1},
        {"Backspace unfills the digit before the caret",
         Default,
         2,
         0,
         {Backspace},
         "1 2.168.100.100",
         1,
         0},
        {"Backspace steps over a literal", Default, 4, 0, {Backspace}, "19 .168.100.100", 2, 0},
        {"Backspace at the start does nothing",
         Default,
         0,
         0,
         {Backspace},
         "192.168.100.100",
         0,
         0},
        {"Delete unfills at the caret, which stays",
         Default,
         4,
         0,
         {Delete},
         "192. 68.100.100",
         4,
         0},
        {"Delete keeps a literal", Default, 3, 0, {Delete}, "192.168.100.100", 3, 0},
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
    }
}

TEST(MaskRules, APasteOfAWholeAddressFillsTheFieldGroupByGroup) {
    struct TRow {
        const char* name;
        int selStart, selLength;
        const char* pasted;
        const char* reads;
        int caretAfter;
    };
    const TRow rows[] = {
        {"all selected", 0, 15, "127.0.0.2", "127.000.000.002", 15},
        {"caret in the middle", 6, 0, "127.0.0.2", "127.000.000.002", 15},
        {"line end and blanks around it", 0, 0, " 10.1.1.5\n", "010.001.001.005", 15},
        // Anything else is placed as typed from the caret.
        {"three groups only", 0, 15, "127.0.0", "127.0  .0  .   ", 9},
        {"five groups", 0, 15, "1.2.3.4.5", "1  .2  .3  .45 ", 14},
        {"a group too long", 0, 15, "1.2.3.4444", "1  .2  .3  .444", 15},
        {"digits only, over the selection", 4, 3, "12", "192.12 .100.100", 6},
        {"nothing that fits", 0, 0, "abc", "192.168.100.100", 0},
    };
    for (const TRow& row : rows) {
        SCOPED_TRACE(row.name);
        TMaskRules field = Field(DefaultAddress, row.selStart, row.selLength);
        field.Paste(row.pasted);
        EXPECT_EQ(field.Text(), row.reads);
        EXPECT_EQ(field.Caret(), row.caretAfter);
        EXPECT_EQ(field.Shown().find(' '), std::string::npos);
    }
}

TEST(MaskRules, OnlyAChangedIncompleteFieldIsHeldAndEscapeRestoresIt) {
    TMaskRules field(AddressPattern, DefaultAddress);
    field.SetText("1"); // set by the program, not the user: never validated
    EXPECT_EQ(field.Text(), "1  .   .   .   ");
    field.Enter();
    EXPECT_TRUE(field.Validate());
    EXPECT_FALSE(field.HoldsInvalidChange());
    EXPECT_FALSE(field.Escape()); // nothing to abandon
    field.Leave();

    field.SetText(DefaultAddress);
    field.Enter();
    field.Select(8, 0);
    Press(field, "1.");
    ASSERT_EQ(field.Text(), "192.168.1  .100");
    EXPECT_EQ(field.Shown(), "192.168.1__.100");
    EXPECT_TRUE(field.HoldsInvalidChange());
    field.Select(0, 0);
    EXPECT_FALSE(field.Validate());
    EXPECT_EQ(field.Caret(), 9); // the first unfilled position
    EXPECT_EQ(std::string(TMaskRules::InvalidInputMessage),
              "Invalid input value.  Use escape key to abandon changes");

    // Back from the error box: entering again keeps what Escape restores.
    field.Enter();
    EXPECT_TRUE(field.Escape());
    EXPECT_EQ(field.Text(), DefaultAddress);
    EXPECT_FALSE(field.Modified());
    EXPECT_TRUE(field.Validate());

    // Completed, a changed field may be left; the next entry starts afresh.
    Press(field, {Backspace});
    Press(field, "7");
    EXPECT_TRUE(field.Validate());
    field.Leave();
    field.Enter();
    EXPECT_FALSE(field.Escape());
    EXPECT_EQ(field.Text(), "192.168.100.107");
}

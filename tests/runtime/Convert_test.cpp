#include <gtest/gtest.h>

#include "runtime/Convert.h"
#include "runtime/Exception.h"
#include "runtime/Format.h"
#include "tests/support/Failure.h"

TEST(StrToInt, AcceptsDecimalAndHexadecimalForms) {
    struct Row {
        const char* text;
        std::int32_t value;
    } rows[] = {
        {"171", 171},
        {"  12", 12},
        {"+7", 7},
        {"-85", -85},
        {"$1F", 31},
        {"x1f", 31},
        {"X10", 16},
        {"0x10", 16},
        {"0XfF", 255},
        {"-$10", -16},
        {"007", 7},
        {"2147483647", INT32_MAX},
        {"-2147483648", INT32_MIN},
        // Hexadecimal texts are 32-bit patterns; leading zeros do not count.
        {"$FFFFFFAB", -85},
        {"$80000000", INT32_MIN},
        {"-$FFFFFFAB", 85},
        {"0x0000000007", 7},
    };
    for (const Row& r : rows) {
        SCOPED_TRACE(r.text);
        EXPECT_EQ(StrToInt(r.text), r.value);
    }
}

TEST(StrToInt, RefusesAnythingElseWithTheConversionMessage) {
    const char* bad[] = {"",           " ",           "12 ",        "1 2", "abc", "$",   "0x", "+",
                         "2147483648", "-2147483649", "$100000000", "1.5", "\t1", "12a", "--1"};
    for (const char* text : bad) {
        SCOPED_TRACE(text);
        EXPECT_THROW_MSG(StrToInt(text), EConvertError,
                         std::string("'") + text + "' is not a valid integer value");
    }
}

TEST(Trim, StripsBlanksAndControlCharactersAtBothEnds) {
    EXPECT_EQ(Trim(" \t 12\r\n"), "12");
    EXPECT_EQ(Trim("1 2"), "1 2");
    EXPECT_EQ(Trim("   "), "");
}

TEST(LetterCase, MovesOnlyTheLettersAToZAndComparesByThem) {
    // The bytes beside the letter ranges ('@', '[', '`', '{') and any byte
    // above 127 keep their value: names in other scripts are not folded.
    EXPECT_EQ(UpperCase("@az[`AZ{ caf\xc3\xa9"), "@AZ[`AZ{ CAF\xc3\xa9");
    EXPECT_EQ(LowerCase("@az[`AZ{ CAF\xc3\x89"), "@az[`az{ caf\xc3\x89");
    EXPECT_TRUE(SameText("RRPAGES.bin", "rrpages.BIN"));
    EXPECT_FALSE(SameText("@", "`"));
    EXPECT_FALSE(SameText("abc", "abcd"));
}

TEST(Format, FillsTextAndDecimalPlaceholders) {
    EXPECT_EQ(Format("Socket Error # %d\r\n%s", 10061, std::string("Connection refused.")),
              "Socket Error # 10061\r\nConnection refused.");
    EXPECT_EQ(FormatList("Resolving hostname %s.", {std::string("unit")}),
              "Resolving hostname unit.");
    EXPECT_EQ(FormatList("%s", {std::string()}), "");
}

TEST(Format, MismatchedPlaceholderFailsWithConvertError) {
    EXPECT_THROW(FormatList("%s %s", {std::string("one")}), EConvertError);
    EXPECT_THROW(FormatList("%d", {std::string("text")}), EConvertError);
}

TEST(EscapeControls, WritesControlCharactersAsEscapesAndKeepsEverythingElse) {
    const std::pair<std::string, std::string> rows[] = {
        // Texts without a control character come back byte for byte.
        {"Web pages transfered", "Web pages transfered"},
        {"C:\\IMAGES\\V1\\pages.bin", "C:\\IMAGES\\V1\\pages.bin"},
        {"caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe", "caf\xc3\xa9 \xe2\x82\xac \xf0\x9f\x92\xbe"},
        {"Latin-1 caf\xe9", "Latin-1 caf\xe9"},
        // A name that would forge a second line, and a terminal reset.
        {"x\nprogram image: forged.bin", "x\\nprogram image: forged.bin"},
        {"\x1b]0;title\x07\x1b"
         "c",
         "\\x1b]0;title\\x07\\x1bc"},
        {"a\tb\rc", "a\\tb\\rc"},
        {std::string("nul\0end", 7), "nul\\x00end"},
        {"del\x7f", "del\\x7f"},
        // C1 controls: CSI as UTF-8 and as a lone byte; a cut sequence.
        {"\xc2\x9b"
         "2J",
         "\\xc2\\x9b2J"},
        {"\x9b"
         "2J",
         "\\x9b2J"},
        {"\xc2", "\xc2"},
        {"\xe2\x82", "\xe2\\x82"},
    };
    for (const auto& [text, escaped] : rows) {
        SCOPED_TRACE(escaped);
        EXPECT_EQ(EscapeControls(text), escaped);
    }
}

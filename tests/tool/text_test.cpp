// text_test.cpp - the tool's text handling: song strings shown on a terminal
// and written as JSON, whatever bytes they hold.
#include <gtest/gtest.h>

#include <string>

#include "text.h"

namespace {

using Talvoren::CutToWidth;
using Talvoren::DisplayText;
using Talvoren::DisplayWidth;
using Talvoren::IsValidUtf8;
using Talvoren::JsonString;
using Talvoren::JsonText;

TEST(ToolText, Utf8IsAcceptedOnlyWhenWellFormed) {
    EXPECT_TRUE(IsValidUtf8(""));
    EXPECT_TRUE(IsValidUtf8("plain"));
    EXPECT_TRUE(IsValidUtf8("Gr\xc3\xbcn \xe2\x82\xac \xf0\x9f\x8e\xb8"));
    EXPECT_TRUE(IsValidUtf8("\xf4\x8f\xbf\xbf"));      // U+10FFFF
    EXPECT_FALSE(IsValidUtf8("Caf\xe9"));               // a Latin-1 byte
    EXPECT_FALSE(IsValidUtf8("\xc3"));                  // cut off
    EXPECT_FALSE(IsValidUtf8("\xe2\x82"));              // cut off
    EXPECT_FALSE(IsValidUtf8("\xc0\xaf"));              // overlong
    EXPECT_FALSE(IsValidUtf8("\xe0\x80\xaf"));          // overlong
    EXPECT_FALSE(IsValidUtf8("\xf0\x80\x80\xaf"));      // overlong
    EXPECT_FALSE(IsValidUtf8("\xed\xa0\x80"));          // a surrogate
    EXPECT_FALSE(IsValidUtf8("\xf4\x90\x80\x80"));      // past U+10FFFF
    EXPECT_FALSE(IsValidUtf8("\xc3\x28"));              // not a follower
}

TEST(ToolText, DisplayTextKeepsUtf8ReadsLatin1AndEscapesControls) {
    EXPECT_EQ(DisplayText("Gr\xc3\xbcn"), "Gr\xc3\xbcn");
    EXPECT_EQ(DisplayText("Caf\xe9"), "Caf\xc3\xa9");
    EXPECT_EQ(DisplayText("tab\there\n\x7f"), "tab\\x09here\\x0a\\x7f");
    // C1 controls: 0x80 to 0x9F as Latin-1, U+0080 to U+009F in UTF-8.
    EXPECT_EQ(DisplayText("a\x85\xe9"), "a\\x85\xc3\xa9");
    EXPECT_EQ(DisplayText("\xc2\x9f\xc2\xa0"), "\\x9f\xc2\xa0");
}

TEST(ToolText, JsonStringKeepsEveryByteAsItsCodePoint) {
    EXPECT_EQ(JsonString(""), "\"\"");
    EXPECT_EQ(JsonString("\"q\" \\ /"), "\"\\\"q\\\" \\\\ /\"");
    EXPECT_EQ(JsonString("\b\f\n\r\t\x01\x1f\x7f"), "\"\\b\\f\\n\\r\\t\\u0001\\u001f\\u007f\"");
    // Each byte 0x80 to 0xFF is its Latin-1 character, UTF-8 input included.
    EXPECT_EQ(JsonString("\xe9\xc3\xbc\xff"), "\"\xc3\xa9\xc3\x83\xc2\xbc\xc3\xbf\"");
    EXPECT_EQ(JsonText(nullptr), "null");
    EXPECT_EQ(JsonText("x"), "\"x\"");
}

TEST(ToolText, WidthCountsCharactersAndCutsAtTheirBoundaries) {
    EXPECT_EQ(DisplayWidth("Gr\xc3\xbcn"), 4u);
    EXPECT_EQ(CutToWidth("Gr\xc3\xbcn", 10), "Gr\xc3\xbcn");
    EXPECT_EQ(CutToWidth("Gr\xc3\xbcn", 3), "Gr\xc3\xbc");
    EXPECT_EQ(CutToWidth("Gr\xc3\xbcn", 2), "Gr");
    EXPECT_EQ(CutToWidth("\xe2\x82\xac\xe2\x82\xac", 1), "\xe2\x82\xac");
    EXPECT_EQ(CutToWidth("abc", 0), "");
}

}  // namespace

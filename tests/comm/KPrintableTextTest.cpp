#include <gtest/gtest.h>

#include <string>

#include "comm/KPrintableText.h"

namespace {

TEST(PrintableText, ControlsAndBadBytesAreEscapedAndCharactersKept) {
    const struct {
        const char* name;
        std::string raw;
        std::string shown;
    } cases[] = {
        {"plain", "/dev/ttyUSB0", "/dev/ttyUSB0"},
        {"title and clear", "\x1b]0;pwned\x07\x1b[2J", "\\e]0;pwned\\x07\\e[2J"},
        {"line ends and tab", "a\r\nb\tc", "a\\r\\nb\\tc"},
        {"NUL and DEL", std::string("a\0b\x7f", 4), "a\\x00b\\x7f"},
        {"C1 CSI as UTF-8", "x\xc2\x9b" "2Jy", "x\\xc2\\x9b2Jy"},
        {"C1 at the end of the range", "\xc2\x80\xc2\x9f", "\\xc2\\x80\\xc2\\x9f"},
        {"bidirectional override", "abc\xe2\x80\xae" "def", "abc\\xe2\\x80\\xaedef"},
        {"line separator", "a\xe2\x80\xa8" "b", "a\\xe2\\x80\\xa8b"},
        {"a C1 byte alone", "\x9b" "2J", "\\x9b2J"},
        {"invalid lead and overlong", "\xff\xc0\xaf", "\\xff\\xc0\\xaf"},
        {"surrogate", "\xed\xa0\x80", "\\xed\\xa0\\x80"},
        {"cut sequence", "ab\xe2\x82", "ab\\xe2\\x82"},
        {"non-ASCII kept", "Caf\xc3\xa9 \xc2\xb0 \xe6\x97\xa5 \xf0\x9f\x9b\xb0 \xc2\xa0", "Caf\xc3\xa9 \xc2\xb0 \xe6\x97\xa5 \xf0\x9f\x9b\xb0 \xc2\xa0"},
        {"backslashes as they are", "\\\\.\\COM3", "\\\\.\\COM3"},
    };
    for (const auto& c : cases) EXPECT_EQ(PrintableText(c.raw), c.shown) << c.name;
}

TEST(PrintableText, LineBreaksCanBeKeptForMultiLineTexts) {
    EXPECT_EQ(PrintableText("one\ntwo\r\n\x1b[31m", true), "one\ntwo\\r\n\\e[31m");
}

} // namespace

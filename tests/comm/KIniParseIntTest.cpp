#include <gtest/gtest.h>

#include <climits>

#include "comm/KIniSettingsStore.h"

namespace {

TEST(KIniParseInt, ReadsLeadingDigitsTheWayGetPrivateProfileIntDoes) {
    EXPECT_EQ(KIniParseInt("9600"), 9600);
    EXPECT_EQ(KIniParseInt("12abc"), 12);
    EXPECT_EQ(KIniParseInt(" -3"), -3);
    EXPECT_EQ(KIniParseInt("\t 7"), 7);
    EXPECT_EQ(KIniParseInt("+15"), 15);
    EXPECT_EQ(KIniParseInt("007"), 7);
    EXPECT_EQ(KIniParseInt("12 34"), 12);
    EXPECT_EQ(KIniParseInt("3.9"), 3);
}

TEST(KIniParseInt, NoDigitsIsZero) {
    for (const char* text : {"", "x", "-", "+", "- 3", "--3", "+-3", "0x10", "  ", "abc12"})
        EXPECT_EQ(KIniParseInt(text), 0) << '"' << text << '"';
    EXPECT_EQ(KIniParseInt("0x10"), 0);
}

TEST(KIniParseInt, WrapsAroundAtThirtyTwoBits) {
    EXPECT_EQ(KIniParseInt("2147483647"), INT32_MAX);
    EXPECT_EQ(KIniParseInt("2147483648"), INT32_MIN);
    EXPECT_EQ(KIniParseInt("-2147483648"), INT32_MIN);
    EXPECT_EQ(KIniParseInt("-2147483649"), INT32_MAX);
    EXPECT_EQ(KIniParseInt("4294967295"), -1);
    EXPECT_EQ(KIniParseInt("4294967297"), 1);
    EXPECT_EQ(KIniParseInt("99999999999"), 1215752191);
    EXPECT_EQ(KIniParseInt("-4294967296"), 0);
    EXPECT_EQ(KIniParseInt(std::string(200, '9')), KIniParseInt(std::string(200, '9')));  // no overflow trap
}

} // namespace

#include <gtest/gtest.h>

#include "comm/KIniDocument.h"

namespace {

const char* kSample =
    "; Velinor settings\n"
    "[BaudSet]\n"
    "LastRcvr=3\n"
    "  LastPort  =  1  \n"
    "\n"
    "[Other]\n"
    "Name = \"  quoted  \"\n"
    "Single='x'\n"
    "Lonely=\"\n"
    "Inline=12 ; not a comment here\n"
    "NoEquals\n"
    ";LastBaud=4800\n";

TEST(KIniDocument, ReadsSectionsAndKeysWithoutRegardToCase) {
    KIniDocument doc(kSample);
    EXPECT_EQ(doc.Get("BaudSet", "LastRcvr"), "3");
    EXPECT_EQ(doc.Get("baudset", "LASTPORT"), "1");
    EXPECT_EQ(doc.Get("BAUDSET", "lastrcvr"), "3");
    EXPECT_EQ(doc.Get("BaudSet", "LastBaud"), std::nullopt);
    EXPECT_EQ(doc.Get("Other", "LastRcvr"), std::nullopt) << "keys belong to their section";
    EXPECT_EQ(doc.Get("Missing", "LastRcvr"), std::nullopt);
}

TEST(KIniDocument, ValuesAreTrimmedAndLoseOnePairOfQuotes) {
    KIniDocument doc(kSample);
    EXPECT_EQ(doc.Get("Other", "Name"), "  quoted  ");
    EXPECT_EQ(doc.Get("Other", "Single"), "x");
    EXPECT_EQ(doc.Get("Other", "Lonely"), "\"");
    EXPECT_EQ(doc.Get("Other", "Inline"), "12 ; not a comment here");
    EXPECT_EQ(doc.Get("Other", "NoEquals"), std::nullopt);
    EXPECT_EQ(doc.Get("Other", ";LastBaud"), std::nullopt) << "comment lines hold no keys";
    EXPECT_EQ(doc.Get("Other", "LastBaud"), std::nullopt);
}

TEST(KIniDocument, ChangingAValueTouchesOnlyItsLine) {
    KIniDocument doc(kSample);
    doc.Set("baudset", "lastport", "7");
    std::string expected = kSample;
    expected.replace(expected.find("  LastPort  =  1  "), 18, "LastPort=7");
    EXPECT_EQ(doc.Text(), expected);
}

TEST(KIniDocument, NewKeysGoAtTheEndOfTheirSectionBeforeItsBlankLines) {
    KIniDocument doc(kSample);
    doc.Set("BaudSet", "LastBaud", "9600");
    std::string expected = kSample;
    expected.insert(expected.find("\n\n[Other]") + 1, "LastBaud=9600\n");
    EXPECT_EQ(doc.Text(), expected);
    EXPECT_EQ(doc.Get("BaudSet", "LastBaud"), "9600");
}

TEST(KIniDocument, NewSectionsGoAtTheEnd) {
    KIniDocument doc("[A]\nx=1");  // no line end after the last line
    doc.Set("B", "y", "2");
    EXPECT_EQ(doc.Text(), "[A]\nx=1\n\n[B]\ny=2\n");
    KIniDocument empty("");
    empty.Set("BaudSet", "LastRcvr", "2");
    EXPECT_EQ(empty.Text(), "[BaudSet]\nLastRcvr=2\n");
}

TEST(KIniDocument, WindowsLineEndsStay) {
    KIniDocument doc("[A]\r\nx=1\r\n");
    EXPECT_EQ(doc.Get("A", "x"), "1");
    doc.Set("A", "y", "2");
    doc.Set("B", "z", "3");
    EXPECT_EQ(doc.Text(), "[A]\r\nx=1\r\ny=2\r\n\r\n[B]\r\nz=3\r\n");
}

TEST(KIniDocument, TheFirstOfTwoSameNamedSectionsAndKeysCounts) {
    KIniDocument doc("[A]\nx=1\nx=2\n[a]\nx=3\ny=4\n");
    EXPECT_EQ(doc.Get("A", "x"), "1");
    EXPECT_EQ(doc.Get("A", "y"), std::nullopt);
    doc.Set("A", "x", "5");
    EXPECT_EQ(doc.Text(), "[A]\nx=5\nx=2\n[a]\nx=3\ny=4\n");
}

TEST(KIniDocument, KeysBeforeAnySectionBelongToNone) {
    KIniDocument doc("x=1\n[A]\ny=2\n");
    EXPECT_EQ(doc.Get("A", "x"), std::nullopt);
    EXPECT_EQ(doc.Get("", "x"), std::nullopt);
    EXPECT_EQ(doc.Get("A", "y"), "2");
}

TEST(KIniDocument, SectionHeadersMayCarryBlanksAndTrailingText) {
    KIniDocument doc("  [BaudSet]  \nLastBaud=4800\n[Next] ; note\nk=v\n");
    EXPECT_EQ(doc.Get("BaudSet", "LastBaud"), "4800");
    EXPECT_EQ(doc.Get("Next", "k"), "v");
}

} // namespace

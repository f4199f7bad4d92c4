#include "message/ixHeaderFieldList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ix;

namespace {

std::vector<std::string> Lines(const TStrings& AList)
{
    std::vector<std::string> lines;
    for (int32_t i = 0; i < AList.Count(); ++i)
        lines.push_back(AList.Get(i));
    return lines;
}

/// A header list parsed over its own lines.
struct ParsedHeader
{
    explicit ParsedHeader(std::initializer_list<std::string> ALines) : Source(ALines) { List.Parse(0, Source); }
    TStringList Source;
    TixHeaderFieldList List;
};

} // namespace

TEST(HeaderFieldList, RawReadDropsOneBlankAfterTheColonAndTrimmedReadDropsAll)
{
    ParsedHeader header{"Subject:hello", "X-One: hello", "X-Two:  hello ", "", "body: not a field"};
    EXPECT_EQ(header.List.GetHeaderEnd(), 3);
    EXPECT_EQ(header.List.GetFieldCount(), 3);
    EXPECT_EQ(header.List.GetFieldValueRaw(0), "hello");
    EXPECT_EQ(header.List.GetFieldValueRaw(1), "hello");
    EXPECT_EQ(header.List.GetFieldValueRaw(2), " hello ");
    EXPECT_EQ(header.List.GetFieldValue("x-two"), "hello");
    EXPECT_EQ(header.List.GetFieldValue("body"), "");
}

TEST(HeaderFieldList, UnfoldingTakesOutOnlyTheLineBreaks)
{
    ParsedHeader header{"To: a,", "\tb", "Cc: a,", " b", "Subject: Quarterly report for", "\tthe region", "Bcc: x"};
    EXPECT_EQ(header.List.GetFieldValue("to"), "a,\tb");
    EXPECT_EQ(header.List.GetFieldValue("cc"), "a, b");
    EXPECT_EQ(header.List.GetFieldValue("subject"), "Quarterly report for\tthe region");
    EXPECT_EQ(header.List.GetFieldEnd(0), 1);
    EXPECT_EQ(header.List.GetFieldEnd(3), 6);  // runs to the end: HeaderEnd - 1
}

TEST(HeaderFieldList, LookupIgnoresCaseTakesTheFirstAndKeepsBlanksInNames)
{
    ParsedHeader header{"Received: one", "SUBJECT: caps", "Received: two", "X-Odd : spaced", "Date: later"};
    EXPECT_EQ(header.List.GetFieldCount(), 5);
    EXPECT_EQ(header.List.GetFieldValue("received"), "one");
    EXPECT_EQ(header.List.GetFieldValue("Subject"), "caps");
    EXPECT_EQ(header.List.GetFieldName(1), "SUBJECT");
    EXPECT_EQ(header.List.GetFieldIndex("x-odd"), -1);
    EXPECT_EQ(header.List.GetFieldIndex("X-ODD "), 3);
    EXPECT_EQ(header.List.GetFieldValue("date"), "later");
    EXPECT_EQ(header.List.GetFieldName(9), "");
    EXPECT_EQ(header.List.GetFieldValueRaw(-1), "");
}

TEST(HeaderFieldList, ItemValuesComeUnquotedAndTheEmptyNameGivesTheFirstToken)
{
    TixHeaderFieldList list;
    const std::string type = "text/plain; charset=\"utf-8\"; name=\"a;b.txt\"";
    EXPECT_EQ(list.GetItemValue(type, "charset"), "utf-8");
    EXPECT_EQ(list.GetItemValue(type, "CHARSET"), "utf-8");
    EXPECT_EQ(list.GetItemValue(type, ""), "text/plain");
    EXPECT_EQ(list.GetItemValue(type, "name"), "a;b.txt");
    EXPECT_EQ(list.GetItemValue(type, "missing"), "");
    EXPECT_EQ(list.GetItemValue("a; size = 12 ,b=1", "size"), "12");
    EXPECT_EQ(list.GetItemValue("attachment; name=O'Brien.pdf; size=3", "name"), "O'Brien.pdf");
    EXPECT_EQ(list.GetItemValue("x; a='single quoted'", "a"), "single quoted");
}

TEST(HeaderFieldList, ItemNamesMatchOnlyAtTheStartOfAnItem)
{
    // Messages with decoy parameters are split in mime_bodies_tests.cpp.
    TixHeaderFieldList list;
    EXPECT_EQ(list.GetItemValue("attachment; filename=\"report.pdf\"", "name"), "");
    EXPECT_EQ(list.GetItemValue("a; name=\"x; charset=evil\"; charset=good", "charset"), "good");
    int32_t length = -1;
    int32_t start = -1;
    std::string value;
    list.GetItemBounds("attachment; filename=\"r.pdf\"", "filename", length, start, value);
    EXPECT_EQ(start, 13);
    EXPECT_EQ(length, 16);
    EXPECT_EQ(value, "\"r.pdf\"");
    list.GetItemBounds("attachment", "name", length, start, value);
    EXPECT_EQ(start, 0);
    EXPECT_EQ(length, 0);
    EXPECT_EQ(value, "");
}

TEST(HeaderFieldList, RemovingAnItemTakesItsDelimiterAndClearingKeepsTheName)
{
    TixHeaderFieldList list;
    const std::string type = "text/plain; charset=utf-8; name=x";
    EXPECT_EQ(list.RemoveItem(type, "charset"), "text/plain; name=x");
    EXPECT_EQ(list.RemoveItem(type, "name"), "text/plain; charset=utf-8");
    EXPECT_EQ(list.RemoveItem(type, "absent"), type);
    EXPECT_EQ(list.ClearItemValue(type, "charset"), "text/plain; charset=; name=x");
}

TEST(HeaderFieldList, LongFieldsFoldOnlyBeforeBlanksAndReadBackUnchanged)
{
    TStringList source;
    TixHeaderFieldList list;
    list.SetCharsPerLine(30);
    list.Parse(0, source);
    const std::string value = "Quarterly report for the region\tand a " + std::string(40, 'w') + " end";
    list.AddField("Subject", value);
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"Subject: Quarterly report for", " the region\tand a",
                                 " " + std::string(40, 'w'), " end"}));
    EXPECT_EQ(list.GetHeaderEnd(), 4);
    EXPECT_EQ(list.GetFieldValueRaw(0), value);
    // Only a run longer than any line may be is cut; the rest goes on after a TAB. The blank
    // before the value is no fold point (the value would gain a leading blank).
    list.AddField("X-Long", std::string(1200, 'v'));
    EXPECT_EQ(source[4], "X-Long: " + std::string(990, 'v'));
    EXPECT_EQ(Lines(source).back(), "\t" + std::string(210, 'v'));
}

TEST(HeaderFieldList, ALoneStickyCharacterStaysOnThePreviousLine)
{
    TStringList source{"A: 1", "B: 2"};
    TixHeaderFieldList list;
    list.SetCharsPerLine(7);
    list.Parse(0, source);
    list.InsertField(2, "To: abc >", true);
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"A: 1", "B: 2", "To: abc >"}));
    // A text that is one sticky character never joins the field before it.
    list.InsertField(2, ">", true);
    EXPECT_EQ(source[1], "B: 2");
    EXPECT_EQ(source[2], ">");
}

TEST(HeaderFieldList, LineBreaksInsideAValueNeverStartANewField)
{
    TStringList source{"From: a@b.c", "", "body"};
    TixHeaderFieldList list;
    list.Parse(0, source);
    list.AddField("Subject", "hi\r\nBcc: victim@example.com\r\n\r\nbody injection");
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"From: a@b.c", "Subject: hi", "\tBcc: victim@example.com",
                                 "\tbody injection", "", "body"}));
    EXPECT_EQ(list.GetFieldCount(), 2);
    EXPECT_EQ(list.GetFieldIndex("bcc"), -1);
    EXPECT_EQ(list.GetHeaderEnd(), 4);
}

TEST(HeaderFieldList, ItemsGoOnTheLastLineWhileTheyFitAndOnNewLinesOtherwise)
{
    TStringList source{"Content-Type: text/plain", "From: x", ""};
    TixHeaderFieldList list;
    list.SetCharsPerLine(50);
    list.Parse(0, source);
    list.AddQuotedFieldItem("content-type", "charset", "utf-8");
    EXPECT_EQ(source[0], "Content-Type: text/plain; charset=\"utf-8\"");
    list.AddFieldItem("content-type", "name", "  report.pdf ");
    EXPECT_EQ(source[0], "Content-Type: text/plain; charset=\"utf-8\";");
    EXPECT_EQ(source[1], "\tname=report.pdf");
    EXPECT_EQ(list.GetHeaderEnd(), 3);
    EXPECT_EQ(list.GetFieldValue("from"), "x");
    list.AddFieldItem("content-type", "ignored", "   ");
    list.AddQuotedFieldItem("content-type", "empty", "");
    EXPECT_EQ(source[1], "\tname=report.pdf; empty=\"\"");
    EXPECT_EQ(list.GetItemValue(list.GetFieldValue("content-type"), "name"), "report.pdf");
}

TEST(HeaderFieldList, AnItemAfterAnEmptyFieldGetsNoDelimiter)
{
    TStringList source;
    TixHeaderFieldList list;
    list.Parse(0, source);
    list.AddEmptyField("Content-Disposition");
    list.AddFieldItem("content-disposition", "", "attachment");
    EXPECT_EQ(source[0], "Content-Disposition: attachment");
}

TEST(HeaderFieldList, NewLineItemsFoldBeforeBlanks)
{
    TStringList source{"Content-Type: a"};
    TixHeaderFieldList list;
    list.SetCharsPerLine(12);
    list.Parse(0, source);
    list.InsertFieldItem(0, "name", true, "\"abcdefghijkl mnop\"");
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"Content-Type: a;", "\tname=\"abcdefghijkl", " mnop\""}));
    EXPECT_EQ(list.GetItemValue(list.GetFieldValue("content-type"), "name"), "abcdefghijkl mnop");
    EXPECT_EQ(list.GetHeaderEnd(), 3);
}

TEST(HeaderFieldList, RemovingAnItemRewritesOnlyThatFieldAndKeepsTheIndex)
{
    TStringList source{"Content-Type: text/plain;", "\tname=x.txt;", "\tcharset=utf-8", "Subject: s", "", "b"};
    TixHeaderFieldList list;
    list.Parse(0, source);
    list.RemoveFieldItem("content-type", "charset");
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"Content-Type: text/plain;", "\tname=x.txt", "Subject: s", "",
                                 "b"}));
    EXPECT_EQ(list.GetHeaderEnd(), 3);
    EXPECT_EQ(list.GetFieldValue("subject"), "s");
    list.ClearFieldItemValue(0, "name");
    EXPECT_EQ(source[1], "\tname=");
    list.RemoveFieldItem("absent", "name");
    EXPECT_EQ(source.Count(), 5);
}

TEST(HeaderFieldList, InsertedFieldsKeepTheIndexInLineOrder)
{
    TStringList source{"--boundary", "A: 1", "C: 3", "", "body"};
    TixHeaderFieldList list;
    EXPECT_EQ(list.Parse(1, source), 3);
    list.InsertField(2, "B: 2", false);
    list.InsertField(0, "Z: before the header", false);  // kept inside the header
    EXPECT_EQ(source[0], "--boundary");
    EXPECT_EQ(list.GetFieldCount(), 4);
    EXPECT_EQ(list.GetFieldName(0), "Z");
    EXPECT_EQ(list.GetFieldValue("b"), "2");
    EXPECT_EQ(list.GetFieldValue("c"), "3");
    EXPECT_EQ(list.GetFieldLine(3), 4);
    EXPECT_EQ(list.GetHeaderEnd(), 5);
    list.DeleteFieldLines(list.GetFieldIndex("a"));
    EXPECT_EQ(list.GetFieldValue("c"), "3");
    EXPECT_EQ(list.GetHeaderEnd(), 4);
    TStringList parsed;
    parsed.Assign(source);
    TixHeaderFieldList fresh;
    fresh.Parse(1, parsed);
    EXPECT_EQ(Lines(fresh.GetFieldNames()), Lines(list.GetFieldNames()));
}

TEST(HeaderFieldList, EndOfHeaderIsAddedOnlyWhenMissing)
{
    TStringList source;
    TixHeaderFieldList list;
    EXPECT_EQ(list.Parse(0, source), 0);
    EXPECT_EQ(list.GetFieldCount(), 0);
    list.AddEndOfHeader();
    EXPECT_EQ(source.Count(), 0) << "an empty header gets no end line";
    source.Add("A: 1");
    list.Parse(0, source);
    list.AddEndOfHeader();
    list.AddEndOfHeader();
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"A: 1", ""}));
    TStringList withBody{"A: 1", "", "body"};
    list.Parse(0, withBody);
    list.AddEndOfHeader();
    EXPECT_EQ(withBody.Count(), 3);
}

TEST(HeaderFieldList, PrefixedLinesAndFieldListsExtendTheHeader)
{
    TStringList source{"A: 1", ""};
    TixHeaderFieldList list;
    list.Parse(0, source);
    TStringList extra{"B: 2", "", "C: 3"};
    list.AddFields(extra);
    TStringList items{"x=1;", "y=2"};
    list.InsertPrefixedLines(list.GetFieldEnd(0) + 1, items, "\t", "\t ");
    EXPECT_EQ(Lines(source), (std::vector<std::string>{"A: 1", "\tx=1;", "\t y=2", "B: 2", "C: 3", ""}));
    EXPECT_EQ(list.GetHeaderEnd(), 5);
    EXPECT_EQ(list.GetFieldValue("c"), "3");
    TStringList fieldLines;
    list.GetFieldLines(0, fieldLines);
    EXPECT_EQ(Lines(fieldLines), (std::vector<std::string>{"A: 1", "\tx=1;", "\t y=2"}));
}

TEST(HeaderFieldList, ThousandsOfAddedFieldsStayIndexed)
{
    TStringList source{""};
    TixHeaderFieldList list;
    list.Parse(0, source);
    for (int i = 0; i < 5000; ++i)
        list.AddField("X-N" + std::to_string(i), std::to_string(i));
    EXPECT_EQ(list.GetFieldCount(), 5000);
    EXPECT_EQ(list.GetHeaderEnd(), 5000);
    EXPECT_EQ(list.GetFieldValue("x-n4999"), "4999");
    EXPECT_EQ(source[5000], "");
}

#include "message/ixHeaderFieldList.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "message/message_test_support.h"

using namespace ix;
using ix::test::LinesOf;

namespace {

/// A header list parsed over its own lines, folding them to ACharsPerLine (0: no folding).
struct ParsedHeader
{
    explicit ParsedHeader(std::initializer_list<std::string> ALines, int32_t ACharsPerLine = 0) : Source(ALines)
    {
        List.SetCharsPerLine(ACharsPerLine);
        List.Parse(0, Source);
    }
    TStringList Source;
    TixHeaderFieldList List;
};

} // namespace

TEST(HeaderFieldList, ParsedFieldsAreFoundWithoutRegardToCaseAndReadRawTrimmedOrUnfolded)
{
    // A raw read drops one blank after the colon, a trimmed read all; unfolding takes out only
    // the line breaks.
    ParsedHeader header{"X-Zero:hello", "X-One: hello", "X-Two:  hello ", "To: a,", "\tb", "Cc: a,", " b",
        "Subject: Quarterly report for", "\tthe region", "", "body: not a field"};
    EXPECT_EQ(header.List.GetHeaderEnd(), 9);
    EXPECT_EQ(header.List.GetFieldCount(), 6);
    EXPECT_EQ(header.List.GetFieldValueRaw(0), "hello");
    EXPECT_EQ(header.List.GetFieldValueRaw(1), "hello");
    EXPECT_EQ(header.List.GetFieldValueRaw(2), " hello ");
    EXPECT_EQ(header.List.GetFieldValue("x-two"), "hello");
    EXPECT_EQ(header.List.GetFieldValue("body"), "");
    EXPECT_EQ(header.List.GetFieldValue("to"), "a,\tb");
    EXPECT_EQ(header.List.GetFieldValue("cc"), "a, b");
    EXPECT_EQ(header.List.GetFieldValue("subject"), "Quarterly report for\tthe region");
    EXPECT_EQ(header.List.GetFieldEnd(3), 4);
    EXPECT_EQ(header.List.GetFieldEnd(5), 8);
    // Lookup takes the first field of a name and keeps blanks in names; without a blank line the
    // last field runs to the end.
    ParsedHeader repeated{"Received: one", "SUBJECT: caps", "Received: two", "X-Odd : spaced", "Date: later"};
    EXPECT_EQ(repeated.List.GetFieldCount(), 5);
    EXPECT_EQ(repeated.List.GetFieldValue("received"), "one");
    EXPECT_EQ(repeated.List.GetFieldValue("Subject"), "caps");
    EXPECT_EQ(repeated.List.GetFieldName(1), "SUBJECT");
    EXPECT_EQ(repeated.List.GetFieldIndex("x-odd"), -1);
    EXPECT_EQ(repeated.List.GetFieldIndex("X-ODD "), 3);
    EXPECT_EQ(repeated.List.GetFieldValue("date"), "later");
    EXPECT_EQ(repeated.List.GetFieldName(9), "");
    EXPECT_EQ(repeated.List.GetFieldValueRaw(-1), "");
    EXPECT_EQ(repeated.List.GetFieldEnd(4), 4);
}

TEST(HeaderFieldList, ItemValuesComeUnquotedAndTheEmptyNameGivesTheFirstTokenAndNamesMatchWholeItems)
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
    // A name matches only at the start of an item, never inside another name or a quoted value.
    EXPECT_EQ(list.GetItemValue("attachment; filename=\"report.pdf\"", "name"), "");
    EXPECT_EQ(list.GetItemValue("a; name=\"x; charset=evil\"; charset=good", "charset"), "good");
}

TEST(HeaderFieldList, LongFieldsFoldOnlyBeforeBlanksAndReadBackUnchanged)
{
    ParsedHeader header({}, 30);
    const std::string value = "Quarterly report for the region\tand a " + std::string(40, 'w') + " end";
    header.List.AddField("Subject", value);
    EXPECT_EQ(LinesOf(header.Source), (std::vector<std::string>{"Subject: Quarterly report for", " the region\tand a",
                                 " " + std::string(40, 'w'), " end"}));
    EXPECT_EQ(header.List.GetHeaderEnd(), 4);
    EXPECT_EQ(header.List.GetFieldValueRaw(0), value);
    // Only a run longer than any line may be is cut; the rest goes on after a TAB. The blank
    // before the value is no fold point (the value would gain a leading blank).
    header.List.AddField("X-Long", std::string(1200, 'v'));
    EXPECT_EQ(header.Source[4], "X-Long: " + std::string(990, 'v'));
    EXPECT_EQ(LinesOf(header.Source).back(), "\t" + std::string(210, 'v'));
    // A lone sticky character stays on the previous line.
    ParsedHeader sticky({"A: 1", "B: 2"}, 7);
    sticky.List.InsertField(2, "To: abc >", true);
    EXPECT_EQ(LinesOf(sticky.Source), (std::vector<std::string>{"A: 1", "B: 2", "To: abc >"}));
    // A text that is one sticky character never joins the field before it.
    sticky.List.InsertField(2, ">", true);
    EXPECT_EQ(sticky.Source[1], "B: 2");
    EXPECT_EQ(sticky.Source[2], ">");
}

TEST(HeaderFieldList, LineBreaksInsideAValueNeverStartANewField)
{
    ParsedHeader header{"From: a@b.c", "", "body"};
    header.List.AddField("Subject", "hi\r\nBcc: victim@example.com\r\n\r\nbody injection");
    EXPECT_EQ(LinesOf(header.Source), (std::vector<std::string>{"From: a@b.c", "Subject: hi", "\tBcc: victim@example.com",
                                 "\tbody injection", "", "body"}));
    EXPECT_EQ(header.List.GetFieldCount(), 2);
    EXPECT_EQ(header.List.GetFieldIndex("bcc"), -1);
    EXPECT_EQ(header.List.GetHeaderEnd(), 4);
}

TEST(HeaderFieldList, ItemsGoOnTheLastLineWhileTheyFitAndOnNewLinesOtherwise)
{
    ParsedHeader header({"Content-Type: text/plain", "From: x", ""}, 50);
    header.List.AddQuotedFieldItem("content-type", "charset", "utf-8");
    EXPECT_EQ(header.Source[0], "Content-Type: text/plain; charset=\"utf-8\"");
    header.List.AddFieldItem("content-type", "name", "  report.pdf ");
    EXPECT_EQ(header.Source[0], "Content-Type: text/plain; charset=\"utf-8\";");
    EXPECT_EQ(header.Source[1], "\tname=report.pdf");
    EXPECT_EQ(header.List.GetHeaderEnd(), 3);
    EXPECT_EQ(header.List.GetFieldValue("from"), "x");
    header.List.AddFieldItem("content-type", "ignored", "   ");
    header.List.AddQuotedFieldItem("content-type", "empty", "");
    EXPECT_EQ(header.Source[1], "\tname=report.pdf; empty=\"\"");
    EXPECT_EQ(header.List.GetItemValue(header.List.GetFieldValue("content-type"), "name"), "report.pdf");
    // After an empty field an item gets no delimiter; items on new lines fold before blanks.
    ParsedHeader empty({});
    empty.List.AddEmptyField("Content-Disposition");
    empty.List.AddFieldItem("content-disposition", "", "attachment");
    EXPECT_EQ(empty.Source[0], "Content-Disposition: attachment");
    ParsedHeader narrow({"Content-Type: a"}, 12);
    narrow.List.InsertFieldItem(0, "name", true, "\"abcdefghijkl mnop\"");
    EXPECT_EQ(LinesOf(narrow.Source), (std::vector<std::string>{"Content-Type: a;", "\tname=\"abcdefghijkl", " mnop\""}));
    EXPECT_EQ(narrow.List.GetItemValue(narrow.List.GetFieldValue("content-type"), "name"), "abcdefghijkl mnop");
    EXPECT_EQ(narrow.List.GetHeaderEnd(), 3);
}

TEST(HeaderFieldList, RemovingAnItemTakesItsDelimiterAndRewritesOnlyThatFieldKeepingTheIndex)
{
    ParsedHeader header{"Content-Type: text/plain;", "\tname=x.txt;", "\tcharset=utf-8", "Subject: s", "", "b"};
    header.List.RemoveFieldItem("content-type", "charset");
    EXPECT_EQ(LinesOf(header.Source), (std::vector<std::string>{"Content-Type: text/plain;", "\tname=x.txt", "Subject: s", "",
                                 "b"}));
    EXPECT_EQ(header.List.GetHeaderEnd(), 3);
    EXPECT_EQ(header.List.GetFieldValue("subject"), "s");
    header.List.ClearFieldItemValue(0, "name");
    EXPECT_EQ(header.Source[1], "\tname=");
    header.List.RemoveFieldItem("absent", "name");
    EXPECT_EQ(header.Source.Count(), 5);
    const std::string type = "text/plain; charset=utf-8; name=x";
    EXPECT_EQ(header.List.RemoveItem(type, "charset"), "text/plain; name=x");
    EXPECT_EQ(header.List.RemoveItem(type, "name"), "text/plain; charset=utf-8");
    EXPECT_EQ(header.List.RemoveItem(type, "absent"), type);
    EXPECT_EQ(header.List.ClearItemValue(type, "charset"), "text/plain; charset=; name=x");
}

TEST(HeaderFieldList, InsertedFieldsPrefixedLinesAndFieldListsKeepTheIndexInLineOrder)
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
    EXPECT_EQ(LinesOf(fresh.GetFieldNames()), LinesOf(list.GetFieldNames()));
    ParsedHeader header{"A: 1", ""};
    TStringList extra{"B: 2", "", "C: 3"};
    header.List.AddFields(extra);
    TStringList items{"x=1;", "y=2"};
    header.List.InsertPrefixedLines(header.List.GetFieldEnd(0) + 1, items, "\t", "\t ");
    EXPECT_EQ(LinesOf(header.Source), (std::vector<std::string>{"A: 1", "\tx=1;", "\t y=2", "B: 2", "C: 3", ""}));
    EXPECT_EQ(header.List.GetHeaderEnd(), 5);
    EXPECT_EQ(header.List.GetFieldValue("c"), "3");
    TStringList fieldLines;
    header.List.GetFieldLines(0, fieldLines);
    EXPECT_EQ(LinesOf(fieldLines), (std::vector<std::string>{"A: 1", "\tx=1;", "\t y=2"}));
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
    EXPECT_EQ(LinesOf(source), (std::vector<std::string>{"A: 1", ""}));
    TStringList withBody{"A: 1", "", "body"};
    list.Parse(0, withBody);
    list.AddEndOfHeader();
    EXPECT_EQ(withBody.Count(), 3);
}

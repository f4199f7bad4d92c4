#include "util/ixUtils.h"

#include <gtest/gtest.h>

#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "support/PieceStream.h"
#include "util/ixTranslator.h"

namespace ix {
namespace {

using namespace std::string_literals;
using TLines = std::vector<std::string>;

TLines Lines(const TStrings& AList)
{
    TLines result;
    for (int32_t i = 0; i < AList.Count(); ++i)
        result.push_back(AList[i]);
    return result;
}

struct TSplitCase
{
    std::string Text;
    TLines Lines;
    int64_t Result;
};

// What AddTextToStrings returns for the whole text: 0 when it ends with a line, else its length
// (a lone CR at the end may still be followed by its LF). A lone CR ends a line.
const TSplitCase SplitCases[] = {
    {"+OK 2 320\r\nline one\r\n\r\n.\r\n", {"+OK 2 320", "line one", "", "."}, 0},
    {"a\nb\n\nc\n", {"a", "b", "", "c"}, 0},
    {"x\r\ny\nz\r\n\n", {"x", "y", "z", ""}, 0},
    {"abc\r\nde", {"abc", "de"}, 7},
    {"a\0b\r\n\0"s, {"a b", " "}, 6}, // NUL characters become blanks
    {"a\rb\r\n\rcd", {"a", "b", "", "cd"}, 8},
    {"a\rXYZ\r\n", {"a", "XYZ"}, 0},
    {"\n", {""}, 0}, {"\r", {""}, 1}, {"a", {"a"}, 1}, {"", {}, 0}, {"ab\r", {"ab"}, 3}, {"ab\r\n", {"ab"}, 0},
    {"ab\n", {"ab"}, 0}, {"\r\n", {""}, 0}, {"a\n\r", {"a", ""}, 3}, {"a\rX", {"a", "X"}, 3},
};

// The command engine reads a reply in pieces and continues the last line while the previous
// piece ended inside one: every split point must give the lines of the whole text (split at 0:
// the whole text at once, with what it returns). A read that ends one character after a lone CR
// is still inside that character's line: the next read continues it instead of splitting it. (A
// piece that ends in the lone CR itself is AddTextRead's, which keeps that the CR came last.)
TEST(TixStringsUtils, TextFedInTwoPiecesGivesTheLinesOfTheWhole)
{
    for (const TSplitCase& c : SplitCases) {
        for (size_t split = 0; split <= c.Text.size(); ++split) {
            if (split > 0 && split < c.Text.size() && c.Text[split - 1] == '\r' && c.Text[split] != '\n')
                continue;
            TStringList list;
            // Continuing the last line of an empty list starts its first line.
            const int64_t first = AddTextToStrings(list, std::string_view(c.Text).substr(0, split), true);
            const int64_t second = AddTextToStrings(list, std::string_view(c.Text).substr(split), first != 0);
            EXPECT_EQ(Lines(list), c.Lines) << ::testing::PrintToString(c.Text) << " split at " << split;
            if (split == 0) {
                EXPECT_EQ(second, c.Result) << ::testing::PrintToString(c.Text);
            } else if (split < c.Text.size()) {
                EXPECT_EQ(second != 0, c.Result != 0) << ::testing::PrintToString(c.Text) << " split at " << split;
            }
        }
    }
}

// A memory stream read in batches, a stream outside memory that hands out pieces and a lines
// stream written in pieces, of every size: wherever the text is cut (inside CR LF, between two
// CRs, beside a NUL, inside a character) the lines are those of the whole text. Batches are
// converted one by one, so UTF-8 characters cut between batches are not read in batches.
TEST(TixStringsUtils, TextReadOrWrittenInPiecesGivesTheLinesOfTheWhole)
{
    const std::string mixed = "a\r\r\nb\0c\r\rd\n\re\r\n\r\nf\xC3\xA9\xC3\n\xE2\x82\xAC"s;
    std::vector<std::pair<std::string, std::string>> cases{{mixed, ""}, {mixed, "utf-8"}, {mixed, "koi8-r"}};
    for (const TSplitCase& c : SplitCases)
        cases.emplace_back(c.Text, "");
    for (const auto& [text, charSet] : cases) {
        const std::string label = ::testing::PrintToString(text) + " " + charSet + " in pieces of ";
        TStringList whole;
        const int64_t wholeResult = AddTextToStrings(whole,
            TixTranslator::GetString(AsBytes(text), charSet));
        for (int32_t piece = 1; piece <= static_cast<int32_t>(text.size()); ++piece) {
            if (text != mixed || charSet != "utf-8") {
                TMemoryStream batches;
                batches.WriteText(text);
                batches.SetPosition(0);
                TStringList batched;
                TixStringsUtils utils(batched, charSet);
                utils.SetBatchSize(piece);
                EXPECT_EQ(utils.AddTextStream(batches) != 0, wholeResult != 0) << label << piece;
                EXPECT_EQ(Lines(batched), Lines(whole)) << label << piece;
                EXPECT_EQ(batches.Position(), batches.Size());
            }
            test::TPieceStream pieces(text, piece);
            TStringList list;
            EXPECT_EQ(AddStreamToStrings(list, pieces, false, charSet), wholeResult) << label << piece;
            EXPECT_EQ(Lines(list), Lines(whole)) << label << piece;
            TStringList written;
            TixLinesStream lines(written, charSet);
            for (size_t at = 0; at < text.size(); at += static_cast<size_t>(piece))
                lines.WriteBuffer(text.data() + at, std::min<int64_t>(piece, static_cast<int64_t>(text.size() - at)));
            lines.Finish();
            EXPECT_EQ(Lines(written), Lines(whole)) << label << piece << " written";
        }
        if (text == mixed) {
            EXPECT_EQ(whole.Count(), 10) << charSet;
            EXPECT_EQ(whole[2], "b c") << charSet;
        }
    }
}

TEST(TixStringsUtils, ReadsFromThePositionAtMostMaxBytesReportingProgressBeforeEachBatch)
{
    TMemoryStream stream;
    stream.WriteText("skip|ab\r\ncd\r\nef");
    stream.SetPosition(5);
    TStringList list;
    TixStringsUtils utils(list);
    utils.SetBatchSize(4);
    std::vector<std::pair<int64_t, int64_t>> progress;
    utils.OnProgress = [&](TObject* ASender, int64_t ADone, int64_t ATotal) {
        EXPECT_EQ(ASender, &utils);
        progress.emplace_back(ADone, ATotal);
    };
    EXPECT_EQ(utils.AddTextStream(stream, false, 4), 0);
    EXPECT_EQ(Lines(list), TLines{"ab"});
    EXPECT_EQ(stream.Position(), 9);
    EXPECT_EQ(utils.AddTextStream(stream, false), 2);
    EXPECT_EQ(Lines(list), (TLines{"ab", "cd", "ef"}));
    EXPECT_EQ(progress, (std::vector<std::pair<int64_t, int64_t>>{{0, 4}, {0, 6}, {4, 6}}));
}

TEST(TixStringsUtils, NotifiesTheListOnceForAWholeTextAndMeasuresAndSearchesTheList)
{
    TStringList list;
    int changes = 0;
    list.OnChange = [&](TObject*) { ++changes; };
    AddTextToStrings(list, "a\r\nb\r\nc\r\n");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.GetUpdateCount(), 0);

    TStringList words{"Hello", "", "world"};
    TixStringsUtils utils(words);
    EXPECT_EQ(utils.GetStringsSize(), 16);
    EXPECT_EQ(GetStringsSize(words), 16);
    EXPECT_EQ(utils.IndexOf("HELLO", true), 0);
    EXPECT_EQ(utils.IndexOf("hell", true), -1);
    EXPECT_EQ(utils.IndexOf("ORL", false), 2);
    EXPECT_EQ(utils.IndexOf("", true), 1);
    EXPECT_EQ(IndexOfString(words, "", false), -1);
    EXPECT_EQ(IndexOfString(words, "xyz", false), -1);
}

TEST(SplitText, SplitsAtTheDelimiterDroppingControlCharactersAndSplitQuotedTextKeepsThoseInsideQuotesAndParentheses)
{
    const std::tuple<const char*, char, TLines> cases[] = {{"a,b,c", ',', {"a", "b", "c"}}, {"a,", ',', {"a", ""}},
        {"a,,b", ',', {"a", "", "b"}}, {"\r\n a ,\r\n\tb", ',', {" a ", "\tb"}}, {"<a> <b>", ' ', {"<a>", "<b>"}},
        {"", ',', {}}};
    TStringList list{"old"};
    for (const auto& [text, delimiter, lines] : cases) {
        SplitText(text, list, delimiter);
        EXPECT_EQ(Lines(list), lines) << ::testing::PrintToString(text);
    }

    // Quoted text: delimiters inside quotes and parentheses stay; the quotes go unless kept.
    const std::tuple<const char*, bool, TLines> quoted[] = {
        {"\"Doe, John\" <j@x.org>, Bob <b@y.org>", true, {"\"Doe, John\" <j@x.org>", " Bob <b@y.org>"}},
        {"a (x, y), b", true, {"a (x, y)", " b"}}, {"(a (b, c) d), e", true, {"(a (b, c) d)", " e"}},
        {"a,,b,", true, {"a", "b"}}, {"\"\",x", true, {"\"\"", "x"}}, {"\"abc, def", true, {"\"abc, def"}},
        {"\"a,b\",c", false, {"a,b", "c"}}, {"\"\",x", false, {"", "x"}}, {"", true, {}},
        {"\"a\" (c)", true, {"\"a\" ", "(c)"}}}; // a second quoted stretch after a first one starts a new item
    for (const auto& [text, keep, lines] : quoted) {
        SplitQuotedText(text, list, ',', "\"(", "\")", keep);
        EXPECT_EQ(Lines(list), lines) << ::testing::PrintToString(text) << (keep ? "" : " without its quotes");
    }
}

} // namespace
} // namespace ix

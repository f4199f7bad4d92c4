#include "util/ixUtils.h"

#include <gtest/gtest.h>

#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "platform/ixOsKernel.h"
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

const TSplitCase SplitCases[] = {
    {"+OK 2 320\r\nline one\r\n\r\n.\r\n", {"+OK 2 320", "line one", "", "."}, 0},
    {"a\nb\n\nc\n", {"a", "b", "", "c"}, 0},
    {"x\r\ny\nz\r\n\n", {"x", "y", "z", ""}, 0},
    {"abc\r\nde", {"abc", "de"}, 7},
};

TEST(TixStringsUtils, SplitsLinesAtCrLfLfOrCr)
{
    std::vector<TSplitCase> cases(std::begin(SplitCases), std::end(SplitCases));
    cases.push_back({"a\rb\r\n\rcd", {"a", "b", "", "cd"}, 8});
    for (const TSplitCase& c : cases) {
        TStringList list;
        EXPECT_EQ(AddTextToStrings(list, c.Text), c.Result) << ::testing::PrintToString(c.Text);
        EXPECT_EQ(Lines(list), c.Lines) << ::testing::PrintToString(c.Text);
    }
}

TEST(TixStringsUtils, ReportsWhetherATextEndsInsideALine)
{
    const std::pair<std::string, int64_t> cases[] = {
        {"\n", 0}, {"\r", 1}, {"a", 1}, {"", 0}, {"ab\r", 3}, {"ab\r\n", 0}, {"ab\n", 0}, {"\r\n", 0}, {"a\n\r", 3},
        {"a\rX", 3}};
    for (const auto& [text, expected] : cases) {
        TStringList list;
        EXPECT_EQ(AddTextToStrings(list, text), expected) << ::testing::PrintToString(text);
    }
}

// A read that ends one character after a lone CR is still inside that character's line: the
// next read continues it instead of starting a new line (which would split the line in two).
TEST(TixStringsUtils, ALineAfterALoneCrContinuesIntoTheNextText)
{
    TStringList list;
    EXPECT_EQ(AddTextToStrings(list, "a\rX"), 3);
    EXPECT_EQ(AddTextToStrings(list, "YZ\r\n", true), 0);
    EXPECT_EQ(Lines(list), (TLines{"a", "XYZ"}));
}

// The command engine reads a reply in pieces and continues the last line while the previous
// piece ended inside one: every split point must give the lines of the whole text.
TEST(TixStringsUtils, TextFedInTwoPiecesGivesTheLinesOfTheWhole)
{
    for (const TSplitCase& c : SplitCases) {
        for (size_t split = 0; split <= c.Text.size(); ++split) {
            TStringList list;
            const int64_t first = AddTextToStrings(list, std::string_view(c.Text).substr(0, split));
            const int64_t second = AddTextToStrings(list, std::string_view(c.Text).substr(split), first != 0);
            EXPECT_EQ(Lines(list), c.Lines) << ::testing::PrintToString(c.Text) << " split at " << split;
            if (split < c.Text.size()) {
                EXPECT_EQ(second != 0, c.Result != 0) << ::testing::PrintToString(c.Text) << " split at " << split;
            }
        }
    }
}

TEST(TixStringsUtils, StreamsReadInBatchesGiveTheLinesOfTheWhole)
{
    for (const TSplitCase& c : SplitCases) {
        for (int32_t batch = 1; batch <= static_cast<int32_t>(c.Text.size()); ++batch) {
            TMemoryStream stream;
            stream.WriteText(c.Text);
            stream.SetPosition(0);
            TStringList list;
            TixStringsUtils utils(list);
            utils.SetBatchSize(batch);
            utils.AddTextStream(stream);
            EXPECT_EQ(Lines(list), c.Lines) << ::testing::PrintToString(c.Text) << " in batches of " << batch;
            EXPECT_EQ(stream.Position(), stream.Size());
        }
    }
}

// A stream that hands out at most Drip bytes per read.
class TDripStream : public TMemoryStream
{
public:
    int64_t Drip = 1;
    int64_t Read(void* ABuffer, int64_t ACount) override { return TMemoryStream::Read(ABuffer, std::min(ACount, Drip)); }
};

// A stream outside memory is read in pieces, and a lines stream is written in pieces; wherever
// they are cut (inside CR LF, between two CRs, beside a NUL, inside a character), the lines
// are those of the whole text.
TEST(TixStringsUtils, PiecesOfAStreamGiveTheLinesOfTheWhole)
{
    const std::string text = "a\r\r\nb\0c\r\rd\n\re\r\n\r\nf\xC3\xA9\xC3\n\xE2\x82\xAC"s;
    for (const std::string charSet : {"", "utf-8", "koi8-r"}) {
        TStringList whole;
        const std::string converted =
            TixTranslator::GetString({reinterpret_cast<const uint8_t*>(text.data()), text.size()}, charSet);
        const int64_t wholeResult = AddTextToStrings(whole, converted);
        for (int64_t drip = 1; drip <= static_cast<int64_t>(text.size()); ++drip) {
            TDripStream stream;
            stream.WriteText(text);
            stream.SetPosition(0);
            stream.Drip = drip;
            TStringList list;
            EXPECT_EQ(TixStringsUtils(list, charSet).AddTextStream(stream), wholeResult) << charSet << " in " << drip;
            EXPECT_EQ(Lines(list), Lines(whole)) << charSet << " in pieces of " << drip;
            TStringList written;
            TixLinesStream lines(written, charSet);
            for (size_t at = 0; at < text.size(); at += static_cast<size_t>(drip))
                lines.WriteBuffer(text.data() + at, std::min<int64_t>(drip, static_cast<int64_t>(text.size() - at)));
            lines.Finish();
            EXPECT_EQ(Lines(written), Lines(whole)) << charSet << " written in pieces of " << drip;
        }
        EXPECT_EQ(whole.Count(), 10) << charSet;
        EXPECT_EQ(whole[2], "b c") << charSet;
    }
}

TEST(TixStringsUtils, ReportsProgressBeforeEachBatch)
{
    TMemoryStream stream;
    stream.WriteText("0123456789");
    stream.SetPosition(0);
    TStringList list;
    TixStringsUtils utils(list);
    utils.SetBatchSize(4);
    std::vector<std::pair<int64_t, int64_t>> progress;
    utils.OnProgress = [&](TObject* ASender, int64_t ADone, int64_t ATotal) {
        EXPECT_EQ(ASender, &utils);
        progress.emplace_back(ADone, ATotal);
    };
    EXPECT_EQ(utils.AddTextStream(stream), 2);
    EXPECT_EQ(progress, (std::vector<std::pair<int64_t, int64_t>>{{0, 10}, {4, 10}, {8, 10}}));
    EXPECT_EQ(Lines(list), TLines{"0123456789"});
}

TEST(TixStringsUtils, ReadsFromThePositionAndAtMostMaxBytes)
{
    TMemoryStream stream;
    stream.WriteText("skip|ab\r\ncd\r\nef");
    stream.SetPosition(5);
    TStringList list;
    TixStringsUtils utils(list);
    EXPECT_EQ(utils.AddTextStream(stream, false, 4), 0);
    EXPECT_EQ(Lines(list), TLines{"ab"});
    EXPECT_EQ(stream.Position(), 9);
    EXPECT_EQ(utils.AddTextStream(stream, false), 6);
    EXPECT_EQ(Lines(list), (TLines{"ab", "cd", "ef"}));
}

TEST(TixStringsUtils, ContinuesTheLastLineOnlyWhenAsked)
{
    TStringList list{"head"};
    TixStringsUtils utils(list);
    utils.AddTextStr("er\r\nx", true);
    EXPECT_EQ(Lines(list), (TLines{"header", "x"}));
    utils.AddTextStr("y\r\n", false);
    EXPECT_EQ(Lines(list), (TLines{"header", "x", "y"}));
    TStringList empty;
    AddTextToStrings(empty, "z", true);
    EXPECT_EQ(Lines(empty), TLines{"z"});
}

TEST(TixStringsUtils, TurnsNulCharactersIntoBlanks)
{
    TStringList list;
    AddTextToStrings(list, "a\0b\r\n\0"s);
    EXPECT_EQ(Lines(list), (TLines{"a b", " "}));
}

TEST(TixStringsUtils, DecodesEachBatchWithItsCharacterSet)
{
    const os::UINT saved = os::GetACP();
    os::SetAnsiCodePage(1252);
    TMemoryStream stream;
    stream.WriteText("caf\xC3\xA9\r\n\xC3");
    stream.SetPosition(0);
    TStringList list;
    AddStreamToStrings(list, stream, false, "utf-8");
    os::SetAnsiCodePage(saved);
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "caf\xE9");
    EXPECT_EQ(list[1].size(), 1u); // the truncated sequence stands as one character

    TMemoryStream koi8;
    koi8.WriteText("\xF0\xD2\xC9\r\n");
    koi8.SetPosition(0);
    TStringList cyrillic;
    os::SetAnsiCodePage(1251); // the koi8-r letters read as Windows-1251 text
    TixStringsUtils(cyrillic, "koi8-r").AddTextStream(koi8);
    os::SetAnsiCodePage(saved);
    EXPECT_EQ(Lines(cyrillic), TLines{"\xCF\xF0\xE8"});
}

TEST(TixStringsUtils, NotifiesTheListOnceForAWholeText)
{
    TStringList list;
    int changes = 0;
    list.OnChange = [&](TObject*) { ++changes; };
    AddTextToStrings(list, "a\r\nb\r\nc\r\n");
    EXPECT_EQ(changes, 1);
    EXPECT_EQ(list.GetUpdateCount(), 0);
}

TEST(TixStringsUtils, MeasuresAndSearchesTheList)
{
    TStringList list{"Hello", "", "world"};
    TixStringsUtils utils(list);
    EXPECT_EQ(utils.GetStringsSize(), 16);
    EXPECT_EQ(GetStringsSize(list), 16);
    EXPECT_EQ(utils.IndexOf("HELLO", true), 0);
    EXPECT_EQ(utils.IndexOf("hell", true), -1);
    EXPECT_EQ(utils.IndexOf("ORL", false), 2);
    EXPECT_EQ(utils.IndexOf("", true), 1);
    EXPECT_EQ(IndexOfString(list, "", false), -1);
    EXPECT_EQ(IndexOfString(list, "xyz", false), -1);
}

} // namespace
} // namespace ix

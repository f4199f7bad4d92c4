#include "util/ixUtils.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <thread>

#include "core/ixStreams.h"
#include "platform/ixOsKernel.h"
#include "platform/ixOsMessages.h"
#include "support/TimeZoneScope.h"
#include "util/ixSecret.h"

namespace ix {
namespace {

using namespace std::string_literals;

/// Central European time with its daylight saving rules.
constexpr const char* CentralEurope = "CET-1CEST,M3.5.0,M10.5.0/3";
constexpr const char* Utc = "UTC0";

using TimeZone = test::TTimeZoneScope;

TDateTime At(int32_t AYear, int32_t AMonth, int32_t ADay, int32_t AHour = 0, int32_t AMinute = 0, int32_t ASecond = 0)
{
    return EncodeDate(AYear, AMonth, ADay) + EncodeTime(AHour, AMinute, ASecond, 0);
}

/// Date-times compared to the millisecond.
::testing::AssertionResult SameMoment(TDateTime AActual, TDateTime AExpected)
{
    if (std::llround(AActual * MSecsPerDay) == std::llround(AExpected * MSecsPerDay))
        return ::testing::AssertionSuccess();
    return ::testing::AssertionFailure() << DateTimeToStr(AActual) << " is not " << DateTimeToStr(AExpected);
}

struct TParsedDate
{
    TDateTime Date = -1;
    TDateTime Zone = -1;
};

TParsedDate ParseDate(std::string_view AText)
{
    TParsedDate result;
    ParseMailDate(AText, result.Date, result.Zone);
    return result;
}

// ---- Mail dates ----

TEST(ParseMailDate, ReadsTheZoneAndTwoDigitYearsAndGivesLocalTime)
{
    struct TCase
    {
        const char* LocalZone;
        const char* Text;
        TDateTime Date;
        TDateTime Zone;
    };
    const TCase cases[] = {
        {CentralEurope, "Tue, 3 Jun 2008 10:20:30 +0200", At(2008, 6, 3, 10, 20, 30), 2.0 / 24}, // 08:20:30 UTC in CEST
        {CentralEurope, "Tue, 15 Jan 2008 10:00:00 -0500", At(2008, 1, 15, 16), -5.0 / 24},    // 15:00 UTC in CET
        {"UTC0", "Tue, 3 Jun 2008 10:20:30 +0200", At(2008, 6, 3, 8, 20, 30), 2.0 / 24},
        {"UTC0", "  3 jun 2008 10:20:30 +0130 (comment)", At(2008, 6, 3, 8, 50, 30), 1.5 / 24},
        // A date without zone is midnight UTC of that day.
        {CentralEurope, "3 Jun 2008 10:20:30", At(2008, 6, 3, 2), 0},
        // The change-over night: 01:00 UTC on 30 March 2008 is 03:00 CEST.
        {CentralEurope, "30 Mar 2008 00:59:00 +0000", At(2008, 3, 30, 1, 59), 0},
        {CentralEurope, "30 Mar 2008 01:00:00 +0000", At(2008, 3, 30, 3, 0), 0},
        // Two-digit years are 1911 to 2010.
        {Utc, "3 Jun 0 10:20 GMT", At(2000, 6, 3, 10, 20), 0}, {Utc, "3 Jun 08 10:20 GMT", At(2008, 6, 3, 10, 20), 0},
        {Utc, "3 Jun 10 10:20 GMT", At(2010, 6, 3, 10, 20), 0}, {Utc, "3 Jun 11 10:20 GMT", At(1911, 6, 3, 10, 20), 0},
        {Utc, "3 Jun 95 10:20 GMT", At(1995, 6, 3, 10, 20), 0}, {Utc, "3 Jun 99 10:20 GMT", At(1999, 6, 3, 10, 20), 0},
    };
    for (const TCase& c : cases)
    {
        const TimeZone zone(c.LocalZone);
        const TParsedDate parsed = ParseDate(c.Text);
        EXPECT_TRUE(SameMoment(parsed.Date, c.Date)) << c.Text;
        EXPECT_TRUE(SameMoment(parsed.Zone, c.Zone)) << c.Text;
    }
}

TEST(ParseMailDate, RaisesTheConversionErrorForWhatIsNotADateAndGivesZerosWithoutDayMonthOrYear)
{
    const TimeZone zone("UTC0");
    for (const char* text : {"3 Foo 2008 10:20:30 +0000", "x Jun 2008 10:20:30 +0000", "3 Jun 20x8 10:20:30 +0000",
             "31 Feb 2008 10:20:30 +0000", "3 Jun 2008 25:00:00 +0000", "Jun 2008 10:00:00 GMT",
             "3 Jun -5 10:20:30 +0000", "3 Jun 1500 10:20:30 +0000"})
        EXPECT_THROW(ParseDate(text), EConvertError) << text;
    for (const char* text : {"", "   ", "Tue,", "3 Jun", "3 Jun 2008", "0 Jun 2008 10:20:30 +0000"}) {
        const TParsedDate parsed = ParseDate(text);
        EXPECT_EQ(parsed.Date, 0) << text;
        EXPECT_EQ(parsed.Zone, 0) << text;
    }
}

TEST(ParseTime, ReadsTwelveHourClockTimesAndParseTimeZoneSignedHoursAndMinutesOnly)
{
    const std::tuple<TDateTime (*)(std::string_view), const char*, TDateTime> readings[] = {
        {ParseTime, "12:05 AM", EncodeTime(0, 5, 0, 0)}, {ParseTime, "1:05 PM", EncodeTime(13, 5, 0, 0)},
        {ParseTime, "12:30 pm", EncodeTime(12, 30, 0, 0)}, {ParseTime, "11:59:58am", EncodeTime(11, 59, 58, 0)},
        {ParseTime, " 10:20:30 ", EncodeTime(10, 20, 30, 0)}, {ParseTime, "ab:cd", 0},
        {ParseTimeZone, "+0200", 2.0 / 24}, {ParseTimeZone, "-0130", -1.5 / 24}, {ParseTimeZone, "+0000", 0}};
    for (const auto& [read, text, expected] : readings)
        EXPECT_TRUE(SameMoment(read(text), expected)) << text;
    EXPECT_THROW(ParseTime("24:00"), EConvertError);
    EXPECT_THROW(ParseTime("10:60"), EConvertError);
    for (const char* text : {"GMT", "EST", "+020", "0200 ", "+2500", "+0260", "", "-"})
        EXPECT_EQ(ParseTimeZone(text), 0) << text;
}

TEST(LocalTime, GetLocalTimeZoneFormatsTheBiasAsSignHoursAndMinutesAndFileTimeToLocalGivesZeroWhenItCannot)
{
    const std::pair<const char*, const char*> cases[] = {
        {"EST5", "-0500"}, {"IST-5:30", "+0530"}, {"UTC0", "+0000"}};
    for (const auto& [local, expected] : cases)
    {
        const TimeZone zone(local);
        EXPECT_EQ(GetLocalTimeZone(), expected) << local;
    }
    const TimeZone zone(CentralEurope); // the bias of the season it is now
    const std::string text = GetLocalTimeZone();
    EXPECT_TRUE(text == "+0100" || text == "+0200") << text;

    // File times in local time: 3 June 2008 08:00 UTC is 10:00 CEST; a time that cannot be converted
    // gives zero.
    EXPECT_TRUE(SameMoment(FileTimeToLocal(os::FILETIME{0xD2378000u, 0x01C8C54Fu}), At(2008, 6, 3, 10)));
    EXPECT_EQ(FileTimeToLocal(os::FILETIME{0, 0x80000000u}), 0);
}

// ---- Words and items ----

TEST(Words, CountsRunsBetweenDelimitersAndIndexOfTextFindsTheFirstItemIgnoringLetterCase)
{
    const TixCharSet blank{' '};
    const std::tuple<const char*, TixCharSet, int32_t> counts[] = {{"+OK 2 320\r\n", blank, 3}, {"  a  b  ", blank, 2},
        {"", blank, 0}, {"   ", blank, 0}, {"a:b;c", TixCharSet(":;"), 3}, {"a\xFF" "b", TixCharSet("\xFF"), 2}};
    for (const auto& [text, delimiters, count] : counts)
        EXPECT_EQ(WordCount(text, delimiters), count) << ::testing::PrintToString(text);
    EXPECT_EQ(ExtractWord(3, "+OK 2 320\r\n", blank), "320\r\n");
    EXPECT_EQ(WordPosition(3, "+OK 2 320\r\n", blank), 7);
    EXPECT_EQ(ExtractWord(2, "  a  bc  ", blank), "bc");
    EXPECT_EQ(WordPosition(0, "a b", blank), 0);
    EXPECT_EQ(ExtractWord(3, "a b", blank), "");

    EXPECT_EQ(IndexOfText("JUN", {"Jan", "Jun", "jun"}), 1);
    EXPECT_EQ(IndexOfText("Ju", {"Jan", "Jun"}), -1);
    EXPECT_EQ(IndexOfText("", {}), -1);
}

// ---- Quoting and searching ----

TEST(Quoting, QuotesAndUnquotesOnlyWhereNeededWhileTextPosIsExactAndRTextPosIgnoresLetterCase)
{
    // Both ways: a text that begins or ends with its quote is taken as quoted already.
    const std::pair<const char*, const char*> quoted[] = {
        {"", "\"\""}, {"abc", "\"abc\""}, {"\"abc", "\"abc"}, {"abc\"", "abc\""}, {"\"", "\""}};
    for (const auto& [text, quotedText] : quoted) {
        EXPECT_EQ(QuoteString(text), quotedText) << text;
        EXPECT_EQ(UnquoteString(quotedText), text) << quotedText;
    }
    EXPECT_EQ(QuoteString("abc", '<', '>'), "<abc>");
    EXPECT_EQ(UnquoteString("<abc>", '<', '>'), "abc");

    // Searching "abcb" from a position (RTextPos: backwards, -1 from the end).
    using TSearch = int32_t (*)(std::string_view, std::string_view, int32_t) noexcept;
    const std::tuple<TSearch, const char*, int32_t, int32_t> searches[] = {{TextPos, "b", 1, 2}, {TextPos, "b", 3, 4},
        {TextPos, "B", 1, 0}, {TextPos, "b", 0, 0}, {TextPos, "b", 9, 0}, {RTextPos, "b", 3, 2}, {RTextPos, "BC", 2, 2},
        {RTextPos, "bc", 1, 0}, {RTextPos, "x", -1, 0}, {RTextPos, "abcbc", -1, 0}};
    for (const auto& [search, text, start, expected] : searches)
        EXPECT_EQ(search(text, "abcb", start), expected)
            << (search == TextPos ? "TextPos " : "RTextPos ") << text << " from " << start;
    EXPECT_EQ(RTextPos("B", "abcb"), 4);
}

// ---- Bytes ----

TEST(Bytes, HexReverseEqualityAndBigEndianReadsAndWritesThatAdvanceOnlyInsideTheBytes)
{
    EXPECT_EQ(BytesToHex(TixByteArray{0x0A, 0xFF}), "0AFF");
    EXPECT_EQ(BytesToHex(TixByteArray{0x0A, 0xFF, 0x10}, ":"), "0A:FF:10");
    EXPECT_EQ(BytesToHex(TixByteArray{}), "");
    EXPECT_EQ(ReverseBytes(TixByteArray{1, 2, 3}), (TixByteArray{3, 2, 1}));
    EXPECT_TRUE(ByteArrayEquals(TixByteArray{1, 2}, TixByteArray{1, 2}));
    EXPECT_FALSE(ByteArrayEquals(TixByteArray{1, 2}, TixByteArray{1, 2, 3}));
    EXPECT_FALSE(ByteArrayEquals(TixByteArray{1, 2}, TixByteArray{1, 3}));
    EXPECT_EQ(MakeWord(0x12, 0x34), 0x1234);

    TixByteArray bytes;
    int32_t index = 0;
    WriteWord(0x1234, bytes, index);
    WriteDWord(0x89ABCDEF, bytes, index);
    EXPECT_EQ(index, 6);
    EXPECT_EQ(bytes, (TixByteArray{0x12, 0x34, 0x89, 0xAB, 0xCD, 0xEF}));
    index = 0;
    EXPECT_EQ(ReadWord(bytes, index), 0x1234);
    EXPECT_EQ(ReadDWord(bytes, index), 0x89ABCDEFu);
    EXPECT_EQ(index, 6);

    // Reads past the end raise and leave the index.
    const TixByteArray three{1, 2, 3};
    index = 2;
    EXPECT_THROW(ReadWord(three, index), EListError);
    EXPECT_EQ(index, 2);
    index = 0;
    EXPECT_THROW(ReadDWord(three, index), EListError);
    index = -1;
    EXPECT_THROW(ReadWord(three, index), EListError);
    TixByteArray out;
    EXPECT_THROW(WriteWord(1, out, index), EListError);
    EXPECT_TRUE(out.empty());
}

// ---- TixBinaryData ----

TEST(TixBinaryData, AllocatesAssignsReducesAndReadsUtf16DroppingOneTrailingNul)
{
    TixBinaryData data(4);
    EXPECT_EQ(data.GetDataSize(), 4);
    ASSERT_NE(data.GetData(), nullptr);
    const TixByteArray source{1, 2, 3, 4, 5};
    data.Assign(source, 3, 10);
    EXPECT_EQ(data.ToBytes(), (TixByteArray{4, 5}));
    data.Assign(source, 1, 0);
    EXPECT_EQ(data.GetDataSize(), 0);
    EXPECT_TRUE(data.ToBytes().empty());
    data.Assign(source, 9, 1);
    EXPECT_EQ(data.GetDataSize(), 0);
    data.Assign(source);
    data.Reduce(2);
    EXPECT_EQ(data.ToBytes(), (TixByteArray{1, 2}));
    data.Reduce(-1);
    data.Reduce(7);
    EXPECT_EQ(data.GetDataSize(), 2);
    // Assigning from its own bytes works.
    data.Assign(std::span<const uint8_t>(data.GetData(), 2), 1, 1);
    EXPECT_EQ(data.ToBytes(), (TixByteArray{2}));
    data.Allocate(-3);
    EXPECT_EQ(data.GetDataSize(), 0);
    EXPECT_EQ(data.GetData(), nullptr);

    // Read as UTF-16, one trailing NUL goes.
    data.Assign(TixByteArray{'h', 0, 'i', 0, 0, 0, 0, 0});
    EXPECT_EQ(data.ToWideString(), u"hi\0"s);
    data.Assign(TixByteArray{0xAC, 0x20, 'x'});
    EXPECT_EQ(data.ToWideString(), u"\u20AC");
}

// ---- System ----

TEST(System, ErrorTextsComeTrimmedAndAllocatedWindowsReceiveTheirMessagesUntilDeallocatedFromManyThreads)
{
    EXPECT_EQ(GetSysErrorText(10061), "No connection could be made because the target machine actively refused it.");
    EXPECT_EQ(GetSysErrorText(123456789), "");
    os::SetLastError(10054);
    EXPECT_EQ(GetLastErrorCode(), 10054);

    std::vector<os::UINT> received;
    const os::HWND window = AllocateWindow([&](os::HWND, os::UINT AMsg, os::WPARAM, os::LPARAM) -> os::LRESULT {
        received.push_back(AMsg);
        return 0;
    });
    ASSERT_NE(window, nullptr);
    ASSERT_TRUE(os::PostMessageA(window, os::WM_USER + 1, 0, 0));
    os::MSG msg{};
    while (os::PeekMessageA(&msg, window, 0, 0, os::PM_REMOVE))
        os::DispatchMessageA(&msg);
    EXPECT_EQ(received, (std::vector<os::UINT>{os::WM_USER + 1}));
    DeallocateWindow(window);
    EXPECT_FALSE(os::IsWindow(window));
    EXPECT_FALSE(os::PostMessageA(window, os::WM_USER, 0, 0));
    DeallocateWindow(nullptr);

    // Safely from many threads at once.
    std::vector<std::thread> threads;
    std::atomic<int> made{0};
    for (int t = 0; t < 4; ++t) {
        threads.emplace_back([&made] {
            for (int i = 0; i < 50; ++i) {
                const os::HWND window = AllocateWindow(&os::DefWindowProcA);
                if (os::IsWindow(window))
                    ++made;
                DeallocateWindow(window);
            }
        });
    }
    for (std::thread& thread : threads)
        thread.join();
    EXPECT_EQ(made.load(), 200);
}

TEST(Secrets, WipeStreamZeroesTheBytesOfAMemoryStream)
{
    TMemoryStream stream;
    const std::string token = "TlRMTVNTUAADAAAA secret answer";
    stream.Write(token.data(), static_cast<int64_t>(token.size()));
    WipeStream(stream);
    ASSERT_EQ(stream.Size(), static_cast<int64_t>(token.size()));
    EXPECT_EQ(stream.View(), std::string(token.size(), '\0'));
    TMemoryStream empty;
    WipeStream(empty); // no memory yet: nothing to do
}

} // namespace
} // namespace ix

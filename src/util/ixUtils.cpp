#include "util/ixUtils.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <ctime>
#include <limits>
#include <memory>
#include <new>
#include <optional>
#include <typeinfo>
#include <utility>

#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "core/ixSysUtils.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"

namespace ix {

namespace {

constexpr std::array<std::string_view, 12> MonthNames = {
    "Jan", "Feb", "Mar", "Apr", "May", "Jun", "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

/// Holds a list's change notification back for the life of the scope.
class TUpdateScope
{
public:
    explicit TUpdateScope(TStrings& AStrings) : FStrings(AStrings) { FStrings.BeginUpdate(); }
    ~TUpdateScope() { FStrings.EndUpdate(); }
    TUpdateScope(const TUpdateScope&) = delete;
    TUpdateScope& operator=(const TUpdateScope&) = delete;

private:
    TStrings& FStrings;
};

// ---- Dates ----

/// Trims AText; when a blank follows, the text before it.
std::optional<std::string> LeadingWord(std::string& AText)
{
    AText = Trim(AText);
    const size_t blank = AText.find(' ');
    if (blank == std::string::npos)
        return std::nullopt;
    return AText.substr(0, blank);
}

/// Removes a word taken by LeadingWord and the blank after it.
void DropWord(std::string& AText, const std::string& AWord)
{
    AText.erase(0, AWord.size() + 1);
}

/// Two-digit years: 0..10 are 2000..2010, 11..99 are 1911..1999.
int32_t WidenYear(int32_t AYear) noexcept
{
    if (AYear < 0 || AYear >= 100)
        return AYear;
    return AYear > 10 ? 1900 + AYear : 2000 + AYear;
}

int32_t CurrentMonth()
{
    return DecodeDateTime(Now()).Month;
}

constexpr const char* TimeZoneConversionError = "Invalid argument to time zone conversion";

os::SYSTEMTIME ToSystemTime(TDateTime AValue)
{
    const TDateParts parts = DecodeDateTime(AValue);
    if (parts.Year < 1 || parts.Year > 30827)
        throw EConvertError(TimeZoneConversionError);
    os::SYSTEMTIME result{};
    result.wYear = static_cast<os::WORD>(parts.Year);
    result.wMonth = static_cast<os::WORD>(parts.Month);
    result.wDayOfWeek = static_cast<os::WORD>(parts.DayOfWeek - 1);
    result.wDay = static_cast<os::WORD>(parts.Day);
    result.wHour = static_cast<os::WORD>(parts.Hour);
    result.wMinute = static_cast<os::WORD>(parts.Minute);
    result.wSecond = static_cast<os::WORD>(parts.Second);
    result.wMilliseconds = static_cast<os::WORD>(parts.MilliSecond);
    return result;
}

bool TryFromSystemTime(const os::SYSTEMTIME& ATime, TDateTime& AValue) noexcept
{
    TDateTime date = 0;
    TDateTime time = 0;
    if (!TryEncodeDate(ATime.wYear, ATime.wMonth, ATime.wDay, date)
        || !TryEncodeTime(ATime.wHour, ATime.wMinute, ATime.wSecond, ATime.wMilliseconds, time))
        return false;
    AValue = date + time;
    return true;
}

using TFileTimeConversion = os::BOOL (*)(const os::FILETIME*, os::FILETIME*);

/// Date-time -> system time -> file time -> AConvert -> system time -> date-time.
TDateTime ConvertThroughFileTime(TDateTime AValue, TFileTimeConversion AConvert)
{
    os::SYSTEMTIME time = ToSystemTime(AValue);
    os::FILETIME fileTime{};
    os::FILETIME converted{};
    TDateTime result = 0;
    if (!os::SystemTimeToFileTime(&time, &fileTime) || !AConvert(&fileTime, &converted)
        || !os::FileTimeToSystemTime(&converted, &time) || !TryFromSystemTime(time, result))
        throw EConvertError(TimeZoneConversionError);
    return result;
}

// ---- Words ----

size_t SkipDelimiters(std::string_view AText, const TixCharSet& ADelimiters, size_t AFrom) noexcept
{
    while (AFrom < AText.size() && ADelimiters.Includes(AText[AFrom]))
        ++AFrom;
    return AFrom;
}

size_t SkipWord(std::string_view AText, const TixCharSet& ADelimiters, size_t AFrom) noexcept
{
    while (AFrom < AText.size() && !ADelimiters.Includes(AText[AFrom]))
        ++AFrom;
    return AFrom;
}

/// Control characters that SplitText drops: 1..31 except TAB.
bool IsSplitControl(char AChar) noexcept
{
    const auto code = static_cast<uint8_t>(AChar);
    return code >= 1 && code <= 31 && code != '\t';
}

size_t SkipControls(std::string_view AText, size_t AFrom) noexcept
{
    while (AFrom < AText.size() && IsSplitControl(AText[AFrom]))
        ++AFrom;
    return AFrom;
}

/// Whether ASub occurs at APos of AText, without regard to letter case.
bool SameTextAt(std::string_view AText, size_t APos, std::string_view ASub) noexcept
{
    return APos + ASub.size() <= AText.size() && SameText(AText.substr(APos, ASub.size()), ASub);
}

bool ContainsText(std::string_view AText, std::string_view ASub) noexcept
{
    if (ASub.empty() || ASub.size() > AText.size())
        return false;
    for (size_t i = 0; i + ASub.size() <= AText.size(); ++i) {
        if (SameTextAt(AText, i, ASub))
            return true;
    }
    return false;
}

// ---- Bytes ----

void WriteBigEndian(uint32_t AValue, size_t ASize, TixByteArray& ABytes, int32_t& AIndex)
{
    if (AIndex < 0)
        RaiseListIndexError(AIndex);
    const auto index = static_cast<size_t>(AIndex);
    if (ABytes.size() < index + ASize)
        ABytes.resize(index + ASize);
    for (size_t i = 0; i < ASize; ++i)
        ABytes[index + i] = static_cast<uint8_t>(AValue >> (8 * (ASize - 1 - i)));
    AIndex += static_cast<int32_t>(ASize);
}

uint32_t ReadBigEndian(std::span<const uint8_t> ABytes, size_t ASize, int32_t& AIndex)
{
    if (AIndex < 0 || static_cast<size_t>(AIndex) + ASize > ABytes.size())
        RaiseListIndexError(AIndex);
    uint32_t result = 0;
    for (size_t i = 0; i < ASize; ++i)
        result = result << 8 | ABytes[static_cast<size_t>(AIndex) + i];
    AIndex += static_cast<int32_t>(ASize);
    return result;
}

// ---- Lines ----

/// Finds line ends (CR or LF) and NUL characters in one text. The next position of each
/// character is cached, so a whole text is scanned once per character, however its lines end.
class TLineScanner
{
public:
    explicit TLineScanner(std::string_view AText) : FText(AText) {}

    /// The position of the first CR or LF at or after AFrom; the text's size when none.
    size_t LineEnd(size_t AFrom) noexcept
    {
        return std::min(Next('\r', FNextCR, AFrom), Next('\n', FNextLF, AFrom));
    }

    /// True when a NUL character lies between AFrom and ATo.
    bool HasNul(size_t AFrom, size_t ATo) noexcept { return Next('\0', FNextNul, AFrom) < ATo; }

private:
    size_t Next(char AChar, size_t& ACache, size_t AFrom) noexcept
    {
        if (ACache == Unknown || ACache < AFrom) {
            const void* found = std::memchr(FText.data() + AFrom, AChar, FText.size() - AFrom);
            ACache = found ? static_cast<size_t>(static_cast<const char*>(found) - FText.data()) : FText.size();
        }
        return ACache;
    }

    static constexpr size_t Unknown = std::string_view::npos;
    std::string_view FText;
    size_t FNextCR = Unknown;
    size_t FNextLF = Unknown;
    size_t FNextNul = Unknown;
};

/// Makes room at once for the lines of ABytes bytes of mail text (a list of many lines would
/// otherwise grow and move step by step); a list that needs more still grows.
void ReserveLines(TStrings& AStrings, int64_t ABytes)
{
    constexpr int64_t TypicalLineBytes = 64;
    constexpr int64_t ManyLines = 1024;
    const int64_t lines = ABytes / TypicalLineBytes;
    if (lines >= ManyLines && AStrings.Count() + lines <= std::numeric_limits<int32_t>::max())
        AStrings.SetCapacity(AStrings.Count() + static_cast<int32_t>(lines));
    AStrings.ReserveText(ABytes);
}

/// Bytes of a text read, or converted from a character set, at a time: large enough that lines
/// are rarely cut, small enough to stay in the cache.
constexpr size_t PieceBytes = 256 * 1024;

/// Adds the lines of one text that may arrive in pieces to a list, each line copied once from
/// the text (through AddView, so that a line buffer makes no string): the lines are those of the
/// whole text, wherever the pieces are cut. Lines end at CR, LF or CR LF; NUL characters become
/// blanks.
class TLineAdder
{
public:
    /// AContinueLast: the first piece continues the last line of a non-empty list.
    TLineAdder(TStrings& AStrings, bool AContinueLast) : FStrings(AStrings), FOpen(AContinueLast && !AStrings.IsEmpty()) {}

    void Add(std::string_view APiece)
    {
        TLineScanner scanner(APiece);
        size_t i = 0;
        if (std::exchange(FAfterCR, false) && !APiece.empty() && APiece[0] == '\n')
            i = 1; // the LF of a CR LF cut between two pieces
        while (i < APiece.size()) {
            const size_t end = scanner.LineEnd(i);
            AddLine(APiece.substr(i, end - i), scanner.HasNul(i, end));
            FOpen = end == APiece.size();
            if (FOpen)
                return;
            i = end;
            if (APiece[i] == '\r' && ++i == APiece.size()) {
                FAfterCR = true;
                return;
            }
            if (APiece[i] == '\n')
                ++i;
        }
    }

private:
    void AddLine(std::string_view AText, bool AHasNul)
    {
        std::string line;
        if (AHasNul) {
            line.assign(AText);
            std::replace(line.begin(), line.end(), '\0', ' ');
            AText = line;
        }
        if (FOpen)
            FStrings.AppendToLine(FStrings.Count() - 1, AText);
        else if (AHasNul)
            FStrings.Add(std::move(line));
        else
            FStrings.AddView(AText);
    }

    TStrings& FStrings;
    bool FOpen;
    bool FAfterCR = false;
};

/// A text ends inside a line unless its last character is LF. (A CR followed by one more
/// character ends inside that character's line: the next text continues it.)
bool EndsInsideLine(std::string_view AText) noexcept
{
    return AText.empty() || AText.back() != '\n';
}

/// Converts a text from a character set and adds its lines, in pieces that end after a LF.
class TPieceConverter
{
public:
    TPieceConverter(TLineAdder& ALines, std::string_view ACharSet) : FLines(ALines), FCharSet(ACharSet) {}

    /// The next bytes of the text.
    void Add(std::string_view ABytes)
    {
        const size_t lf = ABytes.rfind('\n');
        if (lf == std::string_view::npos) {
            FCarry.append(ABytes);
            return;
        }
        if (FCarry.empty()) {
            Convert(ABytes.substr(0, lf + 1));
        } else {
            FCarry.append(ABytes.substr(0, lf + 1));
            Convert(FCarry);
        }
        FCarry.assign(ABytes.substr(lf + 1));
    }

    /// Converts what is left; returns the length of the converted text when it ends inside a
    /// line, else 0.
    int64_t Finish()
    {
        Convert(FCarry);
        FCarry.clear();
        return FLast != '\n' ? FConverted : 0;
    }

private:
    void Convert(std::string_view ABytes)
    {
        while (!ABytes.empty()) {
            size_t cut = ABytes.size();
            if (cut > PieceBytes) {
                const size_t lf = ABytes.find('\n', PieceBytes);
                cut = lf == std::string_view::npos ? ABytes.size() : lf + 1;
            }
            const std::string text = TixTranslator::GetString(AsBytes(ABytes.substr(0, cut)), FCharSet);
            FLines.Add(text);
            FConverted += static_cast<int64_t>(text.size());
            if (!text.empty())
                FLast = text.back();
            ABytes.remove_prefix(cut);
        }
    }

    TLineAdder& FLines;
    std::string_view FCharSet;
    std::string FCarry;
    int64_t FConverted = 0;
    char FLast = '\n';
};

/// Reads a stream in pieces: the bytes of a memory stream where they are, other streams through
/// a buffer of a bounded size.
class TChunkReader
{
public:
    explicit TChunkReader(TStream& AStream)
        : FStream(AStream), FMemory(typeid(AStream) == typeid(TMemoryStream) ? static_cast<TMemoryStream*>(&AStream) : nullptr)
    {
    }

    /// Reads ASize bytes (fewer when the stream ends) and hands them to AUse in pieces, none of
    /// them empty; returns the bytes read.
    template <typename TUse>
    int64_t ReadPieces(int64_t ASize, TUse&& AUse)
    {
        int64_t done = 0;
        while (done < ASize) {
            const std::string_view piece = FMemory ? ReadMemory(ASize - done) : ReadBuffered(std::min<int64_t>(ASize - done, PieceBytes));
            if (piece.empty())
                break;
            AUse(piece);
            done += static_cast<int64_t>(piece.size());
        }
        return done;
    }

private:
    std::string_view ReadMemory(int64_t ASize)
    {
        const int64_t position = FMemory->Position();
        const int64_t count = std::clamp<int64_t>(FMemory->Size() - position, 0, ASize);
        FMemory->Seek(count, soCurrent);
        return {reinterpret_cast<const char*>(FMemory->Memory()) + position, static_cast<size_t>(count)};
    }

    std::string_view ReadBuffered(int64_t ASize)
    {
        if (static_cast<size_t>(ASize) > FCapacity) {
            FCapacity = static_cast<size_t>(ASize);
            FBuffer = std::make_unique_for_overwrite<char[]>(FCapacity); // Read overwrites it
        }
        const int64_t count = FStream.Read(FBuffer.get(), ASize);
        return {FBuffer.get(), static_cast<size_t>(std::max<int64_t>(count, 0))};
    }

    TStream& FStream;
    TMemoryStream* FMemory;
    std::unique_ptr<char[]> FBuffer;
    size_t FCapacity = 0;
};

} // namespace

// ---- Dates and times ----------------------------------------------------------------------

void ParseMailDate(std::string_view AValue, TDateTime& ADateTime, TDateTime& ATimeZone)
{
    ADateTime = 0;
    ATimeZone = 0;
    std::string text = Trim(AValue);
    // The day name, its comma and the blank after it.
    if (const size_t comma = text.find(','); comma != std::string::npos)
        text.erase(0, std::min(comma + 2, text.size()));

    int32_t day = 0;
    int32_t month = 0;
    int32_t year = 0;
    TDateTime time = 0;
    if (const auto word = LeadingWord(text)) {
        day = StrToInt(*word);
        DropWord(text, *word);
    }
    if (const auto word = LeadingWord(text)) {
        const int32_t index = IndexOfText(*word, MonthNames);
        if (index >= 0) {
            month = index + 1;
            DropWord(text, *word);
        } else {
            month = CurrentMonth(); // the name is then read as the year, which fails
        }
    }
    if (const auto word = LeadingWord(text)) {
        year = WidenYear(StrToInt(*word));
        DropWord(text, *word);
    }
    if (const auto word = LeadingWord(text)) {
        time = ParseTime(*word);
        DropWord(text, *word);
    }
    if (year == 0 || month == 0 || day == 0)
        return;
    text = Trim(text);
    const TDateTime zone = ParseTimeZone(std::string_view(text).substr(0, text.find(' ')));
    ATimeZone = zone;
    ADateTime = UtcToLocal(EncodeDate(year, month, day) + time - zone);
}

TDateTime ParseTime(std::string_view AValue)
{
    std::string text = UpperCase(AValue);
    const size_t pm = text.find("PM");
    const size_t am = pm == std::string::npos ? text.find("AM") : std::string::npos;
    if (pm != std::string::npos || am != std::string::npos)
        text.resize(std::min(pm, am));
    text = Trim(text);
    const TixCharSet colon{':'};
    int32_t hours = StrToIntDef(ExtractWord(1, text, colon), 0);
    const int32_t minutes = StrToIntDef(ExtractWord(2, text, colon), 0);
    const int32_t seconds = StrToIntDef(ExtractWord(3, text, colon), 0);
    if (pm != std::string::npos && hours < 12)
        hours += 12;
    else if (am != std::string::npos && hours == 12)
        hours = 0;
    return EncodeTime(hours, minutes, seconds, 0);
}

TDateTime ParseTimeZone(std::string_view AValue)
{
    if (AValue.size() <= 4 || (AValue[0] != '+' && AValue[0] != '-'))
        return 0;
    const int32_t hours = StrToIntDef(AValue.substr(1, 2), 0);
    const int32_t minutes = StrToIntDef(AValue.substr(3, 2), 0);
    TDateTime offset = 0;
    if (!TryEncodeTime(hours, minutes, 0, 0, offset))
        return 0;
    return AValue[0] == '-' ? -offset : offset;
}

std::string GetLocalTimeZone()
{
    // Asking the system reads a year of zone rules. The answer can only change with the TZ
    // setting or at a change-over, and change-overs fall on quarter hours: each thread keeps
    // the last answer for the quarter hour and TZ setting it was made for.
    struct TCachedZone
    {
        std::optional<std::string> Setting;
        time_t Quarter = -1;
        std::string Text;
    };
    thread_local TCachedZone cached;
    const char* setting = std::getenv("TZ");
    const time_t quarter = std::time(nullptr) / (15 * 60);
    if (quarter == cached.Quarter && (setting ? cached.Setting == setting : !cached.Setting))
        return cached.Text;

    os::TIME_ZONE_INFORMATION info{};
    const os::DWORD zoneId = os::GetTimeZoneInformation(&info);
    int32_t bias = 0;
    if (zoneId != os::TIME_ZONE_ID_INVALID) {
        bias = info.Bias;
        if (zoneId == os::TIME_ZONE_ID_DAYLIGHT)
            bias += info.DaylightBias;
    }
    const int32_t magnitude = std::abs(bias);
    cached.Text = Format("%s%.2d%.2d", bias <= 0 ? "+" : "-", magnitude / 60, magnitude % 60);
    cached.Setting = setting ? std::optional<std::string>(setting) : std::nullopt;
    cached.Quarter = quarter;
    return cached.Text;
}

TDateTime UtcToLocal(TDateTime AValue)
{
    return ConvertThroughFileTime(AValue, &os::FileTimeToLocalFileTime);
}

TDateTime LocalToUtc(TDateTime AValue)
{
    return ConvertThroughFileTime(AValue, &os::LocalFileTimeToFileTime);
}

TDateTime FileTimeToLocal(const os::FILETIME& AFileTime)
{
    os::FILETIME local{};
    os::SYSTEMTIME time{};
    TDateTime result = 0;
    if (!os::FileTimeToLocalFileTime(&AFileTime, &local) || !os::FileTimeToSystemTime(&local, &time)
        || !TryFromSystemTime(time, result))
        return 0;
    return result;
}

// ---- Words and items ----------------------------------------------------------------------

int32_t WordCount(std::string_view AText, const TixCharSet& ADelimiters)
{
    int32_t count = 0;
    for (size_t i = SkipDelimiters(AText, ADelimiters, 0); i < AText.size();
         i = SkipDelimiters(AText, ADelimiters, SkipWord(AText, ADelimiters, i)))
        ++count;
    return count;
}

int32_t WordPosition(int32_t AIndex, std::string_view AText, const TixCharSet& ADelimiters)
{
    int32_t count = 0;
    for (size_t i = SkipDelimiters(AText, ADelimiters, 0); i < AText.size();
         i = SkipDelimiters(AText, ADelimiters, SkipWord(AText, ADelimiters, i))) {
        if (++count == AIndex)
            return static_cast<int32_t>(i + 1);
    }
    return 0;
}

std::string ExtractWord(int32_t AIndex, std::string_view AText, const TixCharSet& ADelimiters)
{
    const int32_t position = WordPosition(AIndex, AText, ADelimiters);
    if (position == 0)
        return {};
    const auto start = static_cast<size_t>(position - 1);
    return std::string(AText.substr(start, SkipWord(AText, ADelimiters, start) - start));
}

void SplitText(std::string_view AText, TStrings& AList, char ADelimiter)
{
    TUpdateScope update(AList);
    AList.Clear();
    size_t i = SkipControls(AText, 0);
    while (i < AText.size()) {
        const size_t start = i;
        while (i < AText.size() && !IsSplitControl(AText[i]) && AText[i] != ADelimiter)
            ++i;
        AList.Add(std::string(AText.substr(start, i - start)));
        i = SkipControls(AText, i);
        if (i < AText.size() && AText[i] == ADelimiter) {
            if (i + 1 == AText.size())
                AList.Add(std::string());
            i = SkipControls(AText, i + 1);
        }
    }
}

void SplitQuotedText(std::string_view AText, TStrings& AList, char ADelimiter, std::string_view AOpenQuotes,
    std::string_view ACloseQuotes, bool AKeepQuotes)
{
    TUpdateScope update(AList);
    AList.Clear();
    const std::string_view opens = AOpenQuotes.substr(0, std::min(AOpenQuotes.size(), ACloseQuotes.size()));
    std::string item;
    bool inQuote = false;
    size_t pair = 0;
    int32_t depth = 0;
    bool hadQuote = false;
    for (const char c : AText) {
        if (inQuote) {
            const char open = opens[pair];
            const char close = ACloseQuotes[pair];
            if (open != close && c == open)
                ++depth;
            else if (c == close)
                --depth;
            if (depth != 0 || AKeepQuotes)
                item += c;
            inQuote = depth != 0;
        } else if (const size_t quote = opens.find(c); quote != std::string_view::npos) {
            ++depth;
            if (hadQuote && !item.empty()) {
                AList.Add(std::move(item));
                item.clear();
            }
            if (AKeepQuotes)
                item += c;
            inQuote = true;
            hadQuote = true;
            pair = quote;
        } else if (c == ADelimiter) {
            if (hadQuote || !item.empty()) {
                AList.Add(std::move(item));
                item.clear();
                hadQuote = false;
            }
        } else {
            item += c;
        }
    }
    if (hadQuote || !item.empty())
        AList.Add(std::move(item));
}

int32_t IndexOfText(std::string_view AText, std::span<const std::string_view> AItems) noexcept
{
    for (size_t i = 0; i < AItems.size(); ++i) {
        if (SameText(AText, AItems[i]))
            return static_cast<int32_t>(i);
    }
    return -1;
}

int32_t IndexOfText(std::string_view AText, std::initializer_list<std::string_view> AItems) noexcept
{
    return IndexOfText(AText, std::span<const std::string_view>(AItems.begin(), AItems.size()));
}

// ---- Quoting and searching ----------------------------------------------------------------

std::string UnquoteString(std::string_view AText, char AOpen, char AClose)
{
    if (AText.size() >= 2 && AText.front() == AOpen && AText.back() == AClose)
        return std::string(AText.substr(1, AText.size() - 2));
    return std::string(AText);
}

std::string QuoteString(std::string_view AText, char AOpen, char AClose)
{
    if (!AText.empty() && (AText.front() == AOpen || AText.back() == AClose))
        return std::string(AText);
    std::string result;
    result.reserve(AText.size() + 2);
    result += AOpen;
    result += AText;
    result += AClose;
    return result;
}

int32_t TextPos(std::string_view ASubStr, std::string_view AText, int32_t AStart) noexcept
{
    if (AStart < 1 || ASubStr.empty())
        return 0;
    const size_t found = AText.find(ASubStr, static_cast<size_t>(AStart - 1));
    return found == std::string_view::npos ? 0 : static_cast<int32_t>(found + 1);
}

int32_t RTextPos(std::string_view ASubStr, std::string_view AText, int32_t AStart) noexcept
{
    if (ASubStr.empty() || ASubStr.size() > AText.size() || (AStart < 1 && AStart != -1))
        return 0;
    const size_t last = AText.size() - ASubStr.size();
    const size_t from = AStart == -1 ? last : std::min(static_cast<size_t>(AStart - 1), last);
    for (size_t i = from + 1; i-- > 0;) {
        if (SameTextAt(AText, i, ASubStr))
            return static_cast<int32_t>(i + 1);
    }
    return 0;
}

// ---- Bytes --------------------------------------------------------------------------------

std::span<const uint8_t> AsBytes(std::string_view AText) noexcept
{
    return {reinterpret_cast<const uint8_t*>(AText.data()), AText.size()};
}

std::string BytesToHex(std::span<const uint8_t> ABytes, std::string_view ASeparator)
{
    static constexpr char Digits[] = "0123456789ABCDEF";
    std::string result;
    result.reserve(ABytes.size() * (2 + ASeparator.size()));
    for (size_t i = 0; i < ABytes.size(); ++i) {
        if (i > 0)
            result += ASeparator;
        result += Digits[ABytes[i] >> 4];
        result += Digits[ABytes[i] & 0x0F];
    }
    return result;
}

TixByteArray ReverseBytes(std::span<const uint8_t> ABytes)
{
    return TixByteArray(ABytes.rbegin(), ABytes.rend());
}

bool ByteArrayEquals(std::span<const uint8_t> A, std::span<const uint8_t> B) noexcept
{
    return std::equal(A.begin(), A.end(), B.begin(), B.end());
}

void WriteWord(uint16_t AValue, TixByteArray& ABytes, int32_t& AIndex)
{
    WriteBigEndian(AValue, 2, ABytes, AIndex);
}

void WriteDWord(uint32_t AValue, TixByteArray& ABytes, int32_t& AIndex)
{
    WriteBigEndian(AValue, 4, ABytes, AIndex);
}

uint16_t ReadWord(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    return static_cast<uint16_t>(ReadBigEndian(ABytes, 2, AIndex));
}

uint32_t ReadDWord(std::span<const uint8_t> ABytes, int32_t& AIndex)
{
    return ReadBigEndian(ABytes, 4, AIndex);
}

// ---- TixBinaryData ------------------------------------------------------------------------

TixBinaryData::TixBinaryData(int32_t ASize)
{
    Allocate(ASize);
}

TixBinaryData::~TixBinaryData()
{
    Clear();
}

void TixBinaryData::Allocate(int32_t ASize)
{
    Clear();
    if (ASize < 1)
        return;
    FData = static_cast<uint8_t*>(AllocateMem(ASize));
    FDataSize = ASize;
}

void TixBinaryData::Clear() noexcept
{
    if (FData != nullptr)
        DeallocateMem(FData);
    FData = nullptr;
    FDataSize = 0;
}

void TixBinaryData::Assign(std::span<const uint8_t> ABytes)
{
    Assign(ABytes, 0, static_cast<int32_t>(std::min<size_t>(ABytes.size(), std::numeric_limits<int32_t>::max())));
}

void TixBinaryData::Assign(std::span<const uint8_t> ABytes, int32_t AIndex, int32_t ACount)
{
    if (ACount < 1 || AIndex < 0 || static_cast<size_t>(AIndex) >= ABytes.size()) {
        Clear();
        return;
    }
    const size_t count = std::min(static_cast<size_t>(ACount), ABytes.size() - static_cast<size_t>(AIndex));
    // Copy first: ABytes may be this buffer's own bytes.
    const TixByteArray copy(ABytes.begin() + AIndex, ABytes.begin() + AIndex + static_cast<ptrdiff_t>(count));
    Allocate(static_cast<int32_t>(count));
    std::memcpy(FData, copy.data(), count);
}

void TixBinaryData::Reduce(int32_t ASize) noexcept
{
    if (ASize >= 0 && ASize < FDataSize)
        FDataSize = ASize;
}

TixByteArray TixBinaryData::ToBytes() const
{
    if (FDataSize < 1)
        return {};
    return TixByteArray(FData, FData + FDataSize);
}

std::u16string TixBinaryData::ToWideString() const
{
    std::u16string result(static_cast<size_t>(std::max(FDataSize, 0) / 2), u'\0');
    for (size_t i = 0; i < result.size(); ++i)
        result[i] = static_cast<char16_t>(FData[2 * i] | FData[2 * i + 1] << 8);
    if (!result.empty() && result.back() == u'\0')
        result.pop_back();
    return result;
}

void TixBinaryData::DeallocateMem(void* AData) noexcept
{
    std::free(AData);
}

void* TixBinaryData::AllocateMem(int32_t ASize)
{
    void* result = std::malloc(static_cast<size_t>(ASize));
    if (result == nullptr)
        throw std::bad_alloc();
    return result;
}

// ---- TixStringsUtils ----------------------------------------------------------------------

TixStringsUtils::TixStringsUtils(TStrings& AStrings, std::string ACharSet)
    : FStrings(AStrings), FCharSet(std::move(ACharSet))
{
}

int64_t TixStringsUtils::AddTextStream(TStream& AStream, bool AAddToLastString, int64_t AMaxBytes)
{
    int64_t total = std::max<int64_t>(AStream.Remaining(), 0);
    if (AMaxBytes > 0)
        total = std::min(total, AMaxBytes);
    TUpdateScope update(FStrings);
    ReserveLines(FStrings, total);
    TLineAdder lines(FStrings, AAddToLastString);
    TChunkReader reader(AStream);
    int64_t done = 0;
    int64_t result = 0;
    while (done < total) {
        DoProgress(done, total);
        const int64_t left = total - done;
        const int64_t size = (FBatchSize <= 0 || FBatchSize >= left) ? left : FBatchSize;
        int64_t count = 0;
        if (FCharSet.empty()) {
            // Without a conversion the bytes are the text: they go to the lines piece by piece.
            char last = '\n';
            count = reader.ReadPieces(size, [&](std::string_view APiece) {
                lines.Add(APiece);
                last = APiece.back();
            });
            if (count > 0)
                result = last != '\n' ? count : 0;
        } else {
            // Converted in pieces cut after a LF, which no character of any set spans: the
            // text and its lines are those of the whole chunk, and no copy of it is made.
            TPieceConverter converter(lines, FCharSet);
            count = reader.ReadPieces(size, [&](std::string_view APiece) { converter.Add(APiece); });
            if (count > 0)
                result = converter.Finish();
        }
        if (count <= 0)
            break;
        // The next batch goes on where this one stopped: inside a line, or after a CR whose LF
        // may start the next batch (a batch that ends in a lone CR has ended its line).
        done += count;
    }
    return result;
}

int64_t TixStringsUtils::AddTextRead(TStream& AStream, bool AOpen, bool& AAfterCR)
{
    const int64_t start = AStream.GetPosition();
    const int64_t size = AStream.GetSize();
    char first = 0;
    char last = 0;
    if (size > start) {
        AStream.ReadBuffer(&first, 1);
        AStream.SetPosition(size - 1);
        AStream.ReadBuffer(&last, 1);
        AStream.SetPosition(start);
    }
    const bool continues = AOpen && !(AAfterCR && first != '\n');
    if (size > start)
        AAfterCR = last == '\r';
    return AddTextStream(AStream, continues);
}

int64_t TixStringsUtils::AddTextStr(std::string_view AText, bool AAddToLastString)
{
    TUpdateScope update(FStrings);
    ReserveLines(FStrings, static_cast<int64_t>(AText.size()));
    TLineAdder(FStrings, AAddToLastString).Add(AText);
    return EndsInsideLine(AText) ? static_cast<int64_t>(AText.size()) : 0;
}

int64_t TixStringsUtils::GetStringsSize() const noexcept
{
    return ix::GetStringsSize(FStrings);
}

int32_t TixStringsUtils::IndexOf(std::string_view AValue, bool AExact) const
{
    return IndexOfString(FStrings, AValue, AExact);
}

void TixStringsUtils::DoProgress(int64_t ABytesProceed, int64_t ATotalBytes)
{
    CallEvent(OnProgress, this, ABytesProceed, ATotalBytes);
}

// ---- TixLinesStream -----------------------------------------------------------------------

class TixLinesStream::TImpl
{
public:
    TImpl(TStrings& AStrings, std::string ACharSet)
        : Strings(AStrings), CharSet(std::move(ACharSet)), Lines(AStrings, false), Converter(Lines, CharSet)
    {
        Strings.BeginUpdate();
    }
    ~TImpl() { Strings.EndUpdate(); }
    TImpl(const TImpl&) = delete;
    TImpl& operator=(const TImpl&) = delete;

    TStrings& Strings;
    const std::string CharSet;
    TLineAdder Lines;
    TPieceConverter Converter;
};

TixLinesStream::TixLinesStream(TStrings& AStrings, std::string ACharSet)
    : FImpl(std::make_unique<TImpl>(AStrings, std::move(ACharSet)))
{
}

TixLinesStream::~TixLinesStream() = default;

void TixLinesStream::Finish()
{
    if (FImpl && !FImpl->CharSet.empty())
        FImpl->Converter.Finish();
    FImpl.reset();
}

int64_t TixLinesStream::Read(void*, int64_t)
{
    return 0;
}

int64_t TixLinesStream::Write(const void* ABuffer, int64_t ACount)
{
    if (!FImpl)
        throw EStreamError("The lines are finished");
    if (ACount <= 0)
        return 0;
    const std::string_view bytes(static_cast<const char*>(ABuffer), static_cast<size_t>(ACount));
    if (FImpl->CharSet.empty())
        FImpl->Lines.Add(bytes);
    else
        FImpl->Converter.Add(bytes);
    FSize += ACount;
    return ACount;
}

int64_t TixLinesStream::Seek(int64_t, TSeekOrigin)
{
    return FSize;
}

void TixLinesStream::SetSize(int64_t ANewSize)
{
    if (ANewSize != FSize)
        throw EStreamError("Lines once added stay");
}

int64_t AddTextToStrings(TStrings& AList, std::string_view AText, bool AAddToLastString)
{
    return TixStringsUtils(AList).AddTextStr(AText, AAddToLastString);
}

int64_t AddStreamToStrings(TStrings& AList, TStream& AStream, bool AAddToLastString, const std::string& ACharSet)
{
    return TixStringsUtils(AList, ACharSet).AddTextStream(AStream, AAddToLastString);
}

int64_t GetStringsSize(const TStrings& AList) noexcept
{
    int64_t result = 0;
    for (int32_t i = 0; i < AList.Count(); ++i)
        result += static_cast<int64_t>(AList.GetView(i).size()) + 2;
    return result;
}

int32_t IndexOfString(const TStrings& AList, std::string_view AValue, bool AExact)
{
    for (int32_t i = 0; i < AList.Count(); ++i) {
        if (AExact ? SameText(AList.GetView(i), AValue) : ContainsText(AList.GetView(i), AValue))
            return i;
    }
    return -1;
}

// ---- System -------------------------------------------------------------------------------

std::string GetSysErrorText(int32_t ACode)
{
    char buffer[256];
    const os::DWORD length = os::FormatMessageA(os::FORMAT_MESSAGE_FROM_SYSTEM | os::FORMAT_MESSAGE_IGNORE_INSERTS,
        nullptr, static_cast<os::DWORD>(ACode), 0, buffer, sizeof buffer, nullptr);
    return Trim(std::string_view(buffer, length));
}

int32_t GetLastErrorCode() noexcept
{
    return static_cast<int32_t>(os::GetLastError());
}

os::HWND AllocateWindow(os::TWindowProc AWindowProc)
{
    const std::lock_guard<std::mutex> lock(os::WindowCreationLock());
    const os::HWND window = os::CreateHiddenWindow(std::move(AWindowProc));
    if (window == nullptr) {
        const int32_t code = GetLastErrorCode();
        throw EOSError(GetSysErrorText(code), code);
    }
    return window;
}

void DeallocateWindow(os::HWND AWindow) noexcept
{
    if (AWindow == nullptr)
        return;
    const std::lock_guard<std::mutex> lock(os::WindowCreationLock());
    os::DestroyWindow(AWindow);
}

} // namespace ix

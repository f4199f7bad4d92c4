// Small routines the whole library shares: mail dates and time zones, local time and UTC,
// words and items, quoting and searching, hexadecimal and big-endian bytes, a heap byte buffer,
// a string-list text loader, system error texts and hidden message windows.
#pragma once

#include <array>
#include <cstdint>
#include <initializer_list>
#include <memory>
#include <span>
#include <string>
#include <string_view>

#include "core/ixClasses.h"
#include "core/ixDateUtils.h"
#include "core/ixStreams.h"
#include "platform/ixOsMessages.h"
#include "platform/ixOsTypes.h"

namespace ix {

class TStrings;

/// A set of 8-bit characters (all 256 values).
class TixCharSet
{
public:
    constexpr TixCharSet() noexcept = default;
    /// Every character of AChars is a member.
    constexpr TixCharSet(std::string_view AChars) noexcept
    {
        for (char c : AChars)
            Include(c);
    }
    /// The set of AChars.
    constexpr TixCharSet(std::initializer_list<char> AChars) noexcept
    {
        for (char c : AChars)
            Include(c);
    }

    /// True when AChar is in the set.
    constexpr bool Includes(char AChar) const noexcept
    {
        const auto value = static_cast<uint8_t>(AChar);
        return (FBits[value >> 6] >> (value & 63) & 1) != 0;
    }
    /// Adds AChar.
    constexpr void Include(char AChar) noexcept
    {
        const auto value = static_cast<uint8_t>(AChar);
        FBits[value >> 6] |= uint64_t{1} << (value & 63);
    }
    /// Removes AChar.
    constexpr void Exclude(char AChar) noexcept
    {
        const auto value = static_cast<uint8_t>(AChar);
        FBits[value >> 6] &= ~(uint64_t{1} << (value & 63));
    }

private:
    std::array<uint64_t, 4> FBits{};
};

/// An operating-system call failed; ErrorCode is the system's error code.
class EOSError : public EixCodedError
{
public:
    /// The message and the system's error code.
    using EixCodedError::EixCodedError;
};

// ---- Dates and times ----------------------------------------------------------------------

/// Reads an RFC 822 date ("Tue, 3 Jun 2008 10:20:30 +0200") into local time; ATimeZone gets the
/// zone offset (positive east of UTC). Both stay 0 when day, month or year is missing. Years
/// 0..10 are 2000..2010, 11..99 are 1911..1999. Raises EConvertError for a day or year that is
/// not a number (an unknown month name is read as the year) and for an impossible date or time.
void ParseMailDate(std::string_view AValue, TDateTime& ADateTime, TDateTime& ATimeZone);
/// "h:m:s" with an optional AM/PM as a fraction of a day; non-numbers count as 0. Raises
/// EConvertError for an hour, minute or second out of range.
TDateTime ParseTime(std::string_view AValue);
/// "+hhmm" / "-hhmm" as a fraction of a day (positive east of UTC); 0 for anything else.
TDateTime ParseTimeZone(std::string_view AValue);
/// The local zone now as "+hhmm" / "-hhmm".
std::string GetLocalTimeZone();
/// UTC to local time by the system's rules for that instant. Raises EConvertError for a date
/// the system time conversion cannot represent (before 1601).
TDateTime UtcToLocal(TDateTime AValue);
/// Local time to UTC. Raises EConvertError as UtcToLocal.
TDateTime LocalToUtc(TDateTime AValue);
/// A file time (UTC) as a local date-time; 0 when the conversion fails.
TDateTime FileTimeToLocal(const os::FILETIME& AFileTime);

// ---- Words and items ----------------------------------------------------------------------

/// The number of maximal runs of characters outside ADelimiters.
int32_t WordCount(std::string_view AText, const TixCharSet& ADelimiters);
/// The 1-based position of word AIndex (1-based); 0 when there is none.
int32_t WordPosition(int32_t AIndex, std::string_view AText, const TixCharSet& ADelimiters);
/// Word AIndex (1-based); empty when there is none.
std::string ExtractWord(int32_t AIndex, std::string_view AText, const TixCharSet& ADelimiters);
/// Replaces AList's lines with the items of AText between ADelimiter; control characters
/// (1..31 except TAB) end items and are dropped.
void SplitText(std::string_view AText, TStrings& AList, char ADelimiter);
/// Replaces AList's lines with the items of AText between ADelimiter, a delimiter inside a
/// quoted stretch not splitting. AOpenQuotes[i] and ACloseQuotes[i] form a pair (they may be
/// equal, as for the double quote); pairs of distinct characters nest. AKeepQuotes keeps the
/// outermost quote characters in the items. Empty unquoted items are not added.
void SplitQuotedText(std::string_view AText, TStrings& AList, char ADelimiter, std::string_view AOpenQuotes,
    std::string_view ACloseQuotes, bool AKeepQuotes);
/// The index of the first item equal to AText without regard to letter case; -1 when none.
int32_t IndexOfText(std::string_view AText, std::span<const std::string_view> AItems) noexcept;
/// As above for a list written in place.
int32_t IndexOfText(std::string_view AText, std::initializer_list<std::string_view> AItems) noexcept;

// ---- Quoting and searching ----------------------------------------------------------------

/// The text between AOpen and AClose when AText (2 characters or more) starts and ends with
/// them; otherwise AText.
std::string UnquoteString(std::string_view AText, char AOpen = '"', char AClose = '"');
/// AOpen + AText + AClose, unless AText is not empty and already starts with AOpen or ends
/// with AClose.
std::string QuoteString(std::string_view AText, char AOpen = '"', char AClose = '"');
/// First 1-based position of ASubStr in AText at or after AStart, compared exactly; 0 when not
/// found or when AStart is below 1.
int32_t TextPos(std::string_view ASubStr, std::string_view AText, int32_t AStart = 1) noexcept;
/// Last 1-based position of ASubStr in AText starting at or before AStart (-1: from the end),
/// compared without regard to letter case; 0 when not found.
int32_t RTextPos(std::string_view ASubStr, std::string_view AText, int32_t AStart = -1) noexcept;

// ---- Bytes --------------------------------------------------------------------------------

/// The bytes of AText, without a copy.
std::span<const uint8_t> AsBytes(std::string_view AText) noexcept;
/// Two upper-case hexadecimal digits per byte, ASeparator between bytes.
std::string BytesToHex(std::span<const uint8_t> ABytes, std::string_view ASeparator = {});
/// A copy in reverse order.
TixByteArray ReverseBytes(std::span<const uint8_t> ABytes);
/// Same length and same bytes.
bool ByteArrayEquals(std::span<const uint8_t> A, std::span<const uint8_t> B) noexcept;
/// AHigh * 256 + ALow.
constexpr uint16_t MakeWord(uint8_t AHigh, uint8_t ALow) noexcept
{
    return static_cast<uint16_t>(AHigh << 8 | ALow);
}
/// Stores AValue big-endian at AIndex (growing ABytes when it is too short) and advances
/// AIndex by 2. Raises EListError for a negative AIndex.
void WriteWord(uint16_t AValue, TixByteArray& ABytes, int32_t& AIndex);
/// As WriteWord, 4 bytes.
void WriteDWord(uint32_t AValue, TixByteArray& ABytes, int32_t& AIndex);
/// Reads 2 bytes big-endian at AIndex and advances AIndex. A read that does not fit inside
/// ABytes raises EListError "List index out of bounds (AIndex)" and leaves AIndex unchanged.
uint16_t ReadWord(std::span<const uint8_t> ABytes, int32_t& AIndex);
/// As ReadWord, 4 bytes.
uint32_t ReadDWord(std::span<const uint8_t> ABytes, int32_t& AIndex);

/// A heap byte buffer. A subclass may allocate elsewhere by overriding AllocateMem and
/// DeallocateMem; such a subclass calls Clear in its own destructor (the base destructor can
/// only reach the base DeallocateMem).
class TixBinaryData : public TObject
{
public:
    TixBinaryData() = default;
    /// Allocates ASize bytes (with the base allocator).
    explicit TixBinaryData(int32_t ASize);
    ~TixBinaryData() override;

    /// The bytes; null while DataSize is 0.
    uint8_t* GetData() const noexcept { return FData; }
    /// The number of bytes.
    int32_t GetDataSize() const noexcept { return FDataSize; }

    /// Frees the old block and allocates ASize bytes (none for a size below 1).
    void Allocate(int32_t ASize);
    /// Frees the block.
    void Clear() noexcept;
    /// A copy of ABytes.
    void Assign(std::span<const uint8_t> ABytes);
    /// A copy of up to ACount bytes of ABytes from AIndex; ACount below 1 gives an empty buffer.
    void Assign(std::span<const uint8_t> ABytes, int32_t AIndex, int32_t ACount);
    /// Shrinks DataSize to ASize (0 or more) when it is smaller; the block stays.
    void Reduce(int32_t ASize) noexcept;
    /// A copy of the bytes.
    TixByteArray ToBytes() const;
    /// The bytes as UTF-16 code units (little-endian), one trailing NUL character dropped.
    std::u16string ToWideString() const;

protected:
    /// Frees a block made by AllocateMem.
    virtual void DeallocateMem(void* AData) noexcept;
    /// Allocates a block of ASize bytes; raises std::bad_alloc when that fails.
    virtual void* AllocateMem(int32_t ASize);

private:
    uint8_t* FData = nullptr;
    int32_t FDataSize = 0;
};

// ---- String lists -------------------------------------------------------------------------

/// Loads text into a string list it does not own, line by line.
class TixStringsUtils : public TObject
{
public:
    /// Works on AStrings, decoding bytes with ACharSet (empty: no conversion).
    explicit TixStringsUtils(TStrings& AStrings, std::string ACharSet = {});

    /// The list worked on (not owned).
    TStrings& GetStrings() const noexcept { return FStrings; }
    /// Bytes read per chunk; 0 reads the whole stream at once.
    int32_t GetBatchSize() const noexcept { return FBatchSize; }
    void SetBatchSize(int32_t AValue) noexcept { FBatchSize = AValue; }
    /// The character set text is decoded with; empty: bytes pass unconverted.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue) { FCharSet = AValue; }

    /// Appends the text of the rest of AStream (at most AMaxBytes when above 0) as lines, chunk
    /// by chunk: each chunk is decoded with CharSet, NUL characters become blanks, and lines end
    /// at CR, LF or the end of the chunk, after which one CR and then one LF are skipped. With
    /// AAddToLastString and a non-empty list the first piece is appended to the last line;
    /// a chunk after one that ended inside a line continues that line, a chunk after one that
    /// ended in a CR starts a new line (its first LF completes that CR LF). Returns the length
    /// of the last chunk when it ended inside a line or in a CR, else 0.
    int64_t AddTextStream(TStream& AStream, bool AAddToLastString = false, int64_t AMaxBytes = 0);
    /// AddTextStream for one read of a text that arrives in several reads: AOpen says that the
    /// previous read ended inside a line (AddTextStream returned more than 0), AAfterCR that it
    /// ended in a CR, which ended its line: this read then starts a new line unless it starts
    /// with the LF of that CR LF. AAfterCR is set for the next read. The lines are those of
    /// the whole text wherever it was cut.
    int64_t AddTextRead(TStream& AStream, bool AOpen, bool& AAfterCR);
    /// As AddTextStream for a text that is already decoded (one chunk).
    int64_t AddTextStr(std::string_view AText, bool AAddToLastString = false);
    /// The size of the lines with CR LF after each.
    int64_t GetStringsSize() const noexcept;
    /// AExact: the first line equal to AValue; otherwise the first line containing it; both
    /// without regard to letter case. -1 when none.
    int32_t IndexOf(std::string_view AValue, bool AExact) const;

    /// Fired before each chunk with the bytes read so far and the bytes to read in all.
    TixProgressEvent OnProgress;

protected:
    /// Fires OnProgress with this object as Sender.
    virtual void DoProgress(int64_t ABytesProceed, int64_t ATotalBytes);

private:
    TStrings& FStrings;
    int32_t FBatchSize = 0;
    std::string FCharSet;
};

/// A stream that adds what is written to it to a string list as lines: the lines that
/// AddTextStream of the whole text at once would add (decoded with ACharSet, NULs as blanks),
/// without keeping the text. Reads give nothing; its size is the bytes written.
class TixLinesStream : public TStream
{
public:
    /// Adds lines to AStrings (not owned: it must outlive the stream), decoding with ACharSet
    /// (empty: bytes pass unconverted).
    TixLinesStream(TStrings& AStrings, std::string ACharSet = {});
    ~TixLinesStream() override;

    /// Adds the last line when the text did not end with a line break; Write may not follow.
    void Finish();

    int64_t Read(void* ABuffer, int64_t ACount) override;
    int64_t Write(const void* ABuffer, int64_t ACount) override;
    int64_t Seek(int64_t AOffset, TSeekOrigin AOrigin) override;
    /// Raises EStreamError: lines once added stay.
    void SetSize(int64_t ANewSize) override;

private:
    class TImpl;
    std::unique_ptr<TImpl> FImpl;
    int64_t FSize = 0;
};

/// TixStringsUtils(AList).AddTextStr.
int64_t AddTextToStrings(TStrings& AList, std::string_view AText, bool AAddToLastString = false);
/// TixStringsUtils(AList, ACharSet).AddTextStream.
int64_t AddStreamToStrings(TStrings& AList, TStream& AStream, bool AAddToLastString = false,
    const std::string& ACharSet = {});
/// TixStringsUtils(AList).GetStringsSize.
int64_t GetStringsSize(const TStrings& AList) noexcept;
/// TixStringsUtils(AList).IndexOf.
int32_t IndexOfString(const TStrings& AList, std::string_view AValue, bool AExact);

// ---- System -------------------------------------------------------------------------------

/// The system's message text for ACode (trimmed, at most 256 characters); empty when the
/// system has none. Never raises.
std::string GetSysErrorText(int32_t ACode);
/// The calling thread's last system error code.
int32_t GetLastErrorCode() noexcept;
/// Makes a hidden message window on the calling thread whose messages go to AWindowProc,
/// under the process-wide window lock. Raises EOSError when the system cannot make one.
os::HWND AllocateWindow(os::TWindowProc AWindowProc);
/// Destroys a window made by AllocateWindow, under the same lock; a null handle is ignored.
void DeallocateWindow(os::HWND AWindow) noexcept;

/// Which form of Schannel credentials the TLS context builds; fixed for the process. This
/// platform's security interface takes the version-5 form (SCH_CREDENTIALS), which reaches
/// TLS 1.3.
inline constexpr bool UseSchCredentialsForm = true;

} // namespace ix

// Laying out the bodies of a message for sending (RFC 2045, RFC 2046): part headers, boundary
// lines, encoded data and uuencoded blocks, into a line list or straight into a stream.
#pragma once

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "core/ixStreams.h"
#include "core/ixStrings.h"
#include "message/ixEncoder.h"
#include "message/ixMailHeader.h"

namespace ix {

class TixMailMessage;
class TixMessageBody;
class TixMessageBodies;
class TixMailHeaderFieldList;

/// Progress of one body's data: bytes done and bytes in all.
using TixComposeProgress = std::function<void(int64_t ABytesProceed, int64_t ATotalBytes)>;

/// Holds a list's change notification back while lines are added.
class TixLinesUpdate
{
public:
    explicit TixLinesUpdate(TStrings& ALines) : FLines(ALines) { FLines.BeginUpdate(); }
    ~TixLinesUpdate() { FLines.EndUpdate(); }
    TixLinesUpdate(const TixLinesUpdate&) = delete;
    TixLinesUpdate& operator=(const TixLinesUpdate&) = delete;

private:
    TStrings& FLines;
};

/// Where composed lines go.
class TixComposeTarget
{
public:
    virtual ~TixComposeTarget() = default;
    /// Appends one line (given without its line break).
    virtual void AddLine(std::string_view ALine) = 0;
    /// Appends encoded data, lines ending in CR LF (the last one may lack it), as lines.
    virtual void AddData(TMemoryStream& AData, const TixComposeProgress& AProgress) = 0;
};

/// Appends to a line list; data is split into lines as TixStringsUtils reads text.
class TixLinesTarget : public TixComposeTarget
{
public:
    explicit TixLinesTarget(TStrings& ALines) noexcept : FLines(ALines) {}
    void AddLine(std::string_view ALine) override;
    void AddData(TMemoryStream& AData, const TixComposeProgress& AProgress) override;

private:
    TStrings& FLines;
};

/// Writes to a stream, each line followed by CR LF, without keeping the lines.
class TixStreamTarget : public TixComposeTarget
{
public:
    explicit TixStreamTarget(TStream& AStream) noexcept : FStream(AStream) {}
    void AddLine(std::string_view ALine) override;
    void AddData(TMemoryStream& AData, const TixComposeProgress& AProgress) override;

private:
    TStream& FStream;
};

/// Composes the bodies of messages into one target.
class TixMessageComposer
{
public:
    explicit TixMessageComposer(TixComposeTarget& ATarget) noexcept : FTarget(ATarget) {}

    /// The lines of all bodies of AMessage (see TixMailMessage::ComposeBodies).
    void ComposeBodies(TixMailMessage& AMessage);
    /// The encoded data of ABody, a body of AMessage, and an empty line when the data ends with
    /// a line break (line lists hold none after their last line).
    void AddBodyData(TixMailMessage& AMessage, TixMessageBody& ABody);
    /// The whole message: header fields, content fields, bodies (TixMailMessage::SaveToStrings).
    void ComposeMessage(TixMailMessage& AMessage, bool AIncludeBcc);

    /// Gives each body of ABodies whose data would travel as 7bit or 8bit the encoding that
    /// carries it unchanged: 7bit bodies the encoding their data asks for, and quoted-printable
    /// where a line is over 998 bytes or holds a bare CR or LF or a NUL.
    static void PrepareEncodings(TixMessageBodies& ABodies);
    /// PrepareEncodings for ABody, the one part of a message; an attachment's data there is
    /// quoted-printable at least, so that it ends with a soft line break (see WriteBodyData).
    static void PrepareSinglePart(TixMessageBody& ABody);
    /// True when a line of the 7bit or 8bit data of ABodies (nested bodies included) begins
    /// with ADelimiter.
    static bool HoldsDelimiter(TixMessageBodies& ABodies, std::string_view ADelimiter);
    /// Appends the lines of ALines (a body's ExtraFields) as fields, without control characters.
    static void AddFields(TixMailHeaderFieldList& AHeader, const TStrings& ALines);
    /// "Mark=_" followed by the tick count, half the tick count read again and a 64-bit random
    /// number from the system's cryptographic source, in decimal.
    static std::string NewBoundary();
    /// The "Content-Transfer-Encoding" value of AMethod; empty for cmUUEncode.
    static std::string_view TransferEncodingName(TixEncodeMethod AMethod) noexcept;
    /// AText with control characters (TAB excepted) replaced by AReplacement: header text never
    /// carries them.
    static std::string HeaderText(std::string_view AText, char AReplacement = ' ');
    /// The encoding that carries the rest of ASource, ABody's data, unchanged, starting from
    /// ACurrent: for cmNone the encoding the data asks for (the body's encoder with the
    /// message's AllowESC and CharsPerLine); 7bit or 8bit become quoted-printable when a line
    /// is over 998 bytes or holds a bare CR or LF or a NUL. Leaves the stream position.
    static TixEncodeMethod ChooseEncoding(TixMessageBody& ABody, TStream& ASource, TixEncodeMethod ACurrent);
    /// A header list for writing with the settings of AMessage: its character set, folding
    /// width and header encoding.
    static TixMailHeaderFieldList MakeHeader(const TixMailMessage& AMessage);

    /// Makes the encodings and the boundary of AMessage final for composing (a new boundary when
    /// there is none, or when a line of the parts begins with it); true when AMessage is
    /// composed as parts between boundary lines.
    static bool PrepareParts(TixMailMessage& AMessage);

private:
    /// PrepareEncodings for one body.
    static void PrepareEncoding(TixMessageBody& ABody);
    /// The encoded data of ABody (quoted-printable data ending with a soft line break); true
    /// when it ends with a line break of its own.
    bool WriteBodyData(TixMailMessage& AMessage, TixMessageBody& ABody);
    void AddPartHeader(TixMessageBody& ABody);
    void WriteHeader(TixMailMessage& AMessage, bool AIncludeBcc);

    TixComposeTarget& FTarget;
};

} // namespace ix

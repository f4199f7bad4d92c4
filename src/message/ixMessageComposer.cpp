#include "message/internal/ixMessageComposer.h"

#include <memory>

#include "crypto/ixCryptUtils.h"
#include "message/internal/ixMessageShared.h"
#include "message/ixMailHeader.h"
#include "message/ixMailMessage.h"
#include "platform/ixOsKernel.h"
#include "util/ixTranslator.h"
#include "util/ixUtils.h"

namespace ix {

using internal::FileNameWithoutPath;

namespace {

constexpr std::string_view CrLf = "\r\n";
constexpr std::string_view SoftLineBreak = "=\r\n";
/// The longest line RFC 5322 lets a message carry, without its line break.
constexpr int64_t MaxLineBytes = 998;
/// Bytes read at a time when data is looked through.
constexpr int64_t ScanChunkSize = 65536;

bool IsIdentity(TixEncodeMethod AMethod) noexcept
{
    return AMethod == cmNone || AMethod == cm8Bit;
}

/// Looks through data that would travel as it stands for what would not arrive unchanged
/// (long lines, bare CR or LF, NUL) and for a line that begins with a delimiter.
class TLineScan
{
public:
    explicit TLineScan(std::string_view ADelimiter = {}) noexcept : FDelimiter(ADelimiter) {}

    /// Scans ASource from its position to its end, then puts the position back.
    void Scan(TStream& ASource)
    {
        const int64_t start = ASource.GetPosition();
        std::string chunk(static_cast<size_t>(ScanChunkSize), '\0');
        for (int64_t read; (read = ASource.Read(chunk.data(), ScanChunkSize)) > 0;)
            Feed(std::string_view(chunk.data(), static_cast<size_t>(read)));
        // A CR that ends the data has no LF after it.
        FUnsafe = FUnsafe || FAfterCr;
        ASource.Seek(start, soBeginning);
    }
    bool IsUnsafe() const noexcept { return FUnsafe; }
    bool HoldsDelimiter() const noexcept { return FHoldsDelimiter; }

private:
    void Feed(std::string_view AData) noexcept
    {
        for (const char c : AData) {
            if (FAfterCr) {
                FAfterCr = false;
                EndLine();
                if (c == '\n')
                    continue;
                FUnsafe = true;
            }
            if (c == '\r') {
                FAfterCr = true;
                continue;
            }
            if (c == '\n') {
                FUnsafe = true;
                EndLine();
                continue;
            }
            FUnsafe = FUnsafe || c == '\0' || FLineLength >= MaxLineBytes;
            if (FMatching && static_cast<size_t>(FLineLength) < FDelimiter.size()) {
                FMatching = FDelimiter[static_cast<size_t>(FLineLength)] == c;
                FHoldsDelimiter = FHoldsDelimiter || (FMatching && static_cast<size_t>(FLineLength) + 1 == FDelimiter.size());
            }
            ++FLineLength;
        }
    }
    void EndLine() noexcept
    {
        FLineLength = 0;
        FMatching = true;
    }

    std::string_view FDelimiter;
    int64_t FLineLength = 0;
    bool FAfterCr = false;
    bool FMatching = true;
    bool FUnsafe = false;
    bool FHoldsDelimiter = false;
};

/// Gives ABody AMethod; in a single-part message, whose own encoding overrides the body's, the
/// message's as well.
void ForceEncoding(TixMessageBody& ABody, TixEncodeMethod AMethod)
{
    ABody.SetEncoding(AMethod);
    if (ABody.GetEncoding() != AMethod)
        if (TixMailMessage* message = ABody.GetMessage())
            message->SetEncoding(AMethod);
}

} // namespace

// ---- Targets ------------------------------------------------------------------------------

void TixLinesTarget::AddLine(std::string_view ALine)
{
    FLines.Add(std::string(ALine));
}

void TixLinesTarget::AddData(TMemoryStream& AData, const TixComposeProgress& AProgress)
{
    TixStringsUtils lines(FLines);
    lines.OnProgress = [&AProgress](TObject*, int64_t ABytesProceed, int64_t ATotalBytes) {
        AProgress(ABytesProceed, ATotalBytes);
    };
    AData.Seek(0, soBeginning);
    lines.AddTextStream(AData);
}

void TixStreamTarget::AddLine(std::string_view ALine)
{
    FStream.WriteBuffer(ALine.data(), static_cast<int64_t>(ALine.size()));
    FStream.WriteBuffer(CrLf.data(), static_cast<int64_t>(CrLf.size()));
}

void TixStreamTarget::AddData(TMemoryStream& AData, const TixComposeProgress& AProgress)
{
    // The same lines a line list gets: the data as it stands, and a line break after a last
    // line that has none.
    const int64_t size = AData.GetSize();
    AProgress(0, size);
    if (size == 0)
        return;
    const auto* bytes = AData.Memory();
    FStream.WriteBuffer(bytes, size);
    if (bytes[size - 1] != '\n')
        FStream.WriteBuffer(CrLf.data(), static_cast<int64_t>(CrLf.size()));
}

// ---- The composer -------------------------------------------------------------------------

std::string_view TixMessageComposer::TransferEncodingName(TixEncodeMethod AMethod) noexcept
{
    static constexpr std::string_view Names[] = {"7bit", "quoted-printable", "base64", "", "8bit"};
    return AMethod <= cm8Bit ? Names[AMethod] : std::string_view();
}

std::string TixMessageComposer::HeaderText(std::string_view AText, char AReplacement)
{
    std::string result(AText);
    for (char& c : result)
        if ((static_cast<uint8_t>(c) < ' ' && c != '\t') || c == '\x7F')
            c = AReplacement;
    return result;
}

void TixMessageComposer::AddFields(TixMailHeaderFieldList& AHeader, const TStrings& ALines)
{
    TStringList fields;
    for (int32_t i = 0; i < ALines.Count(); ++i)
        fields.Add(HeaderText(ALines[i]));
    AHeader.AddFields(fields);
}

std::string TixMessageComposer::NewBoundary()
{
    // The tick counts give the value its customary shape; the random number makes it
    // unguessable, and different for messages composed in the same millisecond.
    const TixByteArray random = GenerateRandomBytes(sizeof(uint64_t));
    uint64_t number = 0;
    for (const uint8_t byte : random)
        number = number << 8 | byte;
    const os::DWORD ticks = os::GetTickCount();
    return "Mark=_" + std::to_string(ticks) + std::to_string(os::GetTickCount() / 2) + std::to_string(number);
}

TixMailHeaderFieldList TixMessageComposer::MakeHeader(const TixMailMessage& AMessage)
{
    return TixMailHeaderFieldList(AMessage.GetCharSet(), AMessage.GetCharsPerLine(),
        AMessage.GetEffectiveHeaderEncoding());
}

TixEncodeMethod TixMessageComposer::ChooseEncoding(TixMessageBody& ABody, TStream& ASource, TixEncodeMethod ACurrent)
{
    TixEncodeMethod chosen = ACurrent;
    if (ACurrent == cmNone) {
        TixEncoder& encoder = ABody.GetEncoder();
        if (const TixMailMessage* message = ABody.GetMessage()) {
            encoder.SetAllowESC(message->GetAllowESC());
            encoder.SetCharsPerLine(message->GetCharsPerLine());
        }
        chosen = encoder.GetPreferredEncoding(ASource);
    }
    if (IsIdentity(chosen)) {
        TLineScan scan;
        scan.Scan(ASource);
        if (scan.IsUnsafe())
            chosen = cmQuotedPrintable;
    }
    return chosen;
}

void TixMessageComposer::PrepareEncoding(TixMessageBody& ABody)
{
    const TixEncodeMethod current = ABody.GetEncoding();
    // A multipart body's own level prepares its nested bodies.
    if (dynamic_cast<TixMultipartBody*>(&ABody) || !IsIdentity(current))
        return;
    if (const auto source = ABody.GetSourceStream())
        if (const TixEncodeMethod chosen = ChooseEncoding(ABody, *source, current); chosen != current)
            ForceEncoding(ABody, chosen);
}

void TixMessageComposer::PrepareEncodings(TixMessageBodies& ABodies)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i)
        PrepareEncoding(ABodies[i]);
}

void TixMessageComposer::PrepareSinglePart(TixMessageBody& ABody)
{
    PrepareEncoding(ABody);
    // The data runs to the end of the message, whose last line break every reader but this
    // library's would take as data: quoted-printable ends the data with a soft line break.
    if (dynamic_cast<TixAttachmentBody*>(&ABody) && IsIdentity(ABody.GetEncoding()))
        ForceEncoding(ABody, cmQuotedPrintable);
}

bool TixMessageComposer::HoldsDelimiter(TixMessageBodies& ABodies, std::string_view ADelimiter)
{
    for (int32_t i = 0; i < ABodies.Count(); ++i) {
        TixMessageBody& body = ABodies[i];
        if (auto* multipart = dynamic_cast<TixMultipartBody*>(&body)) {
            if (HoldsDelimiter(multipart->GetBodies(), ADelimiter))
                return true;
            continue;
        }
        // Encoded data never does: base64 and uuencode have no "-", quoted-printable escapes
        // every "=" and the boundary holds "=_".
        if (!IsIdentity(body.GetEncoding()))
            continue;
        if (const auto source = body.GetSourceStream()) {
            TLineScan scan(ADelimiter);
            scan.Scan(*source);
            if (scan.HoldsDelimiter())
                return true;
        }
    }
    return false;
}

bool TixMessageComposer::PrepareParts(TixMailMessage& AMessage)
{
    const bool parts = AMessage.GetMessageFormat() != mfUUencode && AMessage.IsMultipart();
    if (parts)
        PrepareEncodings(AMessage.GetBodies());
    // A boundary the application chose is kept unless a line of the parts begins with it.
    if (AMessage.GetBoundary().empty() ||
        (parts && HoldsDelimiter(AMessage.GetBodies(), "--" + AMessage.GetBoundary())))
        AMessage.GenerateBoundary();
    return parts;
}

void TixMessageComposer::ComposeBodies(TixMailMessage& AMessage)
{
    TixMessageBodies& bodies = AMessage.GetBodies();
    const bool parts = PrepareParts(AMessage);
    const std::string delimiter = "--" + AMessage.GetBoundary();
    for (int32_t i = 0; i < bodies.Count(); ++i) {
        TixMessageBody& body = bodies[i];
        if (parts) {
            FTarget.AddLine(delimiter);
            AddPartHeader(body);
        }
        // Between parts an empty line follows a text (a reader drops it with the line break
        // that belongs to the next boundary line); an attachment's data keeps its bytes.
        if (WriteBodyData(AMessage, body) || (parts && !dynamic_cast<TixAttachmentBody*>(&body)))
            FTarget.AddLine({});
    }
    if (parts)
        FTarget.AddLine(delimiter + "--");
}

void TixMessageComposer::AddPartHeader(TixMessageBody& ABody)
{
    TStringList lines;
    const TixMailMessage* message = ABody.GetMessage();
    TixMailHeaderFieldList header =
        message ? MakeHeader(*message) : TixMailHeaderFieldList({}, TixMailMessage::DefaultCharsPerLine, cmNone);
    header.Parse(0, lines);
    ABody.AssignBodyHeader(header);
    for (int32_t i = 0; i < lines.Count(); ++i)
        FTarget.AddLine(lines[i]);
    if (lines.IsEmpty() || !lines[lines.Count() - 1].empty())
        FTarget.AddLine({});
}

void TixMessageComposer::AddBodyData(TixMailMessage& AMessage, TixMessageBody& ABody)
{
    if (WriteBodyData(AMessage, ABody))
        FTarget.AddLine({});
}

bool TixMessageComposer::WriteBodyData(TixMailMessage& AMessage, TixMessageBody& ABody)
{
    bool lineBreak = false;
    auto* attachment = dynamic_cast<TixAttachmentBody*>(&ABody);
    const bool block = attachment && AMessage.GetMessageFormat() == mfUUencode;
    if (block)
        FTarget.AddLine("begin 644 " + HeaderText(FileNameWithoutPath(attachment->GetFileName()), '_'));
    auto* multipart = dynamic_cast<TixMultipartBody*>(&ABody);
    if (multipart && IsIdentity(multipart->GetEncoding())) {
        // The nested lines as they are: what joining and copying them would give.
        ComposeBodies(multipart->GetMessageObject());
    } else if (const auto source = ABody.GetSourceStream()) {
        TMemoryStream encoded;
        // A plain message has no field that could name an encoding: its text stands as it is.
        if (AMessage.GetMessageFormat() == mfUUencode && !attachment)
            encoded.CopyFrom(*source, 0);
        else
            ABody.EncodeData(*source, encoded);
        const int64_t size = encoded.GetSize();
        lineBreak = size > 0 && (encoded.Memory()[size - 1] == '\n' || encoded.Memory()[size - 1] == '\r');
        // Quoted-printable data ends with a soft line break: the line break that follows it
        // (before the next boundary line, or at the end of a single-part message) is then no
        // part of the data for any reader.
        if (size > 0 && AMessage.GetMessageFormat() != mfUUencode && ABody.GetEncoding() == cmQuotedPrintable) {
            encoded.Seek(0, soEnd);
            encoded.WriteBuffer(SoftLineBreak.data(), static_cast<int64_t>(SoftLineBreak.size()));
            lineBreak = false;
        }
        TixMailMessage* owner = ABody.GetMessage();
        FTarget.AddData(encoded, [owner, &ABody](int64_t ABytesProceed, int64_t ATotalBytes) {
            if (owner)
                owner->DoEncodingProgress(&ABody, ABytesProceed, ATotalBytes);
        });
    }
    if (block)
        FTarget.AddLine("end");
    return lineBreak && !block;
}

} // namespace ix

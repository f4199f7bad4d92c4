// Content transfer encoders: quoted-printable and base64 (RFC 2045), uuencode, and the
// identity codings 7bit and 8bit, with the line lengths and the tolerance of bad input that
// message bodies and encoded words rely on.
#pragma once

#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "core/ixClasses.h"
#include "core/ixStreams.h"
#include "core/ixSysUtils.h"
#include "util/ixSecret.h"

namespace ix {

/// Transfer encoding of messages, bodies, header words and encoders; cmNone is 7bit.
enum TixEncodeMethod : uint8_t { cmNone, cmQuotedPrintable, cmBase64, cmUUEncode, cm8Bit };
/// The value names of TixEncodeMethod, for the published properties of that type.
inline const std::vector<std::string> EncodeMethodNames{"cmNone", "cmQuotedPrintable", "cmBase64", "cmUUEncode", "cm8Bit"};

/// Reaction of the decoders to invalid input.
enum TixEncodeErrorProcessing : uint8_t { epStop, epContinue };

/// Raised by TixEncoder: -1 "Unsupported format.", -2 "Wrong symbols in source stream.".
class EixEncoderError : public EixCodedError
{
public:
    /// Takes a message and an error code.
    using EixCodedError::EixCodedError;
};

/// Converts byte streams into a content transfer encoding and back.
class TixEncoder : public TComponent
{
public:
    /// Default of CharsPerLine.
    static constexpr int32_t DefaultCharsPerLine = 76;
    /// Default of EncodeMethod.
    static constexpr TixEncodeMethod DefaultEncodeMethod = cmBase64;
    /// Default of BatchSize.
    static constexpr int32_t DefaultBatchSize = 8192;
    /// Default of ErrorProcessing.
    static constexpr TixEncodeErrorProcessing DefaultErrorProcessing = epStop;

    /// An encoder with the defaults, owned by AOwner when one is given.
    explicit TixEncoder(TComponent* AOwner = nullptr);
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    /// Requested encoded line length; values below 1 mean 76.
    int32_t GetCharsPerLine() const noexcept { return FCharsPerLine; }
    void SetCharsPerLine(int32_t AValue) { FCharsPerLine = AValue; }
    /// The transfer encoding Encode writes and Decode reads.
    TixEncodeMethod GetEncodeMethod() const noexcept { return FEncodeMethod; }
    void SetEncodeMethod(TixEncodeMethod AValue) { FEncodeMethod = AValue; }
    /// When true the encoders insert no line breaks of their own.
    bool GetSuppressCrlf() const noexcept { return FSuppressCrlf; }
    void SetSuppressCrlf(bool AValue) { FSuppressCrlf = AValue; }
    /// Bytes read per batch by the base64 decoder; values below 1 mean 8192.
    int32_t GetBatchSize() const noexcept { return FBatchSize; }
    void SetBatchSize(int32_t AValue) { FBatchSize = AValue; }
    /// Whether the escape character (27) counts as text in GetPreferredEncoding.
    bool GetAllowESC() const noexcept { return FAllowESC; }
    void SetAllowESC(bool AValue) { FAllowESC = AValue; }
    /// Character set of the string conveniences (see TixTranslator); empty means no conversion.
    const std::string& GetCharSet() const noexcept { return FCharSet; }
    void SetCharSet(const std::string& AValue) { FCharSet = AValue; }
    /// epStop raises on bad encoded data; epContinue keeps what decodes.
    TixEncodeErrorProcessing GetErrorProcessing() const noexcept { return FErrorProcessing; }
    void SetErrorProcessing(TixEncodeErrorProcessing AValue) { FErrorProcessing = AValue; }

    /// The line length the current method really uses (CharsPerLine limited per method).
    int32_t GetEffectiveLineLength() const noexcept;

    /// Encodes ASource from its position to its end, appending to ADestination.
    /// Raises EixEncoderError -1 for a method outside the enumeration.
    void Encode(TStream& ASource, TStream& ADestination);
    /// Decodes ASource from its position to its end, appending to ADestination.
    /// Raises EixEncoderError -1 for a method outside the enumeration, and -2 for a base64
    /// character outside the alphabet in stop mode.
    void Decode(TStream& ASource, TStream& ADestination);
    /// The encoding to compose the rest of AStream with: cmNone (7bit), cmQuotedPrintable or
    /// cmBase64. Leaves the stream position where it was.
    TixEncodeMethod GetPreferredEncoding(TStream& AStream);

    // String conveniences. Texts are converted to and from CharSet with TixTranslator.

    /// AText converted to bytes in CharSet, then encoded.
    std::string EncodeString(const std::string& AText);
    /// ABytes encoded.
    std::string EncodeBytes(const TixByteArray& ABytes);
    /// The encoded text AText decoded into bytes.
    TixByteArray DecodeBytes(std::string_view AText);
    /// The encoded text AText decoded and appended to ADestination.
    void DecodeToStream(std::string_view AText, TStream& ADestination);
    /// The encoded text AText decoded, then converted from CharSet to text.
    std::string DecodeString(std::string_view AText);

    // Shortcuts: a temporary encoder with AMethod and default settings runs one conversion.

    /// AText (bytes as they stand) encoded in lines of 76 characters.
    static std::string EncodeWith(TixEncodeMethod AMethod, const std::string& AText);
    /// AText (bytes as they stand) encoded on one line, without line breaks.
    static std::string EncodeLineWith(TixEncodeMethod AMethod, const std::string& AText);
    /// ABytes encoded on one line, without line breaks.
    static std::string EncodeLineWith(TixEncodeMethod AMethod, const TixByteArray& ABytes);
    /// ASource from its position to its end encoded on one line, without line breaks.
    static std::string EncodeLineWith(TixEncodeMethod AMethod, TStream& ASource);
    /// ASecret (a password, a token, an answer that holds one) in base64 on one line, written
    /// into AResult's one buffer of its size: no other buffer holds the bytes on the way.
    static void EncodeSecretLine(std::string_view ASecret, TSecretString& AResult);
    /// AText decoded into a text of the decoded bytes.
    static std::string DecodeWith(TixEncodeMethod AMethod, std::string_view AText);
    /// AText decoded into bytes.
    static TixByteArray DecodeBytesWith(TixEncodeMethod AMethod, std::string_view AText);
    /// AText decoded and appended to ADestination.
    static void DecodeWith(TixEncodeMethod AMethod, std::string_view AText, TStream& ADestination);

    /// Progress of Encode and Decode: bytes of the source consumed, and the source's total.
    TixProgressEvent OnProgress;

protected:
    /// Fires OnProgress with this encoder as Sender.
    virtual void DoProgress(int64_t ABytesProceed, int64_t ATotalBytes);

private:
    void CheckMethod() const;
    void EncodeQuotedPrintable(TStream& ASource, TStream& ADestination);
    void DecodeQuotedPrintable(TStream& ASource, TStream& ADestination);
    void EncodeBase64(TStream& ASource, TStream& ADestination);
    void DecodeBase64(TStream& ASource, TStream& ADestination);
    void EncodeUU(TStream& ASource, TStream& ADestination);
    void DecodeUU(TStream& ASource, TStream& ADestination);
    int32_t GetUULineBytes(int64_t ATotal) const noexcept;

    int32_t FCharsPerLine = DefaultCharsPerLine;
    TixEncodeMethod FEncodeMethod = DefaultEncodeMethod;
    bool FSuppressCrlf = false;
    int32_t FBatchSize = DefaultBatchSize;
    bool FAllowESC = false;
    std::string FCharSet;
    TixEncodeErrorProcessing FErrorProcessing = DefaultErrorProcessing;
    /// Set by the base64 decoder when it stopped at an invalid character in continue mode.
    bool FStopped = false;
};

} // namespace ix

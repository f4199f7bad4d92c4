// The model of one DKIM-Signature header field (RFC 6376 section 3.5): reading its tags,
// writing it into a message, and the outcome of verifying it.
#pragma once

#include "core/ixDateUtils.h"
#include "core/ixStrings.h"
#include "dkim/ixDkimUtils.h"

#include <memory>
#include <string>
#include <vector>

namespace ix {

/// The outcome of verifying one signature.
class TixDkimSignatureVerifyStatus
{
public:
    static constexpr uint8_t NotVerified = 0;
    static constexpr uint8_t Verified = 1;
    static constexpr uint8_t Failed = 2;

    /// Not verified, no text, code 0.
    void Clear();
    /// Verified, no text, code 0.
    void SetVerified();
    /// Failed with AText and ACode.
    void SetFailed(const std::string& AText, int32_t ACode);

    const std::string& GetStatusText() const noexcept { return FStatusText; }
    uint8_t GetStatus() const noexcept { return FStatus; }
    int32_t GetErrorCode() const noexcept { return FErrorCode; }
    /// Characters of the canonical body that the signature covers (its "l" tag, or all).
    int64_t GetSignedBodyLength() const noexcept { return FSignedBodyLength; }
    /// Characters of the canonical body of the message.
    int64_t GetBodyLength() const noexcept { return FBodyLength; }
    /// Records how much of the body was signed; a part only is named in StatusText.
    void SetBodyCoverage(int64_t ASignedBodyLength, int64_t ABodyLength);

private:
    std::string FStatusText;
    uint8_t FStatus = NotVerified;
    int32_t FErrorCode = 0;
    int64_t FSignedBodyLength = 0;
    int64_t FBodyLength = 0;
};

/// One DKIM-Signature field.
class TixDkimSignature : public TObject
{
public:
    TixDkimSignature();

    /// Reads the tags of AFieldValue (an unfolded field value). Raises EixDkimError -10 for a
    /// missing or malformed required tag and for a tag that appears twice.
    virtual void Parse(const std::string& AFieldValue);
    /// Inserts a DKIM-Signature field with these values and an empty "b=" as the first line of
    /// AMessage. Raises EixDkimError -11 for blank required values or inconsistent dates.
    virtual void Build(TStrings& AMessage, int32_t ACharsPerLine);
    /// Writes Signature as the "b" value of the message's DKIM-Signature field (the lowest one).
    /// Raises EixDkimError -11 when Signature is blank.
    virtual void SetSignatureValue(TStrings& AMessage, int32_t ACharsPerLine);
    /// Empties every value.
    virtual void Clear();

    /// The header canonicalization name ("simple" unless the c tag names another).
    std::string GetHeaderCanonicalization() const;
    /// The body canonicalization name ("simple" unless the c tag names another).
    std::string GetBodyCanonicalization() const;
    /// The hash part of SignatureAlgorithm ("sha256"). Raises EixDkimError -12 when the name is
    /// not two parts joined by "-".
    std::string GetHashAlgorithm() const;

    int32_t Version = 0;
    /// Signing time, local; 0 = absent.
    TDateTime SignatureTimestamp = 0;
    std::string Domain;
    std::string UserIdentity;
    /// Signed body length; 0 = the whole body.
    int32_t BodyLength = 0;
    std::string BodyHash;
    std::string PublicKeyLocation;
    std::string SignatureAlgorithm;
    /// "Name:value" lines (continuation lines as further lines).
    TStringList CopiedHeaderFields;
    std::string Signature;
    /// Expiry, local; 0 = absent.
    TDateTime SignatureExpiration = 0;
    TStringList SignedHeaderFields;
    std::string Canonicalization;
    std::string Selector;
    TixDkimSignatureVerifyStatus VerifyStatus;
};

/// The signatures of one message, in order.
class TixDkimSignatureList : public TixDkimObjectList<TixDkimSignature>
{
};

/// The name of the DKIM-Signature field.
inline constexpr char DkimSignatureFieldName[] = "DKIM-Signature";

} // namespace ix

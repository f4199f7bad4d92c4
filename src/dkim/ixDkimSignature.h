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
    /// Status before verifying.
    static constexpr uint8_t NotVerified = 0;
    /// Status of a signature that verified.
    static constexpr uint8_t Verified = 1;
    /// Status of a signature that failed; StatusText and ErrorCode tell why.
    static constexpr uint8_t Failed = 2;

    /// Not verified, no text, code 0.
    void Clear();
    /// Verified, no text, code 0.
    void SetVerified();
    /// Failed with AText and ACode.
    void SetFailed(const std::string& AText, int32_t ACode);

    /// The failure's message; for a verified signature that covers part of the body only, how
    /// much it covers.
    const std::string& GetStatusText() const noexcept { return FStatusText; }
    /// NotVerified, Verified or Failed.
    uint8_t GetStatus() const noexcept { return FStatus; }
    /// The failure's code (one of DkimErrorCodes, or another error's code; -1 without one).
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

    /// The v tag; 1 is the only version verified.
    int32_t Version = 0;
    /// Signing time, local; 0 = absent.
    TDateTime SignatureTimestamp = 0;
    /// The d tag: the signing domain.
    std::string Domain;
    /// The i tag: the identity signed for; empty = absent.
    std::string UserIdentity;
    /// Signed body length; 0 = the whole body.
    int32_t BodyLength = 0;
    /// The bh tag: Base64 of the canonical body's digest.
    std::string BodyHash;
    /// The q tag: how the key is fetched ("dns/txt").
    std::string PublicKeyLocation;
    /// The a tag ("rsa-sha256", "rsa-sha1", "ed25519-sha256").
    std::string SignatureAlgorithm;
    /// "Name:value" lines (continuation lines as further lines).
    TStringList CopiedHeaderFields;
    /// The b tag: Base64 of the signature.
    std::string Signature;
    /// Expiry, local; 0 = absent.
    TDateTime SignatureExpiration = 0;
    /// The h tag: the names of the signed header fields, in order.
    TStringList SignedHeaderFields;
    /// The c tag ("relaxed/simple"); empty = simple for both.
    std::string Canonicalization;
    /// The s tag: the selector of the key.
    std::string Selector;
    /// The outcome of verifying this signature.
    TixDkimSignatureVerifyStatus VerifyStatus;
};

/// The signatures of one message, in order.
class TixDkimSignatureList : public TixDkimObjectList<TixDkimSignature>
{
};

/// The name of the DKIM-Signature field.
inline constexpr char DkimSignatureFieldName[] = "DKIM-Signature";

} // namespace ix

// The DKIM component (RFC 6376): signs a message by adding a DKIM-Signature field and verifies
// the DKIM-Signature fields of a received one, with keys from the application or from DNS.
#pragma once

#include "core/ixClasses.h"
#include "core/ixStrings.h"
#include "crypto/ixCryptUtils.h"
#include "dkim/ixDkimConfig.h"
#include "dkim/ixDkimKey.h"
#include "dkim/ixDkimSignature.h"
#include "message/ixMailMessage.h"

#include <functional>
#include <memory>
#include <string>

namespace ix {

class TixDnsQuery;
class TixDkimCanonicalizer;
class TixRsaKey;
class TixEd25519Key;
class TixSignature;

/// How Verify goes on after a signature: stop at the first that fails (raising its error), stop
/// at the first that verifies (earlier failures are swallowed), or check all (failures
/// swallowed; each signature's VerifyStatus tells).
enum TixDkimVerifyMode : uint8_t { dvmVerifyUntilFail, dvmVerifyUntilSuccess, dvmVerifyAll };

/// The values that a key record built by the application should carry.
class TixDkimDnsSettings : public TPersistent
{
public:
    void Assign(const TPersistent& ASource) override;

    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    /// The s tag: the services the key is for (none: all).
    TixDkimKeyServiceTypes ServiceType;
    /// The n tag: notes for people.
    std::string Notes;
    /// The h tag: the hash algorithms the key may be used with (none: all).
    TStringList AcceptableHashAlgorithms;
    /// The t tag: testing mode, strict identity domain.
    TixDkimKeyFlags Flags;
};

/// The application supplies the public key of ASignature as a key record's p= holds it (decoded):
/// SubjectPublicKeyInfo DER for rsa, the 32-byte key for ed25519.
using TixDkimGetPublicKeyEvent = std::function<void(TObject* Sender, TixDkimSignature* ASignature, TixByteArray& AKey)>;
/// A signature was verified; AVerifyStatus holds the outcome.
using TixDkimVerifyEvent = std::function<void(TObject* Sender, TixDkimSignature* ASignature, TStrings& AMessage,
    TixDkimSignatureVerifyStatus& AVerifyStatus)>;
/// AMessage was signed with ASignature.
using TixDkimSignEvent = std::function<void(TObject* Sender, TixDkimSignature* ASignature, TStrings& AMessage)>;
/// A key record met while verifying ASignature.
using TixDkimKeyEvent = std::function<void(TObject* Sender, TixDkimSignature* ASignature, TixDkimKey* AKey)>;

/// Signs and verifies DKIM-Signature fields.
class TixDkim : public TComponent, public IixMessageVerifier
{
public:
    /// Default of CharsPerLine.
    static constexpr int32_t DefaultCharsPerLine = 76;
    /// RSA keys shorter than this are refused (RFC 8301).
    static constexpr int32_t MinRsaKeyLength = 1024;

    /// A component with the defaults (and its own DNS query component), owned by AOwner when one
    /// is given.
    explicit TixDkim(TComponent* AOwner = nullptr);
    /// Frees the signatures, keys and the DNS query component.
    ~TixDkim() override;
    /// The published properties of this class (core/ixProperties).
    const TPropertyTable& GetPublishedProperties() const override;

    // ---- Published properties

    /// The values of a key record for the application to publish (owned); stored only.
    TixDkimDnsSettings& GetDnsSettings() noexcept { return FDnsSettings; }
    /// The a tag when signing (default "rsa-sha256").
    const std::string& GetSignatureAlgorithm() const noexcept { return FSignatureAlgorithm; }
    void SetSignatureAlgorithm(const std::string& AValue) { FSignatureAlgorithm = AValue; }
    /// The c tag when signing; empty: simple for both.
    const std::string& GetCanonicalization() const noexcept { return FCanonicalization; }
    void SetCanonicalization(const std::string& AValue) { FCanonicalization = AValue; }
    /// The d tag when signing: the signing domain.
    const std::string& GetDomain() const noexcept { return FDomain; }
    void SetDomain(const std::string& AValue) { FDomain = AValue; }
    /// The s tag when signing: the key's selector ("<selector>._domainkey.<domain>").
    const std::string& GetSelector() const noexcept { return FSelector; }
    void SetSelector(const std::string& AValue) { FSelector = AValue; }
    /// Names of the fields to sign, in order (default Date, From, To, Subject, MIME-Version,
    /// Content-Type).
    TStringList& GetSignedHeaderFields() noexcept { return FSignedHeaderFields; }
    /// The l tag when signing; 0: the whole body.
    int32_t GetBodyLength() const noexcept { return FBodyLength; }
    void SetBodyLength(int32_t AValue) { FBodyLength = AValue; }
    /// The i tag when signing; empty: none written.
    const std::string& GetUserIdentity() const noexcept { return FUserIdentity; }
    void SetUserIdentity(const std::string& AValue) { FUserIdentity = AValue; }
    /// The q tag when signing (default "dns/txt").
    const std::string& GetPublicKeyLocation() const noexcept { return FPublicKeyLocation; }
    void SetPublicKeyLocation(const std::string& AValue) { FPublicKeyLocation = AValue; }
    /// The t tag when signing, local time; 0: none written.
    TDateTime GetSignatureTimestamp() const noexcept { return FSignatureTimestamp; }
    void SetSignatureTimestamp(TDateTime AValue) { FSignatureTimestamp = AValue; }
    /// The x tag when signing, local time, after SignatureTimestamp; 0: none written.
    TDateTime GetSignatureExpiration() const noexcept { return FSignatureExpiration; }
    void SetSignatureExpiration(TDateTime AValue) { FSignatureExpiration = AValue; }
    /// Names of the fields copied into the z tag.
    TStringList& GetCopiedHeaderFields() noexcept { return FCopiedHeaderFields; }
    /// Folding width of the written field (default 76).
    int32_t GetCharsPerLine() const noexcept { return FCharsPerLine; }
    void SetCharsPerLine(int32_t AValue) { FCharsPerLine = AValue; }
    /// What Verify does after each signature (default dvmVerifyUntilFail).
    TixDkimVerifyMode GetVerifyMode() const noexcept { return FVerifyMode; }
    void SetVerifyMode(TixDkimVerifyMode AValue) { FVerifyMode = AValue; }

    // ---- State

    /// The signatures of the last Sign or Verify.
    TixDkimSignatureList& GetSignatures() noexcept { return FSignatures; }
    /// The DNS query component that fetches key records.
    TixDnsQuery& GetDnsQuery() noexcept { return *FDnsQuery; }
    /// The registry, created on first use.
    TixDkimConfig& GetConfig();
    /// The RSA key that signs rsa-sha1 and rsa-sha256; the application loads its private key into it.
    TixRsaKey& GetRsaKey();
    /// The Ed25519 key that signs ed25519-sha256; the application loads its private key (the
    /// 32 bytes of RFC 8032) into it.
    TixEd25519Key& GetEd25519Key();

    // ---- Operations

    /// Adds a DKIM-Signature field as the first line of AMessage.
    virtual void Sign(TStrings& AMessage);
    /// Verifies the DKIM-Signature fields of AMessage, top to bottom, as VerifyMode says.
    void Verify(TStrings& AMessage) override;

    // ---- Events

    /// Asks for a signature's public key before DNS is asked; an empty key leaves it to DNS.
    TixDkimGetPublicKeyEvent OnGetPublicKey;
    /// After each signature was verified or failed.
    TixDkimVerifyEvent OnVerify;
    /// After Sign added its field.
    TixDkimSignEvent OnSign;
    /// The key that verified a signature.
    TixDkimKeyEvent OnKeyReceived;
    /// A revoked key (empty p tag) was met; the signature then fails with DkimKeyRevokedCode.
    TixDkimKeyEvent OnKeyRevoked;

protected:
    /// The registry of canonicalizers, hashes, keys and signatures that GetConfig creates.
    virtual std::unique_ptr<TixDkimConfig> CreateConfig();
    /// Sets SignedHeaderFields to Date, From, To, Subject, MIME-Version, Content-Type.
    virtual void SetDefaultSignedHeaderFields();
    /// A new signature, added to Signatures.
    virtual TixDkimSignature* CreateSignature();
    /// Fires OnGetPublicKey with this component as Sender.
    virtual void DoGetPublicKey(TixDkimSignature* ASignature, TixByteArray& AKey);
    /// Fires OnVerify with this component as Sender.
    virtual void DoVerify(TixDkimSignature* ASignature, TStrings& AMessage, TixDkimSignatureVerifyStatus& AVerifyStatus);
    /// Fires OnSign with this component as Sender.
    virtual void DoSign(TixDkimSignature* ASignature, TStrings& AMessage);
    /// Fires OnKeyReceived with this component as Sender.
    virtual void DoKeyReceived(TixDkimSignature* ASignature, TixDkimKey* AKey);
    /// Fires OnKeyRevoked with this component as Sender.
    virtual void DoKeyRevoked(TixDkimSignature* ASignature, TixDkimKey* AKey);

private:
    template <typename T>
    std::unique_ptr<T> CreateByName(const std::string& AName, const char* AErrorText, int32_t AErrorCode);
    /// The digest of ASignature's body canonicalization of AMessage (l applied); records the
    /// body coverage in its status.
    TixByteArray BodyHash(TixDkimSignature& ASignature, TStrings& AMessage);
    void VerifyField(TixDkimHeaderFieldList& AList, int32_t AIndex, TStrings& AMessage);
    void CheckSignature(const TixDkimSignature& ASignature);
    void GetKeys(TixDkimSignature* ASignature, TixDkimKeyList& AKeys, std::exception_ptr& AFailure);
    void VerifyWithKey(TixDkimSignature* ASignature, TixDkimKey* AKey, const std::string& ASignedText);
    /// The signature object of AAlgorithm, initialised, with the signing key of its kind.
    std::unique_ptr<TixSignature> CreateSigner(const std::string& AAlgorithm);
    /// The signature object of AAlgorithm, initialised, with the public key APublicKey of AKeyType.
    std::unique_ptr<TixSignature> CreateVerifier(const std::string& AAlgorithm, const std::string& AKeyType,
        const TixByteArray& APublicKey);

    TixDkimDnsSettings FDnsSettings;
    std::string FSignatureAlgorithm;
    std::string FCanonicalization;
    std::string FDomain;
    std::string FSelector;
    TStringList FSignedHeaderFields;
    int32_t FBodyLength = 0;
    std::string FUserIdentity;
    std::string FPublicKeyLocation;
    TDateTime FSignatureTimestamp = 0;
    TDateTime FSignatureExpiration = 0;
    TStringList FCopiedHeaderFields;
    int32_t FCharsPerLine = DefaultCharsPerLine;
    TixDkimVerifyMode FVerifyMode = dvmVerifyUntilFail;
    TixDkimSignatureList FSignatures;
    std::unique_ptr<TixDnsQuery> FDnsQuery;
    std::unique_ptr<TixDkimConfig> FConfig;
    std::unique_ptr<TixRsaKey> FRsaKey;
    std::unique_ptr<TixEd25519Key> FEd25519Key;
};

} // namespace ix

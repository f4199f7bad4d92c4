// A read-only view of one X.509 certificate held by the system's certificate library, and the
// list in which certificates are handed around.
#pragma once

#include "core/ixClasses.h"
#include "core/ixDateUtils.h"
#include "platform/ixOsCrypt.h"

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace ix {

/// The certificate's names, dates, serial number, algorithms, key data and extensions, read
/// once when it is created. A field whose source is absent stays empty (0 for numbers and
/// dates).
class TixCertificate : public TObject
{
public:
    /// Takes its own reference to AContext and reads every field. Raises EixCryptError only when
    /// the enhanced key usage cannot be read for another reason than its absence.
    explicit TixCertificate(os::PCCERT_CONTEXT AContext);

    /// The system certificate context (owned); what the TLS layer offers as a client certificate.
    os::PCCERT_CONTEXT GetContext() const noexcept { return FContext.get(); }
    /// The subject's simple display name.
    const std::string& GetIssuedTo() const noexcept { return FIssuedTo; }
    /// The subject's e-mail attribute, else the first e-mail alternative name.
    const std::string& GetEmail() const noexcept { return FEmail; }
    /// The issuer's simple display name.
    const std::string& GetIssuedBy() const noexcept { return FIssuedBy; }
    /// NotAfter in local time.
    TDateTime GetValidTo() const noexcept { return FValidTo; }
    /// NotBefore in local time.
    TDateTime GetValidFrom() const noexcept { return FValidFrom; }
    /// Upper-case hexadecimal, most significant byte first, no separators.
    const std::string& GetSerialNumber() const noexcept { return FSerialNumber; }
    /// The friendly name the certificate's store gives it; empty when none.
    const std::string& GetFriendlyName() const noexcept { return FFriendlyName; }
    /// The stored version field: 0 = version 1, 1 = version 2, 2 = version 3.
    uint8_t GetVersion() const noexcept { return FVersion; }
    /// The key container of the context's key provider information.
    const std::string& GetKeyContainerName() const noexcept { return FKeyContainerName; }
    /// Object identifier of the subject public key's algorithm.
    const std::string& GetPublicKeyAlgorithm() const noexcept { return FPublicKeyAlgorithm; }
    /// Its name ("RSA"), else the identifier.
    const std::string& GetPublicKeyAlgorithmName() const noexcept { return FPublicKeyAlgorithmName; }
    /// Object identifier of the certificate's signature algorithm.
    const std::string& GetSignatureAlgorithm() const noexcept { return FSignatureAlgorithm; }
    /// Its name ("sha256RSA"), else the identifier.
    const std::string& GetSignatureAlgorithmName() const noexcept { return FSignatureAlgorithmName; }
    /// The enhanced key usage identifiers, comma-separated without blanks.
    const std::string& GetEnhancedKeyUsage() const noexcept { return FEnhancedKeyUsage; }
    /// The SHA-1 hash of the certificate in upper-case hexadecimal.
    const std::string& GetThumbprint() const noexcept { return FThumbprint; }
    /// The subject key identifier in upper-case hexadecimal.
    const std::string& GetSubjectKeyIdentifier() const noexcept { return FSubjectKeyIdentifier; }
    /// The public key's length in bits.
    int32_t GetKeyLength() const noexcept { return FKeyLength; }

private:
    struct TContextFree
    {
        void operator()(os::PCCERT_CONTEXT AContext) const noexcept;
    };

    void Load();
    void LoadEmail();
    void LoadEnhancedKeyUsage();

    std::unique_ptr<const os::CERT_CONTEXT, TContextFree> FContext;
    std::string FIssuedTo;
    std::string FEmail;
    std::string FIssuedBy;
    TDateTime FValidTo = 0;
    TDateTime FValidFrom = 0;
    std::string FSerialNumber;
    std::string FFriendlyName;
    uint8_t FVersion = 0;
    std::string FKeyContainerName;
    std::string FPublicKeyAlgorithm;
    std::string FPublicKeyAlgorithmName;
    std::string FSignatureAlgorithm;
    std::string FSignatureAlgorithmName;
    std::string FEnhancedKeyUsage;
    std::string FThumbprint;
    std::string FSubjectKeyIdentifier;
    int32_t FKeyLength = 0;
};

/// An ordered list of certificates that owns them only when OwnsItems is set.
class TixCertificateList : public TObject
{
public:
    /// An empty list; with AOwnsItems it destroys the certificates it holds.
    explicit TixCertificateList(bool AOwnsItems);
    ~TixCertificateList() override;

    /// Whether the list destroys its certificates.
    bool GetOwnsItems() const noexcept { return FOwnsItems; }
    /// Appends ACertificate (taking it over when OwnsItems is set).
    void Add(TixCertificate* ACertificate);
    /// The number of certificates.
    int32_t Count() const noexcept { return static_cast<int32_t>(FItems.size()); }
    /// The certificate at AIndex (zero-based); raises EListError outside the list.
    TixCertificate* Items(int32_t AIndex) const;
    /// Destroys the certificates when OwnsItems is set, then empties the list.
    void Clear();

private:
    bool FOwnsItems;
    std::vector<TixCertificate*> FItems;
};

} // namespace ix

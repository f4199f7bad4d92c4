#include "tls/ixCertificate.h"

#include "support/TlsTestCertificates.h"
#include "platform/ixOsKernel.h"
#include "util/ixUtils.h"

#include <openssl/x509v3.h>

#include <openssl/pkcs12.h>

#include <gtest/gtest.h>

#include <memory>

using namespace ix;
using namespace ix::test;

TEST(Certificate, ReadsEveryFieldOfACertificateAndLeavesThoseItLacksEmpty)
{
    const TTestCert cert = MakeCertificate({.CommonName = "pop.example.test", .Organization = "Example",
        .EmailAttribute = "postmaster@example.test", .AltNames = "DNS:pop.example.test,email:other@example.test",
        .Serial = 0x0A0201, .NotBeforeDays = -2, .NotAfterDays = 30,
        .ExtendedKeyUsage = "serverAuth,clientAuth"}, &TestAuthority());
    const TContextPtr context = ContextOf(cert);
    const TixCertificate certificate(context.get());

    EXPECT_NE(certificate.GetContext(), nullptr);
    EXPECT_EQ(certificate.GetIssuedTo(), "pop.example.test");
    EXPECT_EQ(certificate.GetIssuedBy(), "ix Test CA");
    EXPECT_EQ(certificate.GetEmail(), "postmaster@example.test");
    // Stored little-endian as 01 02 0A, shown most significant byte first.
    ASSERT_EQ(context->pCertInfo->SerialNumber.cbData, 3u);
    EXPECT_EQ(context->pCertInfo->SerialNumber.pbData[0], 0x01);
    EXPECT_EQ(certificate.GetSerialNumber(), "0A0201");
    EXPECT_NEAR(certificate.GetValidFrom(), Now() - 2.0, 0.01);
    EXPECT_NEAR(certificate.GetValidTo(), Now() + 30.0, 0.01);
    EXPECT_EQ(certificate.GetVersion(), 2);
    EXPECT_EQ(certificate.GetSignatureAlgorithm(), "1.2.840.10045.4.3.2");
    EXPECT_EQ(certificate.GetSignatureAlgorithmName(), "sha256ECDSA");
    EXPECT_EQ(certificate.GetPublicKeyAlgorithm(), "1.2.840.113549.1.1.1");
    EXPECT_EQ(certificate.GetPublicKeyAlgorithmName(), "RSA");
    EXPECT_EQ(certificate.GetKeyLength(), 2048);
    EXPECT_EQ(certificate.GetEnhancedKeyUsage(), "1.3.6.1.5.5.7.3.1,1.3.6.1.5.5.7.3.2");
    EXPECT_EQ(certificate.GetFriendlyName(), "");
    EXPECT_EQ(certificate.GetKeyContainerName(), "");

    unsigned char sha1[20];
    unsigned int size = 0;
    X509_digest(cert.Cert(), EVP_sha1(), sha1, &size);
    EXPECT_EQ(certificate.GetThumbprint(), BytesToHex(std::span<const uint8_t>(sha1, size)));
    const ASN1_OCTET_STRING* keyId = X509_get0_subject_key_id(cert.Cert());
    ASSERT_NE(keyId, nullptr);
    EXPECT_EQ(certificate.GetSubjectKeyIdentifier(),
        BytesToHex(std::span<const uint8_t>(ASN1_STRING_get0_data(keyId), ASN1_STRING_length(keyId))));

    // Self-signed, without a common name and extensions: the simple display name is the
    // organization, and what the certificate lacks is empty.
    const TContextPtr bareContext = ContextOf(MakeCertificate({.Organization = "Only Org", .ExtendedKeyUsage = "",
        .SubjectKeyIdentifier = false}));
    const TixCertificate bare(bareContext.get());
    EXPECT_EQ(bare.GetIssuedTo(), "Only Org");
    EXPECT_EQ(bare.GetIssuedBy(), "Only Org");
    EXPECT_EQ(bare.GetEnhancedKeyUsage(), "");
    EXPECT_EQ(bare.GetSubjectKeyIdentifier(), "");
    EXPECT_EQ(bare.GetEmail(), "");
    EXPECT_EQ(bare.GetSerialNumber(), "01");
}

TEST(Certificate, ReadsTheFriendlyNameAndKeyContainerOfAKeyedContext)
{
    const TTestCert client = MakeCertificate({.CommonName = "client", .AltNames = "DNS:client.example.test",
        .ExtendedKeyUsage = "clientAuth"}, &TestAuthority());
    PKCS12* pfx = PKCS12_create("secret", "My Client", client.Key(), client.Cert(), nullptr, 0, 0, 0, 0, 0);
    ASSERT_NE(pfx, nullptr);
    unsigned char* der = nullptr;
    const int size = i2d_PKCS12(pfx, &der);
    const std::string path = WriteTempFile("client.p12", std::string(reinterpret_cast<char*>(der), size));
    OPENSSL_free(der);
    PKCS12_free(pfx);

    EXPECT_EQ(os::CertCreateContextFromPfxFile(path.c_str(), "wrong"), nullptr);
    EXPECT_EQ(os::GetLastError(), os::ERROR_INVALID_PASSWORD);
    const TContextPtr context(os::CertCreateContextFromPfxFile(path.c_str(), "secret"));
    ASSERT_NE(context, nullptr);
    const TixCertificate certificate(context.get());
    EXPECT_EQ(certificate.GetFriendlyName(), "My Client");
    EXPECT_EQ(certificate.GetKeyContainerName(), path);
    EXPECT_EQ(certificate.GetEnhancedKeyUsage(), "1.3.6.1.5.5.7.3.2");
    EXPECT_EQ(certificate.GetEmail(), "") << "a DNS name is no e-mail address";
}

TEST(CertificateList, ItemsKeepTheirContextAndAreDestroyedOnlyWhenTheListOwnsThem)
{
    const TTestCert cert = MakeCertificate({.CommonName = "listed"}, &TestAuthority());
    TContextPtr context = ContextOf(cert);
    auto kept = std::make_unique<TixCertificate>(context.get());
    // The certificate keeps its own reference to the context.
    context.reset();
    EXPECT_EQ(kept->GetContext()->pCertInfo->dwVersion, 2u);
    EXPECT_EQ(TixCertificate(nullptr).GetIssuedTo(), "");
    {
        TixCertificateList list(false);
        list.Add(kept.get());
        EXPECT_EQ(list.Count(), 1);
        EXPECT_EQ(list.Items(0), kept.get());
        EXPECT_THROW(list.Items(1), EListError);
    }
    EXPECT_EQ(kept->GetIssuedTo(), "listed");   // still alive (ASan would object otherwise)

    TixCertificateList owning(true);
    owning.Add(new TixCertificate(kept->GetContext()));
    owning.Add(kept.release());
    owning.Clear();
    EXPECT_EQ(owning.Count(), 0);
}

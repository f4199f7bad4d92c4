// The CryptoAPI stand-in's certificate contexts and decoded structures.
#include "platform/ixOsCrypt.h"

#include "support/TlsTestCertificates.h"
#include "platform/internal/ixOsCryptInternal.h"
#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ix::os;
using namespace ix::test;

namespace {

constexpr DWORD Encoding = X509_ASN_ENCODING | PKCS_7_ASN_ENCODING;

} // namespace

TEST(OsCryptCertificates, BadEncodingsAreRefusedWithAsn1Errors)
{
    const BYTE notACertificate[] = {0x04, 0x02, 0x01, 0x02};
    EXPECT_EQ(CertCreateCertificateContext(Encoding, notACertificate, sizeof(notACertificate)), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_BADTAG);
    std::vector<uint8_t> der = TestAuthority().Der();
    der.resize(der.size() - 10);
    EXPECT_EQ(CertCreateCertificateContext(Encoding, der.data(), static_cast<DWORD>(der.size())), nullptr);
    der = TestAuthority().Der();
    der.push_back(0);
    EXPECT_EQ(CertCreateCertificateContext(Encoding, der.data(), static_cast<DWORD>(der.size())), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_ASN1_CORRUPT);
}

TEST(OsCryptCertificates, DecodesAlternativeNamesWithTheirChoices)
{
    const TContextPtr context = ContextOf(MakeCertificate({.CommonName = "pop.example.test",
        .AltNames = "DNS:pop.example.test,IP:127.0.0.1,email:pm@example.test,URI:https://example.test/"}));
    const CERT_INFO& info = *context->pCertInfo;
    const CERT_EXTENSION* extension = CertFindExtension(szOID_SUBJECT_ALT_NAME2, info.cExtension, info.rgExtension);
    ASSERT_NE(extension, nullptr);
    const CRYPTOAPI_BLOB& value = extension->Value;
    DWORD size = 0;
    ASSERT_TRUE(CryptDecodeObject(Encoding, szOID_SUBJECT_ALT_NAME2, value.pbData, value.cbData, 0, nullptr, &size));
    std::vector<BYTE> buffer(size);
    ASSERT_TRUE(CryptDecodeObject(Encoding, szOID_SUBJECT_ALT_NAME2, value.pbData, value.cbData, 0, buffer.data(),
        &size));
    const auto& names = *reinterpret_cast<const CERT_ALT_NAME_INFO*>(buffer.data());
    ASSERT_EQ(names.cAltEntry, 4u);
    EXPECT_EQ(names.rgAltEntry[0].dwAltNameChoice, CERT_ALT_NAME_DNS_NAME);
    EXPECT_EQ(std::u16string(names.rgAltEntry[0].pwszDNSName), u"pop.example.test");
    EXPECT_EQ(names.rgAltEntry[1].dwAltNameChoice, CERT_ALT_NAME_IP_ADDRESS);
    EXPECT_EQ(std::vector<BYTE>(names.rgAltEntry[1].IPAddress.pbData, names.rgAltEntry[1].IPAddress.pbData + 4),
        (std::vector<BYTE>{127, 0, 0, 1}));
    EXPECT_EQ(names.rgAltEntry[2].dwAltNameChoice, CERT_ALT_NAME_RFC822_NAME);
    EXPECT_EQ(std::u16string(names.rgAltEntry[2].pwszRfc822Name), u"pm@example.test");
    EXPECT_EQ(names.rgAltEntry[3].dwAltNameChoice, CERT_ALT_NAME_URL);

    size = 8;
    BYTE small[8];
    EXPECT_FALSE(CryptDecodeObject(Encoding, szOID_SUBJECT_ALT_NAME2, value.pbData, value.cbData, 0, small, &size));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, buffer.size());
    EXPECT_FALSE(CryptDecodeObject(Encoding, szOID_SUBJECT_ALT_NAME2, value.pbData, 3, 0, nullptr, &size));
    EXPECT_FALSE(CryptDecodeObject(Encoding, "1.2.3.4", value.pbData, value.cbData, 0, nullptr, &size));
}

TEST(OsCryptCertificates, PemFilesGiveContextsWithTheirKeyAndChainAndAnEncryptedKeyNeedsItsPassword)
{
    const TTestCert authority = MakeCertificate({.CommonName = "ix PEM CA", .CertificateAuthority = true,
        .ExtendedKeyUsage = ""});
    const TTestCert client = MakeCertificate({.CommonName = "client", .ExtendedKeyUsage = "clientAuth"}, &authority);
    const std::string certPath = WriteTempFile("client.pem", client.Pem() + authority.Pem());
    const std::string keyPath = WriteTempFile("client.key", client.KeyPem());
    const TContextPtr context(CertCreateContextFromPemFile(certPath.c_str(), keyPath.c_str(), nullptr));
    ASSERT_NE(context, nullptr);
    EXPECT_EQ(X509_cmp(ix::os::internal::CertContextCertificate(context.get()), client.Cert()), 0);
    EXPECT_EQ(EVP_PKEY_eq(ix::os::internal::CertContextPrivateKey(context.get()), client.Key()), 1);
    const std::vector<X509*> chain = ix::os::internal::CertContextStoreCertificates(context.get());
    ASSERT_EQ(chain.size(), 1u);
    EXPECT_EQ(X509_cmp(chain[0], authority.Cert()), 0);

    EXPECT_EQ(CertCreateContextFromPemFile("/nonexistent/cert.pem", nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_FILE_NOT_FOUND);
    const std::string otherKey = WriteTempFile("authority.key", authority.KeyPem());
    EXPECT_EQ(CertCreateContextFromPemFile(certPath.c_str(), otherKey.c_str(), nullptr), nullptr);
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
    EXPECT_EQ(CertCreateContextFromPemFile(certPath.c_str(), nullptr, nullptr), nullptr);
    EXPECT_EQ(GetLastError(), CRYPT_E_NOT_FOUND);
    // An encrypted key needs its password.
    const std::string encryptedPath = WriteTempFile("encrypted.key", client.KeyPem("pass"));
    EXPECT_EQ(CertCreateContextFromPemFile(certPath.c_str(), encryptedPath.c_str(), nullptr), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD);
    EXPECT_EQ(CertCreateContextFromPemFile(certPath.c_str(), encryptedPath.c_str(), "wrong"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_INVALID_PASSWORD);
    EXPECT_NE(TContextPtr(CertCreateContextFromPemFile(certPath.c_str(), encryptedPath.c_str(), "pass")), nullptr);
}

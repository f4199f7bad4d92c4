// The CryptoAPI stand-in's chains and SSL chain policy against certificates made by the tests.
#include "platform/ixOsCrypt.h"

#include "support/TlsTestCertificates.h"
#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>
#include <vector>

using namespace ix::os;
using namespace ix::test;

namespace {

class ChainPolicy : public testing::Test
{
protected:
    TTestCert Issue(TCertSpec ASpec) const { return MakeCertificate(ASpec, &TestAuthority()); }

    /// The SSL policy's error for ACert at AServerName with the given ignore flags and checks.
    static DWORD PolicyError(const TTestCert& ACert, const char16_t* AServerName, DWORD AFlags = 0,
        DWORD AChecks = 0, DWORD AChainFlags = 0)
    {
        const TContextPtr context = ContextOf(ACert);
        PCCERT_CHAIN_CONTEXT chain = nullptr;
        CERT_CHAIN_PARA para{};
        para.cbSize = sizeof(para);
        EXPECT_TRUE(CertGetCertificateChain(nullptr, context.get(), nullptr, context->hCertStore, &para,
            AChainFlags, nullptr, &chain));
        SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{sizeof(ssl), AUTHTYPE_SERVER, AChecks,
            const_cast<char16_t*>(AServerName)};
        CERT_CHAIN_POLICY_PARA policy{sizeof(policy), AFlags, &ssl};
        CERT_CHAIN_POLICY_STATUS status{};
        status.cbSize = sizeof(status);
        EXPECT_TRUE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status));
        CertFreeCertificateChain(chain);
        return status.dwError;
    }
};

} // namespace

TEST_F(ChainPolicy, BuildsTheChainUpToTheTrustedRootWithIntermediatesOfTheAdditionalStore)
{
    // The intermediate comes from the additional store: the server's own file.
    const TTestCert intermediate = Issue({.CommonName = "ix Intermediate", .Serial = 9,
        .CertificateAuthority = true, .ExtendedKeyUsage = ""});
    const TTestCert below = MakeCertificate({.CommonName = "localhost", .AltNames = "DNS:localhost"}, &intermediate);
    EXPECT_EQ(PolicyError(below, u"localhost"), CERT_E_CHAINING);
    const std::string path = WriteTempFile("chain.pem", below.Pem() + below.KeyPem() + intermediate.Pem());
    const TContextPtr context(CertCreateContextFromPemFile(path.c_str(), nullptr, nullptr));
    ASSERT_NE(context, nullptr);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ASSERT_TRUE(CertGetCertificateChain(nullptr, context.get(), nullptr, context->hCertStore, nullptr, 0,
        nullptr, &chain));
    ASSERT_EQ(chain->cChain, 1u);
    ASSERT_EQ(chain->rgpChain[0]->cElement, 3u);
    EXPECT_EQ(chain->TrustStatus.dwErrorStatus, CERT_TRUST_NO_ERROR);
    EXPECT_EQ(chain->rgpChain[0]->rgpElement[0]->pCertContext, context.get());
    EXPECT_NE(chain->rgpChain[0]->rgpElement[2]->TrustStatus.dwInfoStatus & CERT_TRUST_IS_SELF_SIGNED, 0u);
    CertFreeCertificateChain(chain);
}

// The faults a TLS client meets with its ignore flags (an unknown authority, an expired
// certificate, another host) are those of the TLS stream's tests; these are the rest.
TEST_F(ChainPolicy, ReportsEachFaultOfTheChainUnlessItsIgnoreFlagIsGiven)
{
    const TTestCert otherAuthority =
        MakeCertificate({.CommonName = "Other CA", .Serial = 7, .CertificateAuthority = true, .ExtendedKeyUsage = ""});
    const TTestCert self = MakeCertificate({.CommonName = "localhost", .AltNames = "DNS:localhost"});
    const TTestCert orphan = MakeCertificate({.CommonName = "localhost", .AltNames = "DNS:localhost"}, &otherAuthority);
    const TTestCert expired = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost",
        .NotBeforeDays = -30, .NotAfterDays = -1});
    const TTestCert future = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost",
        .NotBeforeDays = 2, .NotAfterDays = 30});
    const TTestCert clientUsage = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost",
        .ExtendedKeyUsage = "clientAuth"});
    const TTestCert anyUsage = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost", .ExtendedKeyUsage = ""});
    const TTestCert other = Issue({.CommonName = "other.invalid", .AltNames = "DNS:other.invalid"});
    const struct
    {
        const char* Name;
        const TTestCert& Cert;
        DWORD Flags;   // of the policy
        DWORD Checks;  // to ignore, of the SSL policy
        DWORD Error;
    } cases[] = {
        {"self-signed", self, CERT_CHAIN_POLICY_ALLOW_UNKNOWN_CA_FLAG, 0, 0},
        {"incomplete", orphan, 0, 0, DWORD(CERT_E_CHAINING)},
        {"incomplete", orphan, 0, SECURITY_FLAG_IGNORE_UNKNOWN_CA, 0},
        {"not yet valid", future, 0, 0, DWORD(CERT_E_EXPIRED)},
        {"expired", expired, CERT_CHAIN_POLICY_IGNORE_NOT_TIME_VALID_FLAG, 0, 0},
        {"client usage", clientUsage, 0, 0, DWORD(CERT_E_WRONG_USAGE)},
        {"client usage", clientUsage, 0, SECURITY_FLAG_IGNORE_WRONG_USAGE, 0},
        {"client usage", clientUsage, CERT_CHAIN_POLICY_IGNORE_WRONG_USAGE_FLAG, 0, 0},
        {"any usage", anyUsage, 0, 0, 0},
        // Every chain flag accepted: the name is still checked.
        {"other host", other, 0xFFFF, 0, DWORD(CERT_E_CN_NO_MATCH)},
    };
    for (const auto& c : cases)
        EXPECT_EQ(PolicyError(c.Cert, u"localhost", c.Flags, c.Checks), c.Error)
            << c.Name << ", flags " << std::hex << c.Flags << ", checks " << c.Checks;
}

TEST_F(ChainPolicy, MatchesHostNamesAndAddressesAsRfc6125Says)
{
    const struct
    {
        const char* CommonName;
        const char* AltNames;
        const char16_t* Target;
        DWORD Error;
    } cases[] = {
        {"localhost", "DNS:localhost,IP:127.0.0.1", u"localhost", 0},
        {"localhost", "DNS:localhost,IP:127.0.0.1", u"LOCALHOST.", 0},
        {"localhost", "DNS:localhost,IP:127.0.0.1", u"127.0.0.1", 0},
        {"other.invalid", "DNS:other.invalid", u"localhost", CERT_E_CN_NO_MATCH},
        {"other.invalid", "DNS:other.invalid", u"", CERT_E_CN_NO_MATCH},
        // An address is matched only against address names, never against DNS names or the CN.
        {"127.0.0.1", "DNS:127.0.0.1", u"127.0.0.1", CERT_E_CN_NO_MATCH},
        {"ip", "IP:127.0.0.1,IP:::1", u"127.0.0.1", 0},
        {"ip", "IP:127.0.0.1,IP:::1", u"[::1]", 0},
        {"ip", "IP:127.0.0.1,IP:::1", u"127.0.0.2", CERT_E_CN_NO_MATCH},
        {"ip", "IP:127.0.0.1,IP:::1", u"localhost", CERT_E_CN_NO_MATCH},
        // The common name counts only when there are no DNS names.
        {"mail.example.test", "", u"mail.example.test", 0},
        {"mail.example.test", "DNS:pop.example.test", u"mail.example.test", CERT_E_CN_NO_MATCH},
        // A wildcard covers exactly one whole leftmost label.
        {"wild", "DNS:*.example.test,DNS:w*.other.test", u"pop.example.test", 0},
        {"wild", "DNS:*.example.test,DNS:w*.other.test", u"example.test", CERT_E_CN_NO_MATCH},
        {"wild", "DNS:*.example.test,DNS:w*.other.test", u"a.pop.example.test", CERT_E_CN_NO_MATCH},
        {"wild", "DNS:*.example.test,DNS:w*.other.test", u"www.other.test", CERT_E_CN_NO_MATCH},
        {"inner", "DNS:pop.*.example.test", u"pop.mail.example.test", CERT_E_CN_NO_MATCH},
    };
    for (size_t row = 0; row < std::size(cases); ++row)
    {
        const auto& c = cases[row];
        EXPECT_EQ(PolicyError(Issue({.CommonName = c.CommonName, .AltNames = c.AltNames}), c.Target), c.Error)
            << "row " << row << ": " << c.AltNames;
    }
}

TEST_F(ChainPolicy, ChecksRevocationAgainstTheListsOfTheTrustStoreWhenAsked)
{
    const TTestCert revoked = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost", .Serial = 0x66});
    const TTestCert good = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost", .Serial = 0x67});
    // No list for the authority: the status is unknown, which is refused unless accepted.
    EXPECT_EQ(PolicyError(good, u"localhost", 0, 0, CERT_CHAIN_REVOCATION_CHECK_END_CERT), CRYPT_E_REVOCATION_OFFLINE);
    EXPECT_EQ(PolicyError(good, u"localhost", 0, SECURITY_FLAG_IGNORE_REVOCATION,
                  CERT_CHAIN_REVOCATION_CHECK_END_CERT), 0u);
    EXPECT_EQ(PolicyError(revoked, u"localhost"), 0u);

    TrustOnly(TestAuthority().Pem() + MakeCrlPem(TestAuthority(), {&revoked}));
    EXPECT_EQ(PolicyError(revoked, u"localhost", 0, 0, CERT_CHAIN_REVOCATION_CHECK_END_CERT), CRYPT_E_REVOKED);
    EXPECT_EQ(PolicyError(revoked, u"localhost", 0xFFFF, SECURITY_FLAG_IGNORE_REVOCATION,
                  CERT_CHAIN_REVOCATION_CHECK_END_CERT), CRYPT_E_REVOKED);
    EXPECT_EQ(PolicyError(good, u"localhost", 0, 0, CERT_CHAIN_REVOCATION_CHECK_END_CERT), 0u);
    TrustOnly(TestAuthority().Pem());
}

TEST_F(ChainPolicy, RefusesBadArgumentsInsteadOfReadingThem)
{
    const TTestCert server = Issue({.CommonName = "localhost", .AltNames = "DNS:localhost"});
    const TContextPtr context = ContextOf(server);
    PCCERT_CHAIN_CONTEXT chain = nullptr;
    ASSERT_TRUE(CertGetCertificateChain(nullptr, context.get(), nullptr, nullptr, nullptr, 0, nullptr, &chain));
    CERT_CHAIN_POLICY_STATUS status{};
    status.cbSize = 12;   // too small to hold the answer
    EXPECT_FALSE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, nullptr, &status));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
    status.cbSize = sizeof(status);
    SSL_EXTRA_CERT_CHAIN_POLICY_PARA ssl{16, AUTHTYPE_SERVER, 0, const_cast<char16_t*>(u"localhost")};
    CERT_CHAIN_POLICY_PARA policy{sizeof(policy), 0, &ssl};
    EXPECT_FALSE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, &policy, &status));
    CertFreeCertificateChain(chain);

    EXPECT_FALSE(CertVerifyCertificateChainPolicy(CERT_CHAIN_POLICY_SSL, chain, nullptr, &status));
    CERT_CONTEXT fake{};
    EXPECT_FALSE(CertGetCertificateChain(nullptr, &fake, nullptr, nullptr, nullptr, 0, nullptr, &chain));
    EXPECT_EQ(GetLastError(), E_INVALIDARG);
}

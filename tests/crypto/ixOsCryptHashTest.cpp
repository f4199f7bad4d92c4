// The CryptoAPI stand-in's providers and hash objects.
#include "platform/ixOsCrypt.h"

#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

using namespace ix::os;

namespace {

HCRYPTPROV Acquire(LPCSTR AName, DWORD AType)
{
    HCRYPTPROV provider = 0;
    EXPECT_TRUE(CryptAcquireContextA(&provider, nullptr, AName, AType, CRYPT_VERIFYCONTEXT));
    return provider;
}

std::vector<BYTE> HashValue(HCRYPTHASH AHash)
{
    DWORD size = 0;
    EXPECT_TRUE(CryptGetHashParam(AHash, HP_HASHVAL, nullptr, &size, 0));
    std::vector<BYTE> value(size);
    EXPECT_TRUE(CryptGetHashParam(AHash, HP_HASHVAL, value.data(), &size, 0));
    return value;
}

} // namespace

TEST(OsCryptProviders, AcceptTheNamedProvidersWithTheirTypesAndRefuseOthersAndReleasedHandlesAndHashValuesFollowTheBufferProtocol)
{
    const HCRYPTPROV base = Acquire(MS_DEF_PROV_A, PROV_RSA_FULL);
    const HCRYPTPROV aes = Acquire(MS_ENH_RSA_AES_PROV_A, PROV_RSA_AES);
    const HCRYPTPROV byType = Acquire(nullptr, PROV_RSA_AES);
    HCRYPTHASH hash = 0;
    EXPECT_FALSE(CryptCreateHash(base, CALG_SHA_256, 0, 0, &hash)); // SHA-2 only in the AES provider
    EXPECT_EQ(GetLastError(), NTE_BAD_ALGID);

    // The value follows the buffer protocol and closes the hash.
    ASSERT_TRUE(CryptCreateHash(base, CALG_SHA1, 0, 0, &hash));
    const std::string abc = "abc";
    ASSERT_TRUE(CryptHashData(hash, reinterpret_cast<const BYTE*>(abc.data()), 3, 0));
    BYTE small[4];
    DWORD size = sizeof(small);
    EXPECT_FALSE(CryptGetHashParam(hash, HP_HASHVAL, small, &size, 0));
    EXPECT_EQ(GetLastError(), ERROR_MORE_DATA);
    EXPECT_EQ(size, 20u);
    const std::vector<BYTE> value = HashValue(hash);
    EXPECT_EQ(value.size(), 20u);
    EXPECT_EQ(HashValue(hash), value);
    EXPECT_FALSE(CryptHashData(hash, reinterpret_cast<const BYTE*>(abc.data()), 3, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH_STATE);
    EXPECT_TRUE(CryptDestroyHash(hash));
    EXPECT_FALSE(CryptDestroyHash(hash));

    EXPECT_TRUE(CryptReleaseContext(base, 0));
    EXPECT_TRUE(CryptReleaseContext(aes, 0));
    EXPECT_TRUE(CryptReleaseContext(byType, 0));

    HCRYPTPROV provider = 0;
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, "No Such Provider", PROV_RSA_FULL, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_KEYSET_NOT_DEF);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, MS_DEF_PROV_A, PROV_RSA_AES, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NO_MATCH);
    EXPECT_FALSE(CryptAcquireContextA(&provider, nullptr, nullptr, 99, CRYPT_VERIFYCONTEXT));
    EXPECT_EQ(GetLastError(), NTE_PROV_TYPE_NOT_DEF);
    EXPECT_FALSE(CryptAcquireContextA(&provider, "container", nullptr, PROV_RSA_FULL, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEYSET);

    // Released or unknown handles are refused, not used.
    EXPECT_FALSE(CryptReleaseContext(base, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
    EXPECT_FALSE(CryptCreateHash(base, CALG_MD5, 0, 0, &hash));
    EXPECT_EQ(GetLastError(), NTE_BAD_UID);
    EXPECT_FALSE(CryptHashData(12345, nullptr, 0, 0));
    EXPECT_EQ(GetLastError(), NTE_BAD_HASH);
}

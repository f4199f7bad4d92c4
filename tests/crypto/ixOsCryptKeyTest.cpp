// The CryptoAPI stand-in's RSA keys: flags of imported keys, and the blobs and encodings it refuses.
#include "platform/ixOsCrypt.h"

#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <tuple>
#include <utility>
#include <vector>

using namespace ix::os;

namespace {

class OsCryptKeys : public testing::Test
{
protected:
    void SetUp() override
    {
        ASSERT_TRUE(CryptAcquireContextA(&FProvider, nullptr, MS_ENHANCED_PROV_A, PROV_RSA_FULL,
            CRYPT_VERIFYCONTEXT));
    }
    void TearDown() override { CryptReleaseContext(FProvider, 0); }

    std::vector<BYTE> Export(HCRYPTKEY AKey, BYTE AType)
    {
        DWORD size = 0;
        EXPECT_TRUE(CryptExportKey(AKey, 0, AType, 0, nullptr, &size));
        std::vector<BYTE> blob(size);
        EXPECT_TRUE(CryptExportKey(AKey, 0, AType, 0, blob.data(), &size));
        return blob;
    }

    /// The error of importing ABlob; ERROR_SUCCESS when it imports.
    DWORD ImportError(const std::vector<BYTE>& ABlob)
    {
        HCRYPTKEY key = 0;
        if (CryptImportKey(FProvider, ABlob.data(), static_cast<DWORD>(ABlob.size()), 0, 0, &key))
        {
            CryptDestroyKey(key);
            return ERROR_SUCCESS;
        }
        return GetLastError();
    }

    /// The public blob of a new 512-bit key.
    std::vector<BYTE> PublicBlob()
    {
        HCRYPTKEY key = 0;
        EXPECT_TRUE(CryptGenKey(FProvider, AT_KEYEXCHANGE, 512u << 16, &key));
        std::vector<BYTE> blob = Export(key, PUBLICKEYBLOB);
        CryptDestroyKey(key);
        return blob;
    }

    HCRYPTPROV FProvider = 0;
};

} // namespace

TEST_F(OsCryptKeys, ImportingOneBlobTwiceGivesKeysWithTheirOwnFlagsAndADestroyedKeyOrABlobOfTheWrongLengthIsRefused)
{
    HCRYPTKEY generated = 0;
    ASSERT_TRUE(CryptGenKey(FProvider, AT_KEYEXCHANGE, (512u << 16) | CRYPT_EXPORTABLE, &generated));
    const std::vector<BYTE> blob = Export(generated, PRIVATEKEYBLOB);
    CryptDestroyKey(generated);
    HCRYPTKEY exportable = 0;
    HCRYPTKEY locked = 0;
    ASSERT_TRUE(CryptImportKey(FProvider, blob.data(), static_cast<DWORD>(blob.size()), 0, CRYPT_EXPORTABLE, &exportable));
    ASSERT_TRUE(CryptImportKey(FProvider, blob.data(), static_cast<DWORD>(blob.size()), 0, 0, &locked));
    EXPECT_EQ(Export(exportable, PRIVATEKEYBLOB), blob);
    CryptDestroyKey(exportable);
    DWORD size = 0;
    EXPECT_FALSE(CryptExportKey(locked, 0, PRIVATEKEYBLOB, 0, nullptr, &size));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY_STATE);
    EXPECT_EQ(Export(locked, PUBLICKEYBLOB).size(), 20u + 64u);
    EXPECT_TRUE(CryptDestroyKey(locked));
    EXPECT_FALSE(CryptDestroyKey(locked));
    EXPECT_EQ(GetLastError(), NTE_BAD_KEY);
    // A blob of the wrong length is refused.
    std::vector<BYTE> longer = PublicBlob();
    longer.push_back(0);
    EXPECT_EQ(ImportError(longer), NTE_BAD_DATA);
    EXPECT_EQ(ImportError(std::vector<BYTE>(longer.begin(), longer.begin() + 19)), NTE_BAD_DATA);
}

TEST_F(OsCryptKeys, RefusesABlobWithOneFieldWrong)
{
    // The byte at an offset, its new value, the error.
    const std::tuple<size_t, BYTE, DWORD> changes[] = {
        {0, 0x05, NTE_BAD_TYPE},   // bType
        {1, 0x01, NTE_BAD_VER},    // bVersion
        {5, 0x66, NTE_BAD_ALGID},  // aiKeyAlg
        {11, '2', NTE_BAD_DATA},   // magic "RSA2" in a public blob
        {13, 0x04, NTE_BAD_DATA},  // bitlen 1024: longer than the blob
        {16, 0x02, NTE_BAD_KEY},   // an even exponent
        {20, 0x00, NTE_BAD_KEY},   // an even modulus
    };
    const std::vector<BYTE> original = PublicBlob();
    ASSERT_EQ(ImportError(original), ERROR_SUCCESS);
    for (const auto& [offset, value, error] : changes)
    {
        std::vector<BYTE> blob = original;
        blob[offset] = value;
        EXPECT_EQ(ImportError(blob), error) << "offset " << offset;
    }
}

TEST(OsCryptKeyDecode, RefusesMalformedPublicKeysWithTheAsn1Error)
{
    const std::pair<std::vector<BYTE>, DWORD> cases[] = {{{}, CRYPT_E_ASN1_EOD},
        {{0x30, 0x06, 0x02, 0x01}, CRYPT_E_ASN1_EOD}, {{0x30, 0x84, 0x7F}, CRYPT_E_ASN1_EOD},
        {{0x31, 0x00}, CRYPT_E_ASN1_BADTAG},
        {{0x30, 0x80, 0x00, 0x00}, CRYPT_E_ASN1_CORRUPT},                          // indefinite
        {{0x30, 0x06, 0x02, 0x01, 0xFF, 0x02, 0x01, 0x03}, CRYPT_E_ASN1_CORRUPT},  // negative
        {{0x30, 0x06, 0x02, 0x01, 0x7F, 0x02, 0x00}, CRYPT_E_ASN1_EOD},
        {{0x30, 0x07, 0x02, 0x01, 0x7F, 0x02, 0x00, 0x05, 0x00}, CRYPT_E_ASN1_CORRUPT},  // empty
        {{0x30, 0x0A, 0x02, 0x01, 0x7F, 0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x01}, CRYPT_E_ASN1_LARGE},
        {{0x30, 0x08, 0x02, 0x01, 0x7F, 0x02, 0x01, 0x03, 0x05, 0x00}, CRYPT_E_ASN1_CORRUPT},
        {{0x30, 0x06, 0x02, 0x01, 0x7F, 0x02, 0x01, 0x03}, NTE_BAD_KEY}};  // too short a key
    for (size_t row = 0; row < std::size(cases); ++row)
    {
        const auto& [der, error] = cases[row];
        DWORD size = 0;
        EXPECT_FALSE(CryptDecodeObjectEx(X509_ASN_ENCODING, CryptStructType(RSA_CSP_PUBLICKEYBLOB), der.data(),
            static_cast<DWORD>(der.size()), 0, nullptr, nullptr, &size)) << "row " << row;
        EXPECT_EQ(GetLastError(), error) << "row " << row;
    }
}

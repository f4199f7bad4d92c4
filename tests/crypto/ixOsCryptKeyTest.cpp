// The CryptoAPI stand-in's RSA keys: flags of imported keys, and the blobs and encodings it refuses.
#include "platform/ixOsCrypt.h"

#include "platform/ixOsKernel.h"

#include <gtest/gtest.h>

#include <cstring>
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

    HCRYPTPROV FProvider = 0;
};

/// A 512-bit key's public blob.
const std::vector<BYTE>& PublicBlob()
{
    static const std::vector<BYTE> blob = [] {
        HCRYPTPROV provider = 0;
        HCRYPTKEY key = 0;
        CryptAcquireContextA(&provider, nullptr, nullptr, PROV_RSA_FULL, CRYPT_VERIFYCONTEXT);
        CryptGenKey(provider, AT_KEYEXCHANGE, 512u << 16, &key);
        DWORD size = 0;
        CryptExportKey(key, 0, PUBLICKEYBLOB, 0, nullptr, &size);
        std::vector<BYTE> result(size);
        CryptExportKey(key, 0, PUBLICKEYBLOB, 0, result.data(), &size);
        CryptDestroyKey(key);
        CryptReleaseContext(provider, 0);
        return result;
    }();
    return blob;
}

} // namespace

TEST_F(OsCryptKeys, ImportingOneBlobTwiceGivesKeysWithTheirOwnFlagsAndADestroyedKeyIsRefused)
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
}

struct TBlobChange
{
    size_t Offset;
    BYTE Value;
    DWORD Error;
};

class OsCryptKeyImport : public OsCryptKeys, public testing::WithParamInterface<TBlobChange>
{
};

TEST_P(OsCryptKeyImport, RefusesABlobWithOneFieldWrong)
{
    ASSERT_EQ(ImportError(PublicBlob()), ERROR_SUCCESS);
    std::vector<BYTE> blob = PublicBlob();
    blob[GetParam().Offset] = GetParam().Value;
    EXPECT_EQ(ImportError(blob), GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(Fields, OsCryptKeyImport,
    testing::Values(TBlobChange{0, 0x05, NTE_BAD_TYPE},   // bType
        TBlobChange{1, 0x01, NTE_BAD_VER},                 // bVersion
        TBlobChange{5, 0x66, NTE_BAD_ALGID},               // aiKeyAlg
        TBlobChange{11, '2', NTE_BAD_DATA},                // magic "RSA2" in a public blob
        TBlobChange{13, 0x04, NTE_BAD_DATA},               // bitlen 1024: longer than the blob
        TBlobChange{16, 0x02, NTE_BAD_KEY},                // an even exponent
        TBlobChange{20, 0x00, NTE_BAD_KEY}));              // an even modulus

TEST_F(OsCryptKeys, ABlobOfTheWrongLengthIsRefused)
{
    std::vector<BYTE> blob = PublicBlob();
    blob.push_back(0);
    EXPECT_EQ(ImportError(blob), NTE_BAD_DATA);
    blob.resize(19);
    EXPECT_EQ(ImportError(blob), NTE_BAD_DATA);
}

struct TDerCase
{
    std::vector<BYTE> Der;
    DWORD Error;
};

class OsCryptKeyDecode : public testing::TestWithParam<TDerCase>
{
};

TEST_P(OsCryptKeyDecode, RefusesMalformedPublicKeysWithTheAsn1Error)
{
    DWORD size = 0;
    const std::vector<BYTE>& der = GetParam().Der;
    EXPECT_FALSE(CryptDecodeObjectEx(X509_ASN_ENCODING, CryptStructType(RSA_CSP_PUBLICKEYBLOB), der.data(),
        static_cast<DWORD>(der.size()), 0, nullptr, nullptr, &size));
    EXPECT_EQ(GetLastError(), GetParam().Error);
}

INSTANTIATE_TEST_SUITE_P(Encodings, OsCryptKeyDecode,
    testing::Values(TDerCase{{}, CRYPT_E_ASN1_EOD}, TDerCase{{0x30, 0x06, 0x02, 0x01}, CRYPT_E_ASN1_EOD},
        TDerCase{{0x30, 0x84, 0x7F}, CRYPT_E_ASN1_EOD}, TDerCase{{0x31, 0x00}, CRYPT_E_ASN1_BADTAG},
        TDerCase{{0x30, 0x80, 0x00, 0x00}, CRYPT_E_ASN1_CORRUPT},                      // indefinite
        TDerCase{{0x30, 0x06, 0x02, 0x01, 0xFF, 0x02, 0x01, 0x03}, CRYPT_E_ASN1_CORRUPT},  // negative
        TDerCase{{0x30, 0x06, 0x02, 0x01, 0x7F, 0x02, 0x00}, CRYPT_E_ASN1_EOD},
        TDerCase{{0x30, 0x07, 0x02, 0x01, 0x7F, 0x02, 0x00, 0x05, 0x00}, CRYPT_E_ASN1_CORRUPT},  // empty
        TDerCase{{0x30, 0x0A, 0x02, 0x01, 0x7F, 0x02, 0x05, 0x01, 0x00, 0x00, 0x00, 0x01}, CRYPT_E_ASN1_LARGE},
        TDerCase{{0x30, 0x08, 0x02, 0x01, 0x7F, 0x02, 0x01, 0x03, 0x05, 0x00}, CRYPT_E_ASN1_CORRUPT},
        TDerCase{{0x30, 0x06, 0x02, 0x01, 0x7F, 0x02, 0x01, 0x03}, NTE_BAD_KEY}));  // too short a key

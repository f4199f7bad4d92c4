#include "crypto/ixCryptHash.h"

#include <gtest/gtest.h>

#include <memory>
#include <string>

#include "crypto/ixCryptMac.h"
#include "support/ExpectError.h"

using namespace ix;

namespace {

TixByteArray Bytes(const std::string& AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

struct TVector
{
    const char* Algorithm;
    std::string Text;
    const char* Expected;
    std::string Key = {}; // HMAC only
};

// RFC 1321's "abc" and its longest text (more than one block), FIPS 180 "abc", and the HMAC-MD5 cases of RFC 2202.
const TVector Vectors[] = {
    {"md5", "abc", "900150983cd24fb0d6963f7d28e17f72"},
    {"md5", "12345678901234567890123456789012345678901234567890123456789012345678901234567890",
        "57edf4a22be3c955ac49da2e2107b67a"},
    {"md5", "\xE9", "3406877694691ddd1dfb0aca54681407"}, // one byte E9 (e acute in the ANSI code page)
    {"md5", "", ""},                                     // no text, no digest
    {"sha1", "abc", "a9993e364706816aba3e25717850c26c9cd0d89d"},
    {"sha256", "abc", "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
    {"hmac-md5", "Hi There", "9294727a3638bb1c13f48ef8158bfc9d", std::string(16, '\x0b')},
    {"hmac-md5", "what do ya want for nothing?", "750c783e6ab0b503eaa86e310a5db738", "Jefe"},
    {"hmac-md5", std::string(50, '\xdd'), "56be34521d144c88dbb8c733f0e8b3f6", std::string(16, '\xaa')},
    {"hmac-md5", std::string(50, '\xcd'), "697eaf0aca3a3aea3a75164746ffaa79",
        "\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19"},
    {"hmac-md5", "Test With Truncation", "56461ef2342edc00f9bab995690efd4c", std::string(16, '\x0c')},
    // Keys longer than the block are hashed first.
    {"hmac-md5", "Test Using Larger Than Block-Size Key - Hash Key First", "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd",
        std::string(80, '\xaa')},
    {"hmac-md5", "Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data",
        "6f630fad67cda0ee1fb1f562db3aa53e", std::string(80, '\xaa')},
    {"hmac-md5", "", "", "key"}, // an empty text or key gives an empty text
    {"hmac-md5", "text", "", ""},
};

} // namespace

TEST(Digests, GiveTheStandardValuesAndSizes)
{
    for (const TVector& v : Vectors)
    {
        const std::string algorithm = v.Algorithm;
        std::unique_ptr<TixHash> hash;
        if (algorithm == "md5")
        {
            EXPECT_EQ(Md5Hex(v.Text), v.Expected) << v.Text;
            hash = std::make_unique<TixMd5>();
        }
        else if (algorithm == "hmac-md5")
            EXPECT_EQ(HmacMd5(v.Text, v.Key), v.Expected) << v.Text;
        else if (algorithm == "sha1")
            hash = std::make_unique<TixSha1>();
        else
            hash = std::make_unique<TixSha256>();
        if (hash && !v.Text.empty())
        {
            hash->Init();
            hash->Update(Bytes(v.Text), 0, static_cast<int32_t>(v.Text.size()));
            TixByteArray digest;
            hash->Done(digest);
            EXPECT_EQ(LowerHex(digest), v.Expected) << algorithm << " of " << v.Text;
            EXPECT_EQ(hash->GetHashSize() * 2, static_cast<int32_t>(std::string(v.Expected).size())) << algorithm;
        }
    }
}

TEST(Digests, UpdatePiecesAndRangesAddUpToTheWholeDoneStartsAfreshAndUseBeforeInitRaises)
{
    TixMd5 md5;
    md5.Init();
    const TixByteArray text = Bytes("xxabcyy");
    md5.Update(text, 2, 1);
    md5.Update(text, 3, 2);
    md5.Update(text, 7, 5);    // past the end: nothing
    md5.Update(text, -1, 3);   // negative index: nothing
    TixByteArray digest;
    md5.Done(digest);
    EXPECT_EQ(LowerHex(digest), Md5Hex("abc"));

    // Done starts afresh: the next digest is of what comes after it, or of no data at all.
    md5.Update(text, 5, 100);   // clipped to "yy"
    md5.Done(digest);
    EXPECT_EQ(LowerHex(digest), Md5Hex("yy"));
    md5.Done(digest);
    EXPECT_EQ(LowerHex(digest), "d41d8cd98f00b204e9800998ecf8427e");

    // A hash object used before Init raises the provider's error.
    TixSha256 sha256;
    EXPECT_EQ(test::ExpectError<EixCryptError>([&] { sha256.Update(text, 0, 3); },
                  static_cast<int32_t>(ix::os::NTE_BAD_HASH)),
        "Bad Hash");
}

TEST(Hmac, KeyRangeIntegerUpdatesAndRepeatedCodesButNoCodeWithoutUpdate)
{
    const TixByteArray keyWithMargin{'x', 'J', 'e', 'f', 'e', 'y'};
    const TixByteArray data = Bytes("what do ya want for nothing?");
    TixHmacMd5 hmac;
    hmac.Init(keyWithMargin, 1, 4);
    hmac.Update(data, 0, static_cast<int32_t>(data.size()));
    TixByteArray code;
    hmac.Done(code);
    EXPECT_EQ(LowerHex(code), HmacMd5("what do ya want for nothing?", "Jefe"));

    // The key stays: the next code starts afresh with it.
    hmac.Update(data, 0, static_cast<int32_t>(data.size()));
    TixByteArray again;
    hmac.Done(again);
    EXPECT_EQ(again, code);

    // An integer is fed as four bytes, most significant first.
    const TixByteArray bytes{0x12, 0x34, 0x56, 0x78};
    hmac.Update(bytes, 0, 4);
    hmac.Done(code);
    hmac.Update(0x12345678);
    hmac.Done(again);
    EXPECT_EQ(again, code);

    hmac.Init(TixByteArray{'k'});
    EXPECT_THROW(hmac.Done(code), EixCryptError) << "done without update";
}

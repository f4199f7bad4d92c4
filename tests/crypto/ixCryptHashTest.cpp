#include "crypto/ixCryptHash.h"

#include <gtest/gtest.h>

#include <string>
#include <utility>

#include "support/ExpectError.h"

using namespace ix;

namespace {

TixByteArray Bytes(const std::string& AText)
{
    return TixByteArray(AText.begin(), AText.end());
}

std::string Digest(TixHash& AHash, const std::string& AText)
{
    AHash.Init();
    AHash.Update(Bytes(AText), 0, static_cast<int32_t>(AText.size()));
    TixByteArray digest;
    AHash.Done(digest);
    return LowerHex(digest);
}

} // namespace

TEST(Md5Hex, GivesTheRfc1321TestSuiteValuesOverTheEightBitBytes)
{
    const std::pair<std::string, std::string> table[] = {
        {"a", "0cc175b9c0f1b6a831c399e269772661"},
        {"abc", "900150983cd24fb0d6963f7d28e17f72"},
        {"message digest", "f96b697d7cb7938d525a2f31aaf161d0"},
        {"abcdefghijklmnopqrstuvwxyz", "c3fcd3d76192e4007dfb496cca67e13b"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "57edf4a22be3c955ac49da2e2107b67a"},
        {"\xE9", "3406877694691ddd1dfb0aca54681407"}, // one byte E9 (e acute in the ANSI code page)
        {"", ""}, // no text, no digest
    };
    for (const auto& [text, digest] : table)
        EXPECT_EQ(Md5Hex(text), digest) << text;
}

TEST(CryptApiHash, DigestsAreTheStandardOnesWithTheirSizes)
{
    TixMd5 md5;
    TixSha1 sha1;
    TixSha256 sha256;
    EXPECT_EQ(Digest(md5, "abc"), "900150983cd24fb0d6963f7d28e17f72");
    EXPECT_EQ(Digest(sha1, "abc"), "a9993e364706816aba3e25717850c26c9cd0d89d");
    EXPECT_EQ(Digest(sha256, "abc"), "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad");
    EXPECT_EQ(md5.GetHashSize(), 16);
    EXPECT_EQ(sha1.GetHashSize(), 20);
    EXPECT_EQ(sha256.GetHashSize(), 32);
}

TEST(CryptApiHash, TwoDoneInARowBothGiveTheEmptyInputDigest)
{
    TixSha1 sha1;
    sha1.Init();
    TixByteArray first;
    TixByteArray second;
    sha1.Done(first);
    sha1.Done(second);
    EXPECT_EQ(LowerHex(first), "da39a3ee5e6b4b0d3255bfef95601890afd80709");
    EXPECT_EQ(second, first);
}

TEST(CryptApiHash, UpdatePiecesAndRangesAddUpToTheWhole)
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
    EXPECT_EQ(LowerHex(digest), "900150983cd24fb0d6963f7d28e17f72");

    md5.Update(text, 5, 100);   // clipped to "yy"
    md5.Done(digest);
    EXPECT_EQ(LowerHex(digest), Md5Hex("yy"));
}

TEST(CryptApiHash, UpdateBeforeInitRaisesTheProviderError)
{
    TixSha256 sha256;
    EXPECT_EQ(test::ExpectError<EixCryptError>([&] { sha256.Update(Bytes("abc"), 0, 3); },
                  static_cast<int32_t>(ix::os::NTE_BAD_HASH)),
        "Bad Hash");
}

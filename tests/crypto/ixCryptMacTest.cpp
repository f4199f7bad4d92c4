#include "crypto/ixCryptMac.h"

#include "crypto/ixCryptHash.h"

#include <gtest/gtest.h>

#include <string>

using namespace ix;

TEST(HmacMd5, GivesTheRfc2202TestCaseValues)
{
    EXPECT_EQ(HmacMd5("Hi There", std::string(16, '\x0b')), "9294727a3638bb1c13f48ef8158bfc9d");
    EXPECT_EQ(HmacMd5("what do ya want for nothing?", "Jefe"), "750c783e6ab0b503eaa86e310a5db738");
    EXPECT_EQ(HmacMd5(std::string(50, '\xdd'), std::string(16, '\xaa')), "56be34521d144c88dbb8c733f0e8b3f6");
    std::string key4;
    for (char c = 1; c <= 25; ++c)
        key4 += c;
    EXPECT_EQ(HmacMd5(std::string(50, '\xcd'), key4), "697eaf0aca3a3aea3a75164746ffaa79");
    EXPECT_EQ(HmacMd5("Test With Truncation", std::string(16, '\x0c')), "56461ef2342edc00f9bab995690efd4c");
}

TEST(HmacMd5, HashesKeysLongerThanTheBlockFirst)
{
    const std::string key(80, '\xaa');
    EXPECT_EQ(HmacMd5("Test Using Larger Than Block-Size Key - Hash Key First", key),
        "6b1ab7fe4bd7bf8f0b62e6ce61b9d0cd");
    EXPECT_EQ(HmacMd5("Test Using Larger Than Block-Size Key and Larger Than One Block-Size Data", key),
        "6f630fad67cda0ee1fb1f562db3aa53e");
}

TEST(HmacMd5, EmptyTextOrKeyGivesAnEmptyText)
{
    EXPECT_EQ(HmacMd5("", "key"), "");
    EXPECT_EQ(HmacMd5("text", ""), "");
}

TEST(CryptApiHmac, KeyRangeIntegerUpdatesAndRepeatedCodes)
{
    const TixByteArray keyWithMargin{'x', 'J', 'e', 'f', 'e', 'y'};
    const std::string text = "what do ya want for nothing?";
    const TixByteArray data(text.begin(), text.end());
    TixHmacMd5 hmac;
    hmac.Init(keyWithMargin, 1, 4);
    hmac.Update(data, 0, static_cast<int32_t>(data.size()));
    TixByteArray code;
    hmac.Done(code);
    EXPECT_EQ(LowerHex(code), "750c783e6ab0b503eaa86e310a5db738");

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
}

TEST(CryptApiHmac, DoneWithoutUpdateRaisesTheHashParameterError)
{
    TixHmacMd5 hmac;
    hmac.Init(TixByteArray{'k'});
    TixByteArray code;
    EXPECT_THROW(hmac.Done(code), EixCryptError);
}

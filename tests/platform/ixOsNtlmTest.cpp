// The security interface's NTLM package: MD4, the messages against the worked NTLMv2 example
// of MS-NLMP (section 4.2.4), CHALLENGE parsing of hostile input, and the function table.
#include "platform/internal/ixOsNtlm.h"
#include "platform/ixOsSecurity.h"

#include <gtest/gtest.h>

#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <fstream>
#include <string>

namespace ix::os {
namespace {

using namespace internal;

std::string Hex(std::span<const uint8_t> ABytes)
{
    static const char digits[] = "0123456789abcdef";
    std::string text;
    for (const uint8_t byte : ABytes)
        text += {digits[byte >> 4], digits[byte & 15]};
    return text;
}

TNtlmBytes Unhex(std::string_view AText)
{
    TNtlmBytes bytes;
    for (size_t i = 0; i + 1 < AText.size(); i += 2)
        bytes.push_back(static_cast<uint8_t>(std::stoi(std::string(AText.substr(i, 2)), nullptr, 16)));
    return bytes;
}

// MS-NLMP 4.2.4: the server's CHALLENGE_MESSAGE and the client's AUTHENTICATE_MESSAGE.
constexpr std::string_view ExampleChallenge
    = "4e544c4d53535000020000000c000c003800000033828ae20123456789abcdef00000000000000002400240044000000"
      "060070170000000f53006500720076006500720002000c0044006f006d00610069006e0001000c00530065007200760065"
      "00720000000000";
constexpr std::string_view ExampleAuthenticate
    = "4e544c4d5353500003000000180018006c00000054005400840000000c000c00480000000800080054000000100010005c"
      "00000010001000d8000000358288e20501280a0000000f44006f006d00610069006e00550073006500720043004f004d00"
      "5000550054004500520086c35097ac9cec102554764a57cccc19aaaaaaaaaaaaaaaa68cd0ab851e51c96aabc927bebef6a"
      "1c01010000000000000000000000000000aaaaaaaaaaaaaaaa0000000002000c0044006f006d00610069006e0001000c00"
      "5300650072007600650072000000000000000000c5dad2544fc9799094ce1ce90bc9d03e";

TNtlmUser ExampleUser()
{
    return {"User", "Domain", NtlmPasswordHash("Password")};
}

TNtlmClientValues ExampleValues()
{
    TNtlmClientValues values;
    values.ClientChallenge.fill(0xAA);
    values.SessionKey.fill(0x55);
    values.Time = 0;
    values.Workstation = "COMPUTER";
    values.Version = {5, 1, 0x28, 0x0A, 0, 0, 0, 0x0F};
    return values;
}

TEST(NtlmPackage, Md4GivesTheVectorsOfRfc1320)
{
    const std::pair<std::string, std::string> table[] = {
        {"", "31d6cfe0d16ae931b73c59d7e0c089c0"},
        {"abc", "a448017aaf21d8525fc10ae87aa6729d"},
        {"ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789", "043f8582f241db351ce627e153e7f0e4"},
        {"12345678901234567890123456789012345678901234567890123456789012345678901234567890",
            "e33b4ddc9c38f2199c3e7b164fcc0536"},
    };
    for (const auto& [text, digest] : table)
        EXPECT_EQ(Hex(Md4(TNtlmBytes(text.begin(), text.end()))), digest) << '"' << text << '"';
}

// The answer to a server that sends a time stamp drops the LM response and puts that time in
// the blob; without target information the blob carries only the terminator.
TEST(NtlmPackage, AnswerToTheWorkedExampleIsByteExactAndTheBlobCarriesTheServersTimeStampOrOnlyTheTerminator)
{
    TNtlmChallenge challenge;
    ASSERT_TRUE(ParseNtlmChallenge(Unhex(ExampleChallenge), challenge));
    EXPECT_EQ(challenge.Flags, 0xE28A8233u);
    EXPECT_EQ(Hex(challenge.ServerChallenge), "0123456789abcdef");
    EXPECT_EQ(Hex(challenge.TargetInfo), "02000c0044006f006d00610069006e0001000c0053006500720076006500720000000000");
    EXPECT_FALSE(challenge.HasTimestamp);
    EXPECT_EQ(Hex(BuildNtlmAuthenticate(challenge, ExampleUser(), ExampleValues())), ExampleAuthenticate);

    // Target information: MsvAvTimestamp 0x0102030405060708, then the terminator.
    TNtlmBytes message = Unhex(ExampleChallenge);
    message.resize(0x44);
    const TNtlmBytes info = Unhex("07000800080706050403020100000000");
    message.insert(message.end(), info.begin(), info.end());
    message[40] = message[42] = static_cast<uint8_t>(info.size());
    ASSERT_TRUE(ParseNtlmChallenge(message, challenge));
    EXPECT_TRUE(challenge.HasTimestamp);
    EXPECT_EQ(challenge.Timestamp, 0x0102030405060708u);
    TNtlmBytes answer = BuildNtlmAuthenticate(challenge, ExampleUser(), ExampleValues());
    const size_t lmOffset = answer[16];
    EXPECT_EQ(Hex({answer.data() + lmOffset, 24}), std::string(48, '0')) << "the LM response is dropped";
    // The blob after NTProofStr: 0x0101, reserved, then the server's time.
    EXPECT_EQ(Hex({answer.data() + answer[24] + 16, 16}), "01010000000000000807060504030201");

    // An older server's 32-byte CHALLENGE, Unicode, no key exchange.
    ASSERT_TRUE(ParseNtlmChallenge(Unhex("4e544c4d53535000020000000000000000000000010200000123456789abcdef"), challenge));
    EXPECT_TRUE(challenge.TargetInfo.empty());
    TNtlmClientValues values = ExampleValues();
    values.Time = 0x1122334455667788;
    answer = BuildNtlmAuthenticate(challenge, ExampleUser(), values);
    const size_t ntLength = answer[20];
    ASSERT_EQ(ntLength, 16u + 28 + 4 + 4);
    EXPECT_EQ(Hex({answer.data() + answer[24] + 16, ntLength - 16}),
        "0101000000000000" "8877665544332211" "aaaaaaaaaaaaaaaa" "00000000" "00000000" "00000000");
    EXPECT_EQ(answer[52], 0) << "no encrypted session key without key exchange";
    EXPECT_EQ(answer[63] & 0x40, 0) << "no key exchange flag";
}

TEST(NtlmPackage, MalformedChallengesAreRefused)
{
    const TNtlmBytes good = Unhex(ExampleChallenge);
    const auto with = [&](size_t AAt, std::initializer_list<uint8_t> ABytes, size_t ASize = 0) {
        TNtlmBytes message = good;
        std::copy(ABytes.begin(), ABytes.end(), message.begin() + static_cast<ptrdiff_t>(AAt));
        if (ASize != 0)
            message.resize(ASize);
        return message;
    };
    const std::pair<const char*, TNtlmBytes> table[] = {
        {"empty", {}},
        {"shorter than the fixed part", TNtlmBytes(good.begin(), good.begin() + 31)},
        {"wrong signature", with(0, {'X'})},
        {"wrong type", with(8, {3})},
        {"target name past the end", with(16, {0xF0})},
        {"target name offset wraps", with(16, {0xFF, 0xFF, 0xFF, 0xFF})},
        {"target info past the end", with(40, {0x30, 0x00})},
        {"target info offset huge", with(44, {0xFF, 0xFF, 0xFF, 0x7F})},
        {"target info cut", TNtlmBytes(good.begin(), good.end() - 1)},
        {"AV pair longer than its field", with(0x44 + 2, {0x40})},
        {"no terminator", with(40, {0x20}, 0x44 + 0x20)},
    };
    for (const auto& [name, message] : table)
    {
        TNtlmChallenge challenge;
        EXPECT_FALSE(ParseNtlmChallenge(message, challenge)) << name;
    }
    // Well-formed target information too long for the answer's 16-bit length field.
    TNtlmBytes longInfo(good.begin(), good.begin() + 0x44);
    const size_t pair = 0xFFFF - 48 - 8 + 1;
    longInfo.insert(longInfo.end(), {1, 0, static_cast<uint8_t>(pair), static_cast<uint8_t>(pair >> 8)});
    longInfo.resize(longInfo.size() + pair + 4, 0);
    const size_t info = pair + 8;
    longInfo[40] = longInfo[42] = static_cast<uint8_t>(info);
    longInfo[41] = longInfo[43] = static_cast<uint8_t>(info >> 8);
    TNtlmChallenge challenge;
    EXPECT_FALSE(ParseNtlmChallenge(longInfo, challenge));
    longInfo[40] = longInfo[42] = static_cast<uint8_t>(info - 1); // one byte less: it fits
    longInfo[0x44 + 2] = static_cast<uint8_t>(pair - 1);
    EXPECT_TRUE(ParseNtlmChallenge(longInfo, challenge));
}

// ---- through the function table ---------------------------------------------------------------

class NtlmTable : public ::testing::Test
{
protected:
    void TearDown() override
    {
        if (FContext.dwLower != 0)
        {
            EXPECT_EQ(FTable->DeleteSecurityContext(&FContext), SEC_E_OK);
        }
        if (FCredential.dwLower != 0)
        {
            EXPECT_EQ(FTable->FreeCredentialsHandle(&FCredential), SEC_E_OK);
        }
        for (const char* name : {"NTLM_USER", "NTLM_DOMAIN", "NTLM_PASSWORD", "NTLM_CREDENTIALS_FILE"})
            ::unsetenv(name);
    }

    SECURITY_STATUS Acquire(SEC_WINNT_AUTH_IDENTITY_A* AIdentity)
    {
        return FTable->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(NTLMSP_NAME_A), SECPKG_CRED_OUTBOUND,
            nullptr, AIdentity, nullptr, nullptr, &FCredential, nullptr);
    }

    /// One step; the token made lands in AToken.
    SECURITY_STATUS Step(const TNtlmBytes& AInput, TNtlmBytes& AToken)
    {
        const bool first = FContext.dwLower == 0;
        SecBuffer in{static_cast<ULONG>(AInput.size()), SECBUFFER_TOKEN, const_cast<uint8_t*>(AInput.data())};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 1, &in};
        SecBuffer out{0, SECBUFFER_TOKEN, nullptr};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, &out};
        ULONG attributes = 0;
        const SECURITY_STATUS status = FTable->InitializeSecurityContextA(&FCredential, first ? nullptr : &FContext,
            const_cast<SEC_CHAR*>("server"), 0x1091F, 0, 0, first ? nullptr : &inDesc, 0, &FContext, &outDesc,
            &attributes, nullptr);
        const auto* bytes = static_cast<const uint8_t*>(out.pvBuffer);
        AToken.assign(bytes, bytes + (bytes == nullptr ? 0 : out.cbBuffer));
        FTable->FreeContextBuffer(out.pvBuffer);
        return status;
    }

    PSecurityFunctionTableA FTable = InitSecurityInterfaceA();
    CredHandle FCredential{};
    CtxtHandle FContext{};
};

// The identity record and the logged-on user from the environment (with or without a domain)
// log in to Cyrus SASL's NTLM (tests/pop3); here the credentials file, the messages' fixed parts
// and the end of the exchange.
TEST_F(NtlmTable, LoggedOnUserComesFromTheCredentialsFileAndAFinishedExchangeTakesNoMoreSteps)
{
    const std::string file = ::testing::TempDir() + "ntlm-credentials";
    std::ofstream(file) << "NTLM_USER=DOM/filed\r\nNTLM_PASSWORD=Password\n";
    ::setenv("NTLM_CREDENTIALS_FILE", file.c_str(), 1);
    ASSERT_EQ(Acquire(nullptr), SEC_E_OK);
    TNtlmBytes token;
    ASSERT_EQ(Step({}, token), SEC_I_CONTINUE_NEEDED);
    EXPECT_EQ(Hex(token), "4e544c4d53535000" "01000000" "378288e2" "0000000028000000" "0000000028000000"
                          "0a00614a0000000f");
    ASSERT_EQ(Step(Unhex(ExampleChallenge), token), SEC_E_OK);
    EXPECT_EQ(Hex(token).substr(0, 24), "4e544c4d5353500003000000");
    // Domain "DOM" and the user in UTF-16LE, one after the other.
    EXPECT_NE(Hex(token).find("44004f004d00" "660069006c0065006400"), std::string::npos);
    EXPECT_EQ(FTable->CompleteAuthToken(&FContext, nullptr), SEC_E_OK);
    EXPECT_EQ(Step(Unhex(ExampleChallenge), token), SEC_E_OUT_OF_SEQUENCE);
    std::remove(file.c_str());
    // Neither an empty identity nor an empty environment gives credentials.
    for (const char* name : {"NTLM_USER", "NTLM_PASSWORD", "NTLM_CREDENTIALS_FILE"})
        ::unsetenv(name);
    EXPECT_EQ(Acquire(nullptr), SEC_E_NO_CREDENTIALS); // the handle of the first stays as it was
    SEC_WINNT_AUTH_IDENTITY_A identity{nullptr, 0, nullptr, 0, nullptr, 0, SEC_WINNT_AUTH_IDENTITY_ANSI};
    EXPECT_EQ(Acquire(&identity), SEC_E_NO_CREDENTIALS);
}

} // namespace
} // namespace ix::os

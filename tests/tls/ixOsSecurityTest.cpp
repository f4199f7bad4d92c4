#include "platform/ixOsSecurity.h"

#include "platform/ixOsKernel.h"
#include "platform/ixOsModules.h"
#include "tls/TlsTestPeer.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace ix::os {
namespace {

using test::TestCertFile;
using test::TTlsTestServer;

PSecurityFunctionTableA Table()
{
    return InitSecurityInterfaceA();
}

constexpr ULONG ClientRequest = 0xC11C;

/// A client (or server) context of the security interface, driven the way Schannel's callers
/// drive it, with the results of the last call kept for the test to look at.
class TSspiPeer
{
public:
    struct TStep
    {
        SECURITY_STATUS Status;
        std::string Token;
        ULONG Extra = 0;
        ULONG Missing = 0;
        ULONG Attributes = 0;
    };

    explicit TSspiPeer(void* AAuthData) { Acquire(AAuthData); }

    /// A client with an SCH_CREDENTIALS block that disables ADisabledProtocols (0: none, so
    /// the system's protocols).
    explicit TSspiPeer(DWORD ADisabledProtocols = 0)
    {
        TLS_PARAMETERS parameters{};
        parameters.grbitDisabledProtocols = ADisabledProtocols;
        SCH_CREDENTIALS block{};
        block.dwVersion = SCH_CREDENTIALS_VERSION;
        block.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
        block.cTlsParameters = ADisabledProtocols == 0 ? 0 : 1;
        block.pTlsParameters = &parameters;
        Acquire(&block);
    }

    ~TSspiPeer()
    {
        if (FHasContext)
            Table()->DeleteSecurityContext(&FContext);
        if (FStatus == SEC_E_OK)
            Table()->FreeCredentialsHandle(&FCredentials);
    }

    SECURITY_STATUS CredentialStatus() const { return FStatus; }

    /// One handshake call with AInput as the received token.
    TStep Step(const std::string& AInput, const char* ATarget = "localhost")
    {
        std::string input = AInput;
        SecBuffer inBuffers[2] = {{static_cast<ULONG>(input.size()), SECBUFFER_TOKEN, input.data()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc inDesc{SECBUFFER_VERSION, 2, inBuffers};
        SecBuffer outBuffers[1] = {{0, SECBUFFER_TOKEN, nullptr}};
        SecBufferDesc outDesc{SECBUFFER_VERSION, 1, outBuffers};
        TStep step{};
        CtxtHandle* context = FHasContext ? &FContext : nullptr;
        step.Status = Table()->InitializeSecurityContextA(&FCredentials, context,
            const_cast<SEC_CHAR*>(ATarget), ClientRequest, 0, 0, FHasContext ? &inDesc : nullptr, 0,
            &FContext, &outDesc, &step.Attributes, nullptr);
        if (step.Status >= 0)
            FHasContext = true;
        step.Token.assign(static_cast<char*>(outBuffers[0].pvBuffer), outBuffers[0].cbBuffer);
        Table()->FreeContextBuffer(outBuffers[0].pvBuffer);
        if (inBuffers[1].BufferType == SECBUFFER_EXTRA)
            step.Extra = inBuffers[1].cbBuffer;
        if (inBuffers[1].BufferType == SECBUFFER_MISSING)
            step.Missing = inBuffers[1].cbBuffer;
        return step;
    }

    /// Runs the client's handshake against AServer; returns the last client step.
    TStep HandshakeWith(TTlsTestServer& AServer, const char* ATarget = "localhost")
    {
        TStep step = Step("", ATarget);
        while (step.Status == SEC_I_CONTINUE_NEEDED)
        {
            const std::string reply = AServer.Handshake(step.Token);
            step = Step(reply);
        }
        if (step.Status == SEC_E_OK)
            AServer.Finish(step.Token);
        return step;
    }

    std::string Encrypt(const std::string& AText)
    {
        SecPkgContext_StreamSizes sizes{};
        EXPECT_EQ(Table()->QueryContextAttributesA(&FContext, SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_OK);
        std::vector<char> buffer(sizes.cbHeader + AText.size() + sizes.cbTrailer);
        std::copy(AText.begin(), AText.end(), buffer.begin() + sizes.cbHeader);
        SecBuffer buffers[4] = {{sizes.cbHeader, SECBUFFER_STREAM_HEADER, buffer.data()},
            {static_cast<ULONG>(AText.size()), SECBUFFER_DATA, buffer.data() + sizes.cbHeader},
            {sizes.cbTrailer, SECBUFFER_STREAM_TRAILER, buffer.data() + sizes.cbHeader + AText.size()},
            {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        EXPECT_EQ(Table()->EncryptMessage(&FContext, 0, &desc, 0), SEC_E_OK);
        std::string record;
        for (int i = 0; i < 3; ++i)
            record.append(static_cast<char*>(buffers[i].pvBuffer), buffers[i].cbBuffer);
        return record;
    }

    struct TDecrypted
    {
        SECURITY_STATUS Status;
        std::string Text;
        std::string Extra;
    };

    /// One DecryptMessage call over ABytes.
    TDecrypted Decrypt(const std::string& ABytes)
    {
        std::string bytes = ABytes;
        SecBuffer buffers[4] = {{static_cast<ULONG>(bytes.size()), SECBUFFER_DATA, bytes.data()},
            {0, SECBUFFER_EMPTY, nullptr}, {0, SECBUFFER_EMPTY, nullptr}, {0, SECBUFFER_EMPTY, nullptr}};
        SecBufferDesc desc{SECBUFFER_VERSION, 4, buffers};
        TDecrypted result{Table()->DecryptMessage(&FContext, &desc, 0, nullptr), {}, {}};
        for (const SecBuffer& item : buffers)
        {
            if (item.BufferType == SECBUFFER_DATA && result.Status >= 0)
                result.Text.assign(static_cast<char*>(item.pvBuffer), item.cbBuffer);
            if (item.BufferType == SECBUFFER_EXTRA)
                result.Extra.assign(static_cast<char*>(item.pvBuffer), item.cbBuffer);
        }
        return result;
    }

    /// Decrypts every record of ABytes, one call each; returns the joined plaintext.
    std::string DecryptAll(const std::string& ABytes, SECURITY_STATUS* ALastStatus = nullptr)
    {
        std::string text;
        TDecrypted part{SEC_E_OK, {}, ABytes};
        while (!part.Extra.empty())
        {
            part = Decrypt(part.Extra);
            text += part.Text;
            EXPECT_GE(part.Status, 0);
        }
        if (ALastStatus != nullptr)
            *ALastStatus = part.Status;
        return text;
    }

    /// ApplyControlToken(SCHANNEL_SHUTDOWN) and the step that makes the close notification.
    std::string Shutdown()
    {
        DWORD token = SCHANNEL_SHUTDOWN;
        SecBuffer buffer{sizeof(token), SECBUFFER_TOKEN, &token};
        SecBufferDesc desc{SECBUFFER_VERSION, 1, &buffer};
        EXPECT_EQ(Table()->ApplyControlToken(&FContext, &desc), SEC_E_OK);
        const TStep step = Step("");
        EXPECT_EQ(step.Status, SEC_E_OK);
        return step.Token;
    }

    SecPkgContext_ConnectionInfo ConnectionInfo()
    {
        SecPkgContext_ConnectionInfo info{};
        EXPECT_EQ(Table()->QueryContextAttributesA(&FContext, SECPKG_ATTR_CONNECTION_INFO, &info), SEC_E_OK);
        return info;
    }

    CtxtHandle& Context() { return FContext; }

private:
    void Acquire(void* AAuthData)
    {
        FStatus = Table()->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A),
            SECPKG_CRED_OUTBOUND, nullptr, AAuthData, nullptr, nullptr, &FCredentials, nullptr);
    }

    SECURITY_STATUS FStatus;
    CredHandle FCredentials{};
    CtxtHandle FContext{};
    bool FHasContext = false;
};

// ---- loading and packages ---------------------------------------------------------------------

TEST(SecurityInterface, EachSecurityModuleNameLoadsAndExportsTheInitRoutineUntilFreed)
{
    for (const char* name : {"security.dll", "schannel.dll", "SECUR32.DLL"})
    {
        const HMODULE module = LoadLibraryA(name);
        ASSERT_GT(reinterpret_cast<uintptr_t>(module), 32u) << name;
        const auto init = reinterpret_cast<INIT_SECURITY_INTERFACE_A>(
            GetProcAddress(module, "InitSecurityInterfaceA"));
        ASSERT_NE(init, nullptr);
        EXPECT_EQ(init(), InitSecurityInterfaceA());
        EXPECT_EQ(GetProcAddress(module, "NoSuchFunction"), nullptr);
        EXPECT_EQ(GetLastError(), ERROR_PROC_NOT_FOUND);
        EXPECT_EQ(FreeLibrary(module), TRUE);
        // A freed handle is refused.
        EXPECT_EQ(GetProcAddress(module, "InitSecurityInterfaceA"), nullptr);
        EXPECT_EQ(FreeLibrary(module), FALSE);
        EXPECT_EQ(GetLastError(), ERROR_INVALID_HANDLE);
    }
    EXPECT_EQ(LoadLibraryA("nosuch.dll"), nullptr);
    EXPECT_EQ(GetLastError(), ERROR_MOD_NOT_FOUND);
}

TEST(SecurityInterface, PackagesAreSchannelAndNtlm)
{
    ULONG count = 0;
    PSecPkgInfoA packages = nullptr;
    ASSERT_EQ(Table()->EnumerateSecurityPackagesA(&count, &packages), SEC_E_OK);
    ASSERT_EQ(count, 2u);
    EXPECT_STREQ(packages[0].Name, "Microsoft Unified Security Protocol Provider");
    EXPECT_STREQ(packages[1].Name, "NTLM");
    EXPECT_EQ(Table()->FreeContextBuffer(packages), SEC_E_OK);
    EXPECT_EQ(Table()->FreeContextBuffer(packages), SEC_E_INVALID_HANDLE);
}

TEST(SecurityInterface, CredentialsAreRefusedForUnknownPackagesBlocksAndProtocols)
{
    CredHandle handle{};
    SCHANNEL_CRED block{};
    block.dwVersion = SCHANNEL_CRED_VERSION;
    const auto acquire = [&](const char* APackage, void* AData, ULONG AUse = SECPKG_CRED_OUTBOUND) {
        return Table()->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(APackage), AUse,
            nullptr, AData, nullptr, nullptr, &handle, nullptr);
    };
    EXPECT_EQ(acquire("Microsoft SSL 3.0", &block), SEC_E_SECPKG_NOT_FOUND);
    EXPECT_EQ(acquire("NTLM", nullptr, SECPKG_CRED_INBOUND), SEC_E_UNSUPPORTED_FUNCTION); // client side only
    block.grbitEnabledProtocols = SP_PROT_SSL2_CLIENT;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block), SEC_E_ALGORITHM_MISMATCH);
    block.grbitEnabledProtocols = 0;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block, SECPKG_CRED_INBOUND), SEC_E_NO_CREDENTIALS);
    block.dwVersion = 3;
    EXPECT_EQ(acquire(UNISP_NAME_A, &block), SEC_E_UNKNOWN_CREDENTIALS);
    EXPECT_EQ(Table()->FreeCredentialsHandle(&handle), SEC_E_INVALID_HANDLE);
}

// ---- handshakes -------------------------------------------------------------------------------

TEST(SecurityHandshakeForms, VersionFourBlockStopsAtTls12AndItsBitsChooseTheVersions)
{
    SCHANNEL_CRED block{};
    block.dwVersion = SCHANNEL_CRED_VERSION;
    block.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION;
    {
        TSspiPeer client(&block);
        TTlsTestServer server(13);
        ASSERT_EQ(client.HandshakeWith(server).Status, SEC_E_OK);
        EXPECT_EQ(server.Version(), 12);
    }
    block.grbitEnabledProtocols = SP_PROT_TLS1_3_CLIENT;
    TSspiPeer client(&block);
    TTlsTestServer server(12);
    EXPECT_EQ(client.HandshakeWith(server).Status, SEC_E_ALGORITHM_MISMATCH);
}

TEST(SecurityHandshakeForms, CorruptHandshakeRecordFailsWithAnAlertForThePeer)
{
    TSspiPeer client;
    TTlsTestServer server(13);
    std::string flight = server.Handshake(client.Step("").Token);
    flight[flight.size() - 3] ^= 0x01;  // inside the last encrypted record
    const TSspiPeer::TStep step = client.Step(flight);
    EXPECT_EQ(step.Status, SEC_E_DECRYPT_FAILURE);
    EXPECT_EQ(step.Attributes & ISC_RET_EXTENDED_ERROR, ISC_RET_EXTENDED_ERROR);
    EXPECT_FALSE(step.Token.empty()) << "the alert goes to the peer";
    EXPECT_EQ(client.Step(flight).Status, SEC_E_DECRYPT_FAILURE) << "the context stays failed";
}

TEST(SecurityHandshakeForms, ServerNameIsIndicatedForHostNamesOnly)
{
    for (const auto& [target, expected] : std::vector<std::pair<const char*, std::string>>{
             {"localhost", "localhost"}, {"mail.example.org.", "mail.example.org"},
             {"127.0.0.1", ""}, {"::1", ""}, {"45123.5", ""}})
    {
        TSspiPeer client;
        TTlsTestServer server(13);
        ASSERT_EQ(client.HandshakeWith(server, target).Status, SEC_E_OK) << target;
        EXPECT_EQ(server.ServerName(), expected) << target;
    }
}

TEST(SecurityHandshakeForms, IncompleteTokenAsksForMoreAndKeepsNothing)
{
    TSspiPeer client;
    TTlsTestServer server(13);
    const std::string flight = server.Handshake(client.Step("").Token);
    // Every proper prefix of the first record is refused without being consumed.
    for (size_t cut : {size_t(1), size_t(4), size_t(5), size_t(40)})
    {
        const TSspiPeer::TStep step = client.Step(flight.substr(0, cut));
        EXPECT_EQ(step.Status, SEC_E_INCOMPLETE_MESSAGE) << cut;
        EXPECT_GT(step.Missing, 0u) << cut;
    }
    TSspiPeer::TStep step = client.Step(flight);
    ASSERT_EQ(step.Status, SEC_E_OK);
    server.Handshake(step.Token);
    EXPECT_TRUE(server.HandshakeDone());
}

// ---- records ----------------------------------------------------------------------------------

/// A client context of the parameter's version (12 or 13) after its handshake with a TLS 1.3
/// server.
class SecurityRecords : public testing::TestWithParam<int>
{
protected:
    void SetUp() override { ASSERT_EQ(FClient.HandshakeWith(FServer).Status, SEC_E_OK); }

    TSspiPeer FClient{GetParam() == 12 ? DWORD(SP_PROT_TLS1_3_CLIENT) : DWORD(0)};
    TTlsTestServer FServer{13};
};

TEST_P(SecurityRecords, NegotiatedVersionCarriesRecordsBothWays)
{
    EXPECT_EQ(FServer.Version(), GetParam());
    EXPECT_EQ(FClient.ConnectionInfo().dwProtocol,
        GetParam() == 12 ? DWORD(SP_PROT_TLS1_2_CLIENT) : DWORD(SP_PROT_TLS1_3_CLIENT));
    EXPECT_EQ(FServer.Read(FClient.Encrypt("hello server")), "hello server");
    EXPECT_EQ(FClient.DecryptAll(FServer.Write("hello client")), "hello client");
}

TEST_P(SecurityRecords, CloseNotificationEndsTheContextBothWays)
{
    SECURITY_STATUS status = SEC_E_OK;
    std::string bytes = FServer.Write("bye");
    bytes += FServer.Close();
    EXPECT_EQ(FClient.DecryptAll(bytes, &status), "bye");
    EXPECT_EQ(status, SEC_I_CONTEXT_EXPIRED);
    EXPECT_EQ(FClient.Decrypt(FServer.Write("late")).Status, SEC_E_CONTEXT_EXPIRED);
    const std::string notify = FClient.Shutdown();
    ASSERT_FALSE(notify.empty());
    FServer.Read(notify);
    EXPECT_TRUE(FServer.PeerClosed());
}

TEST_P(SecurityRecords, BadRecordFailsTheContext)
{
    std::string record = FServer.Write("secret");
    record[record.size() - 1] ^= 0x20;
    SECURITY_STATUS status = SEC_E_OK;
    for (TSspiPeer::TDecrypted part{SEC_E_OK, {}, record}; !part.Extra.empty();)
        status = (part = FClient.Decrypt(part.Extra)).Status;
    EXPECT_EQ(status, SEC_E_DECRYPT_FAILURE);
    EXPECT_EQ(FClient.Decrypt(FServer.Write("more")).Status, SEC_E_DECRYPT_FAILURE);
}

TEST_P(SecurityRecords, StreamSizesBoundEveryRecord)
{
    SecPkgContext_StreamSizes sizes{};
    ASSERT_EQ(Table()->QueryContextAttributesA(&FClient.Context(), SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_OK);
    EXPECT_EQ(sizes.cbMaximumMessage, 16384u);
    EXPECT_EQ(sizes.cBuffers, 4u);
    const std::string record = FClient.Encrypt(std::string(16384, 'y'));
    EXPECT_LE(record.size(), sizes.cbHeader + 16384 + sizes.cbTrailer);
    EXPECT_EQ(FServer.Read(record), std::string(16384, 'y'));
}

INSTANTIATE_TEST_SUITE_P(Versions, SecurityRecords, testing::Values(12, 13),
    [](const auto& AInfo) { return "Tls" + std::to_string(AInfo.param); });

TEST(SecurityInterface, KeyUpdateIsAbsorbedAndAnsweredBeforeTheNextRecord)
{
    TSspiPeer client;
    TTlsTestServer server(13);
    ASSERT_EQ(client.HandshakeWith(server).Status, SEC_E_OK);
    SECURITY_STATUS status = SEC_E_CONTEXT_EXPIRED;
    std::string bytes = server.KeyUpdate();
    bytes += server.Write("after update");
    EXPECT_EQ(client.DecryptAll(bytes, &status), "after update");
    EXPECT_EQ(status, SEC_E_OK);
    // The client's reply travels in front of its next record; the server reads both.
    EXPECT_EQ(server.Read(client.Encrypt("first")), "first");
    EXPECT_EQ(server.Read(client.Encrypt("second")), "second");
    EXPECT_EQ(client.DecryptAll(server.Write("still fine")), "still fine");
}

TEST(SecurityInterface, BogusContextHandlesAreRefused)
{
    CtxtHandle bogus{12345, 0x43545854};
    SecPkgContext_StreamSizes sizes{};
    EXPECT_EQ(Table()->QueryContextAttributesA(&bogus, SECPKG_ATTR_STREAM_SIZES, &sizes), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->DeleteSecurityContext(&bogus), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->EncryptMessage(&bogus, 0, nullptr, 0), SEC_E_INVALID_HANDLE);
    EXPECT_EQ(Table()->DecryptMessage(&bogus, nullptr, 0, nullptr), SEC_E_INVALID_HANDLE);
}

}  // namespace
}  // namespace ix::os

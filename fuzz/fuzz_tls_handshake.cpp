// Arbitrary bytes as the server's answer to a client hello, through the security interface's
// record framing and handshake: every outcome must be a status (incomplete, continue, a
// failure with its alert), never a crash, a hang or a read outside the input. The first byte
// chooses where the bytes are cut into two deliveries, as a split socket read would cut them.
#include "FuzzInput.h"
#include "platform/ixOsSecurity.h"

namespace {

using namespace ix::os;

SECURITY_STATUS Step(PSecurityFunctionTableA ATable, CredHandle& ACred, CtxtHandle* AContext,
    CtxtHandle& ANewContext, std::string AInput)
{
    SecBuffer in[2] = {{static_cast<ULONG>(AInput.size()), SECBUFFER_TOKEN, AInput.data()},
        {0, SECBUFFER_EMPTY, nullptr}};
    SecBufferDesc inDesc{SECBUFFER_VERSION, 2, in};
    SecBuffer out[1] = {{0, SECBUFFER_TOKEN, nullptr}};
    SecBufferDesc outDesc{SECBUFFER_VERSION, 1, out};
    ULONG attributes = 0;
    const SECURITY_STATUS status = ATable->InitializeSecurityContextA(&ACred, AContext,
        const_cast<SEC_CHAR*>("localhost"), 0xC11C, 0, 0, AContext == nullptr ? nullptr : &inDesc,
        0, &ANewContext, &outDesc, &attributes, nullptr);
    ATable->FreeContextBuffer(out[0].pvBuffer);
    return status;
}

}  // namespace

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const PSecurityFunctionTableA table = InitSecurityInterfaceA();
    SCH_CREDENTIALS block{};
    block.dwVersion = SCH_CREDENTIALS_VERSION;
    block.dwFlags = SCH_CRED_MANUAL_CRED_VALIDATION | SCH_CRED_NO_DEFAULT_CREDS;
    CredHandle credentials{};
    if (table->AcquireCredentialsHandleA(nullptr, const_cast<SEC_CHAR*>(UNISP_NAME_A),
            SECPKG_CRED_OUTBOUND, nullptr, &block, nullptr, nullptr, &credentials, nullptr) != SEC_E_OK)
        return;
    CtxtHandle context{};
    if (Step(table, credentials, nullptr, context, {}) == SEC_I_CONTINUE_NEEDED)
    {
        const std::string bytes = ix::fuzz::Text(AData, ASize, 1);
        const size_t cut = bytes.empty() ? 0 : AData[0] % (bytes.size() + 1);
        SECURITY_STATUS status = Step(table, credentials, &context, context, bytes.substr(0, cut));
        if (status == SEC_E_INCOMPLETE_MESSAGE || status == SEC_I_CONTINUE_NEEDED)
            Step(table, credentials, &context, context, bytes);
        table->DeleteSecurityContext(&context);
    }
    table->FreeCredentialsHandle(&credentials);
}

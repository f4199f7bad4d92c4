// Arbitrary bytes as an NTLM CHALLENGE message from the server: parsing must refuse or accept
// without reading outside the input, and an accepted message must give an answer whose size
// follows from what was accepted.
#include "FuzzInput.h"
#include "platform/internal/ixOsNtlm.h"

using namespace ix;
using namespace ix::os::internal;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    TNtlmChallenge challenge;
    if (!ParseNtlmChallenge({AData, ASize}, challenge))
        return;
    fuzz::Require(challenge.TargetInfo.size() <= ASize);
    TNtlmUser user{"user", "DOMAIN", {}};
    TNtlmClientValues values;
    values.Workstation = "HOST";
    const TNtlmBytes answer = BuildNtlmAuthenticate(challenge, user, values);
    // Header, texts (Unicode or not), LM response, NTProofStr and blob, at most a 16-byte key.
    const size_t blob = 28 + (challenge.TargetInfo.empty() ? 4 : challenge.TargetInfo.size()) + 4;
    fuzz::Require(answer.size() >= 72 + 10 + 24 + 16 + blob && answer.size() <= 72 + 28 + 24 + 16 + blob + 16);
}

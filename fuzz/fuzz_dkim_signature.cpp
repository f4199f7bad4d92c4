// Arbitrary bytes as the value of a DKIM-Signature field, and as a message whose header and
// body are canonicalized both ways over the names of its h tag. The only failure allowed is
// EixDkimError; a field that parses must build into a message again.
#include <cstddef>
#include <cstdint>
#include <string>

#include "dkim/ixDkimCanonicalizer.h"
#include "dkim/ixDkimSignature.h"
#include "message/ixIdnTranslator.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string input(reinterpret_cast<const char*>(AData), ASize);
    ix::TixDkimSignature signature;
    try {
        signature.Parse(input);
    } catch (const ix::EixDkimError&) {
        return 0;
    }
    ix::TStringList message;
    message.SetText(input);
    ix::TixDkimSimpleCanonicalizer simple;
    ix::TixDkimRelaxedCanonicalizer relaxed;
    for (ix::TixDkimCanonicalizer* canonicalizer : {static_cast<ix::TixDkimCanonicalizer*>(&simple),
             static_cast<ix::TixDkimCanonicalizer*>(&relaxed)}) {
        canonicalizer->CanonicalizeHeader(message, signature.SignedHeaderFields);
        canonicalizer->CanonicalizeBody(message);
    }
    try {
        signature.GetHashAlgorithm();
        signature.Build(message, 76);
        signature.SetSignatureValue(message, 76);
    } catch (const ix::EixDkimError&) {
    } catch (const ix::EixIdnError&) {
    }
    return 0;
}

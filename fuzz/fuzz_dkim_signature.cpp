// Arbitrary bytes as the value of a DKIM-Signature field, and as a message whose header and
// body are canonicalized both ways over the names of its h tag. The only failure allowed is
// EixDkimError; a field that parses must build into a message again.
#include "FuzzInput.h"
#include "dkim/ixDkimCanonicalizer.h"
#include "dkim/ixDkimSignature.h"
#include "message/ixIdnTranslator.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string input = fuzz::Text(AData, ASize);
    TixDkimSignature signature;
    if (!fuzz::Completes<EixDkimError>([&] { signature.Parse(input); }))
        return;
    TStringList message;
    message.SetText(input);
    TixDkimSimpleCanonicalizer simple;
    TixDkimRelaxedCanonicalizer relaxed;
    for (TixDkimCanonicalizer* canonicalizer : {static_cast<TixDkimCanonicalizer*>(&simple),
             static_cast<TixDkimCanonicalizer*>(&relaxed)}) {
        canonicalizer->CanonicalizeHeader(message, signature.SignedHeaderFields);
        canonicalizer->CanonicalizeBody(message);
    }
    fuzz::Completes<EixDkimError, EixIdnError>([&] {
        signature.GetHashAlgorithm();
        signature.Build(message, 76);
        signature.SetSignatureValue(message, 76);
    });
}

// Arbitrary bytes as a DNS reply. The only failure allowed is EixDnsError (malformed bytes, -1,
// or the response code of a well-formed reply). A message that parses is built again into a
// 64 KB buffer, where the only failures allowed are EixDnsError and the conversion error of an
// A record text, and the built form must parse to the same number of records.
#include <span>

#include "FuzzInput.h"
#include "core/ixStreams.h"
#include "dns/ixDnsMessage.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    TixDnsMessage message;
    TMemoryStream built;
    if (!fuzz::Completes<EixDnsError>([&] { message.Parse(std::span<const uint8_t>(AData, ASize)); }) ||
        !fuzz::Completes<EixDnsError, EConvertError>([&] { message.Build(built, 65535); }))
        return;
    TixDnsMessage copy;
    copy.Parse(std::span<const uint8_t>(built.Memory(), static_cast<size_t>(built.Size())));
    fuzz::Require(copy.GetAnswers().Count() == message.GetAnswers().Count() &&
        copy.GetAdditionalRecords().Count() == message.GetAdditionalRecords().Count());
}

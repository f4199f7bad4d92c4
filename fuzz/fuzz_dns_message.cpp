// Arbitrary bytes as a DNS reply. The only failure allowed is EixDnsError (malformed bytes, -1,
// or the response code of a well-formed reply). A message that parses is built again into a
// 64 KB buffer, where the only failures allowed are EixDnsError and the conversion error of an
// A record text, and the built form must parse to the same number of records.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <span>

#include "core/ixStreams.h"
#include "dns/ixDnsMessage.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    ix::TixDnsMessage message;
    try
    {
        message.Parse(std::span<const uint8_t>(AData, ASize));
    }
    catch (const ix::EixDnsError&)
    {
        return 0;
    }
    ix::TMemoryStream built;
    try
    {
        message.Build(built, 65535);
    }
    catch (const ix::EixDnsError&)
    {
        return 0;
    }
    catch (const ix::EConvertError&)
    {
        return 0;
    }
    ix::TixDnsMessage copy;
    copy.Parse(std::span<const uint8_t>(built.Memory(), static_cast<size_t>(built.Size())));
    if (copy.GetAnswers().Count() != message.GetAnswers().Count()
        || copy.GetAdditionalRecords().Count() != message.GetAdditionalRecords().Count())
        std::abort();
    return 0;
}

// Arbitrary text through the mail date, time and zone readers: the only failure allowed is
// the conversion error (EConvertError); anything else escapes and stops the fuzzer.
#include <ctime>

#include "FuzzInput.h"
#include "core/ixSysUtils.h"
#include "util/ixUtils.h"

using namespace ix;

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string text = fuzz::Text(AData, ASize);
    TDateTime date = 0;
    TDateTime zone = 0;
    fuzz::Completes<EConvertError>([&] { ParseMailDate(text, date, zone); });
    fuzz::Completes<EConvertError>([&] { ParseTime(text); });
    const TDateTime offset = ParseTimeZone(text);
    fuzz::Require(offset > -1 && offset < 1);
}

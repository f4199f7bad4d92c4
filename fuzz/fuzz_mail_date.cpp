// Arbitrary text through the mail date, time and zone readers: the only failure allowed is
// the conversion error (EConvertError); anything else escapes and stops the fuzzer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <ctime>
#include <string_view>

#include "core/ixSysUtils.h"
#include "util/ixUtils.h"

extern "C" int LLVMFuzzerInitialize(int*, char***)
{
    setenv("TZ", "CET-1CEST,M3.5.0,M10.5.0/3", 1);
    tzset();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    const std::string_view text(reinterpret_cast<const char*>(AData), ASize);
    ix::TDateTime date = 0;
    ix::TDateTime zone = 0;
    try {
        ix::ParseMailDate(text, date, zone);
    } catch (const ix::EConvertError&) {
    }
    try {
        ix::ParseTime(text);
    } catch (const ix::EConvertError&) {
    }
    const ix::TDateTime offset = ix::ParseTimeZone(text);
    if (offset <= -1 || offset >= 1)
        __builtin_trap();
    return 0;
}

// Selecting the local time zone (TZ) in tests: for one scope, then the setting before comes back.
#pragma once

#include <stdlib.h>
#include <time.h>

#include <optional>
#include <string>

namespace ix::test {

/// Selects AZone ("CET-1CEST,M3.5.0,M10.5.0/3", "EST5"...) as the local time zone (TZ) until the
/// end of the scope, then restores the one before.
class TTimeZoneScope
{
public:
    explicit TTimeZoneScope(const char* AZone)
    {
        if (const char* saved = ::getenv("TZ"))
            FSaved = saved;
        ::setenv("TZ", AZone, 1);
        ::tzset();
    }
    ~TTimeZoneScope()
    {
        if (FSaved)
            ::setenv("TZ", FSaved->c_str(), 1);
        else
            ::unsetenv("TZ");
        ::tzset();
    }
    TTimeZoneScope(const TTimeZoneScope&) = delete;
    TTimeZoneScope& operator=(const TTimeZoneScope&) = delete;

private:
    std::optional<std::string> FSaved;
};

} // namespace ix::test

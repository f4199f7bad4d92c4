// Arbitrary bytes as a DKIM key record. The only failure allowed is EixDkimError; a record that
// parses builds into a record that parses to the same fields.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "dkim/ixDkimKey.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* AData, size_t ASize)
{
    ix::TixDkimKey key;
    try {
        key.Parse(std::string(reinterpret_cast<const char*>(AData), ASize));
    } catch (const ix::EixDkimError&) {
        return 0;
    }
    std::string first;
    key.Build(first);
    ix::TixDkimKey again;
    again.Parse(first);
    std::string second;
    again.Build(second);
    if (first != second)
        std::abort();
    return 0;
}

// Arbitrary bytes as a DKIM key record. The only failure allowed is EixDkimError; a record that
// parses builds into a record that parses to the same fields.
#include "FuzzInput.h"
#include "dkim/ixDkimKey.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    TixDkimKey key;
    if (!fuzz::Completes<EixDkimError>([&] { key.Parse(fuzz::Text(AData, ASize)); }))
        return;
    std::string first;
    key.Build(first);
    TixDkimKey again;
    again.Parse(first);
    std::string second;
    again.Build(second);
    fuzz::Require(first == second);
}

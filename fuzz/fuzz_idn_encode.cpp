// Domain encoding of arbitrary 8-bit text: never crashes; the result is ASCII, or the overflow
// error is raised; an all-ASCII domain without control characters comes back unchanged.
#include "FuzzInput.h"
#include "message/ixIdnTranslator.h"

using namespace ix;

void ix::fuzz::CheckInput(const uint8_t* AData, size_t ASize)
{
    const std::string domain = fuzz::Text(AData, ASize);
    std::string encoded;
    try {
        encoded = TixIdnTranslator::EncodeDomain(domain);
    } catch (const EixIdnError& e) {
        fuzz::Require(e.Message() == "Input value needs wider integers to translate");
        return;
    }
    fuzz::Require(TixIdnTranslator::IsAscii(encoded));
    const bool plain = TixIdnTranslator::IsAscii(domain)
        && domain.find_first_of(std::string("\x01\x02\x03\x04\x05\x06\x07\x08\x0A\x0B\x0C\x0D\x0E\x0F"
                                            "\x10\x11\x12\x13\x14\x15\x16\x17\x18\x19\x1A\x1B\x1C\x1D\x1E\x1F", 30))
            == std::string::npos;
    fuzz::Require(!plain || encoded == domain);
}

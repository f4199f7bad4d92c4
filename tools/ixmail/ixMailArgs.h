#pragma once
// Command-line arguments of ixmail: options ("--name value" or "--name=value", and switches)
// and the positional arguments around them.

#include <map>
#include <set>
#include <stdexcept>
#include <string>
#include <vector>

namespace ixmail {

/// Bad usage: reported with the command's usage and exit status 2.
class TUsageError : public std::runtime_error
{
public:
    using std::runtime_error::runtime_error;
};

/// The arguments of one subcommand.
class TArgs
{
public:
    /// Splits AArgs; ASwitches are the options that take no value. An option that is neither a
    /// switch nor in AValued raises TUsageError.
    TArgs(const std::vector<std::string>& AArgs, const std::set<std::string>& ASwitches,
        const std::set<std::string>& AValued);

    bool Has(const std::string& AName) const { return FSwitches.contains(AName) || FValues.contains(AName); }
    /// The option's value, else ADefault.
    std::string Value(const std::string& AName, const std::string& ADefault = {}) const;
    /// The option's value; TUsageError when it is missing.
    std::string Required(const std::string& AName) const;
    /// The option's value as a whole number in [AMin, AMax]; TUsageError otherwise.
    int Number(const std::string& AName, int ADefault, int AMin, int AMax) const;
    const std::vector<std::string>& Positional() const noexcept { return FPositional; }

private:
    std::set<std::string> FSwitches;
    std::map<std::string, std::string> FValues;
    std::vector<std::string> FPositional;
};

/// The bytes of AFile ("-": standard input); EixCodedError "Cannot open AWhat ..." (2) when it
/// is no readable file.
std::string ReadWholeFile(const std::string& AFile, const char* AWhat);

/// AText with '"' and '\\' escaped by a backslash, and every byte that AKeep refuses written
/// through the printf format AFormat; the whole in double quotes.
std::string Quoted(std::string_view AText, bool (*AKeep)(unsigned char), const char* AFormat);

/// AValue as one of AChoices (their index); otherwise TUsageError "AWhat takes one of ...".
size_t Choice(const std::string& AWhat, const std::string& AValue, const std::vector<std::string>& AChoices);

} // namespace ixmail

#include "ixMailArgs.h"

#include "core/ixSysUtils.h"

#include <charconv>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <sstream>
#include <cstdio>

namespace ixmail {

TArgs::TArgs(const std::vector<std::string>& AArgs, const std::set<std::string>& ASwitches,
    const std::set<std::string>& AValued)
{
    for (size_t i = 0; i < AArgs.size(); ++i)
    {
        const std::string& arg = AArgs[i];
        if (!arg.starts_with("--") || arg == "--")
        {
            FPositional.push_back(arg);
            continue;
        }
        const size_t equals = arg.find('=');
        const std::string name = arg.substr(2, equals == std::string::npos ? std::string::npos : equals - 2);
        if (ASwitches.contains(name) && equals == std::string::npos)
            FSwitches.insert(name);
        else if (!AValued.contains(name))
            throw TUsageError("unknown option --" + name);
        else if (equals != std::string::npos)
            FValues[name] = arg.substr(equals + 1);
        else if (i + 1 < AArgs.size())
            FValues[name] = AArgs[++i];
        else
            throw TUsageError("option --" + name + " needs a value");
    }
}

std::string TArgs::Value(const std::string& AName, const std::string& ADefault) const
{
    const auto at = FValues.find(AName);
    return at == FValues.end() ? ADefault : at->second;
}

std::string TArgs::Required(const std::string& AName) const
{
    if (!FValues.contains(AName))
        throw TUsageError("option --" + AName + " is required");
    return Value(AName);
}

int TArgs::Number(const std::string& AName, int ADefault, int AMin, int AMax) const
{
    if (!FValues.contains(AName))
        return ADefault;
    const std::string text = Value(AName);
    int value = 0;
    const auto [end, error] = std::from_chars(text.data(), text.data() + text.size(), value);
    if (error != std::errc() || end != text.data() + text.size() || value < AMin || value > AMax)
        throw TUsageError("option --" + AName + " needs a number from " + std::to_string(AMin) + " to " +
            std::to_string(AMax));
    return value;
}

std::string ReadWholeFile(const std::string& AFile, const char* AWhat)
{
    std::ostringstream bytes;
    if (AFile == "-")
    {
        bytes << std::cin.rdbuf();
        return bytes.str();
    }
    std::ifstream file(AFile, std::ios::binary);
    if (!file || !std::filesystem::is_regular_file(AFile))
        throw ix::EixCodedError(std::string("Cannot open ") + AWhat + " \"" + AFile + "\"", 2);
    bytes << file.rdbuf();
    return bytes.str();
}

std::string Quoted(std::string_view AText, bool (*AKeep)(unsigned char), const char* AFormat)
{
    std::string result = "\"";
    for (const char c : AText)
    {
        const auto byte = static_cast<unsigned char>(c);
        if (c == '"' || c == '\\')
            result += std::string("\\") + c;
        else if (!AKeep(byte))
        {
            char escape[16];
            std::snprintf(escape, sizeof escape, AFormat, static_cast<unsigned>(byte));
            result += escape;
        }
        else
            result += c;
    }
    return result + "\"";
}

size_t Choice(const std::string& AWhat, const std::string& AValue, const std::vector<std::string>& AChoices)
{
    for (size_t i = 0; i < AChoices.size(); ++i)
        if (AChoices[i] == AValue)
            return i;
    std::string list;
    for (const std::string& choice : AChoices)
        list += (list.empty() ? "" : ", ") + choice;
    throw TUsageError(AWhat + " takes one of " + list);
}

} // namespace ixmail

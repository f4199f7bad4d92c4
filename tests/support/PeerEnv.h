#pragma once
// The KEY=VALUE lines that a peer's start script writes into its state file.

#include <fstream>
#include <map>
#include <stdexcept>
#include <sstream>
#include <string>

namespace ix::test {

/// The values of the state file APath; raises when it cannot be read, which fails the test (or
/// every test of the suite) that needs the peer: its fixture did not start it.
inline std::map<std::string, std::string> RequirePeerEnv(const std::string& APath)
{
    std::map<std::string, std::string> values;
    std::ifstream file(APath);
    std::string line;
    while (std::getline(file, line))
        if (const size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    if (values.empty())
        throw std::runtime_error(APath + " is missing: the peer is not running (ctest starts it through its fixture)");
    return values;
}

/// The password of AUser among the "user:password" words of AValues' CYRUS_USERS (the state file
/// of tests/peers/cyrus); empty when the user is not there.
inline std::string CyrusPassword(const std::map<std::string, std::string>& AValues, const std::string& AUser)
{
    std::istringstream users(AValues.contains("CYRUS_USERS") ? AValues.at("CYRUS_USERS") : "");
    for (std::string pair; users >> pair;)
        if (pair.starts_with(AUser + ":"))
            return pair.substr(AUser.size() + 1);
    return "";
}

}  // namespace ix::test

#pragma once
// The KEY=VALUE lines that a peer's start script writes into its state file.

#include <fstream>
#include <map>
#include <string>

namespace ix::test {

/// The values of the state file APath; empty when the file cannot be read (the peer is not running).
inline std::map<std::string, std::string> ReadPeerEnv(const std::string& APath)
{
    std::map<std::string, std::string> values;
    std::ifstream file(APath);
    std::string line;
    while (std::getline(file, line))
        if (const size_t equals = line.find('='); equals != std::string::npos)
            values[line.substr(0, equals)] = line.substr(equals + 1);
    return values;
}

}  // namespace ix::test

// The login cost of TixPop3: Open to Close against Dovecot, per method, plain and over TLS
// (bench/login_bench.sh runs it beside poplib and prints the comparison):
//   login_bench PLAIN_PORT TLS_PORT USER PASSWORD TOKEN RUNS
// Prints one line per row: "<method> <plain|tls>" and the milliseconds of every login.
#include "pop3/ixPop3.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <functional>
#include <string>

namespace {

/// A client that runs the login method a row asks for.
class TLoginPop3 : public ix::TixPop3
{
public:
    std::function<void(TLoginPop3&)> Method;

    using TixPop3::LoginApop;
    using TixPop3::LoginCramMd5;
    using TixPop3::LoginXOAuth2;

protected:
    void Authenticate() override { Method(*this); }
};

struct TRow
{
    const char* Name;
    std::function<void(TLoginPop3&)> Method; // none: USER/PASS
    bool UseToken;
};

void PrintLogins(TLoginPop3& AClient, int ARuns)
{
    // One login untimed: the first in a process pays for loading the trust store and for cold
    // caches, which poplib's long-running interpreter has paid before its first timed login.
    AClient.Open();
    AClient.Close();
    for (int i = 0; i < ARuns; ++i)
    {
        const auto start = std::chrono::steady_clock::now();
        AClient.Open();
        AClient.Close();
        std::printf(" %.3f", std::chrono::duration<double, std::milli>(std::chrono::steady_clock::now() - start).count());
    }
    std::printf("\n");
}

} // namespace

int main(int argc, char** argv)
{
    if (argc != 7)
    {
        std::fprintf(stderr, "usage: login_bench PLAIN_PORT TLS_PORT USER PASSWORD TOKEN RUNS\n");
        return 2;
    }
    const TRow rows[] = {
        {"user/pass", nullptr, false},
        {"apop", [](TLoginPop3& AClient) { AClient.LoginApop(); }, false},
        {"cram-md5", [](TLoginPop3& AClient) { AClient.LoginCramMd5(); }, false},
        {"xoauth2", [](TLoginPop3& AClient) { AClient.LoginXOAuth2(); }, true},
    };
    try
    {
        for (const bool tls : {false, true})
            for (const TRow& row : rows)
            {
                TLoginPop3 client;
                client.SetServer("127.0.0.1");
                client.SetPort(std::atoi(argv[tls ? 2 : 1]));
                client.SetUseTLS(tls ? ix::ctImplicit : ix::ctNone);
                client.SetUserName(argv[3]);
                client.SetPassword(argv[4]);
                client.Method = row.Method;
                client.SetUseSasl(row.Method != nullptr);
                if (row.UseToken)
                    client.SetAuthorization(argv[5]);
                std::printf("%s %s", row.Name, tls ? "tls" : "plain");
                PrintLogins(client, std::atoi(argv[6]));
            }
    }
    catch (const std::exception& E)
    {
        std::fprintf(stderr, "login_bench: %s\n", E.what());
        return 1;
    }
    return 0;
}

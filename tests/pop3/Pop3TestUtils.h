#pragma once
// Helpers shared by the POP3 tests: the steps of a plain login and of QUIT, and a client of a
// scripted server that must leave no descriptor or thread behind.

#include <gtest/gtest.h>

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "net/ixNetTestUtils.h"
#include "platform/ixOsMessages.h"
#include "pop3/ixPop3.h"
#include "support/ExpectError.h"
#include "support/ScriptedServer.h"

namespace ix::test {

/// The steps of AFirst, then those of ASecond.
inline std::vector<Step> operator+(std::vector<Step> AFirst, const std::vector<Step>& ASecond)
{
    AFirst.insert(AFirst.end(), ASecond.begin(), ASecond.end());
    return AFirst;
}

/// AGreeting and the USER/PASS login of alice, then AThen.
inline std::vector<Step> Login(const std::vector<Step>& AThen = {}, const std::string& AGreeting = "+OK ready\r\n")
{
    return std::vector<Step>{Step::Send(AGreeting), Step::Expect("USER alice"), Step::Send("+OK\r\n"),
               Step::Expect("PASS secret"), Step::Send("+OK logged in\r\n")}
        + AThen;
}

/// The end of a session: QUIT answered, then the client's close.
inline std::vector<Step> Quit()
{
    return {Step::Expect("QUIT"), Step::Send("+OK bye\r\n"), Step::Drain()};
}

/// A client of a scripted server, both made anew by each Start. It counts its OnOpen and OnClose
/// events; after each test the process has as many descriptors and threads as before it.
class ScriptedPop3 : public ::testing::Test
{
protected:
    /// The thread's message queue lives as long as the thread: made before the first count.
    static void SetUpTestSuite() { (void)os::GetMessageQueueFd(); }

    void TearDown() override
    {
        Client.reset();
        Server.reset();
        EXPECT_EQ(CountResources(), Before);
    }

    void Start(std::vector<Step> AScript, const std::string& AUser = "alice", const std::string& APassword = "secret")
    {
        Client.reset();
        Server = std::make_unique<ScriptedServer>(std::move(AScript));
        Client = std::make_unique<TixPop3>();
        Client->SetServer("127.0.0.1");
        Client->SetPort(Server->Port());
        Client->SetUserName(AUser);
        Client->SetPassword(APassword);
        Client->SetTimeOut(10000);
        Client->OnOpen = [this](TObject*) { ++Opened; };
        Client->OnClose = [this](TObject*) { ++Closed; };
        Opened = Closed = 0;
    }

    /// The client is closed and refuses the next command without sending it; the script ran to
    /// its end and the server never read QUIT.
    void ExpectClosedWithoutQuit()
    {
        EXPECT_FALSE(Client->IsActive());
        EXPECT_FALSE(Client->GetInProgress());
        ExpectError<EixSocketError>([&] { Client->Delete(1); }, SocketErrorNotActive);
        EXPECT_EQ(Server->Finish(), "");
        EXPECT_EQ(Server->Received().find("QUIT"), std::string::npos) << Server->Received();
    }

    /// Open must raise TError with ACode, firing neither OnOpen nor OnClose, and leave the client
    /// closed without QUIT; returns the error's message.
    template <typename TError = EixTcpClientError>
    std::string ExpectOpenFails(int32_t ACode)
    {
        const std::string message = ExpectError<TError>([this] { Client->Open(); }, ACode);
        EXPECT_EQ(Opened + Closed, 0);
        ExpectClosedWithoutQuit();
        return message;
    }

    const TResourceCount Before = CountResources();
    std::unique_ptr<ScriptedServer> Server;
    std::unique_ptr<TixPop3> Client;
    int Opened = 0;
    int Closed = 0;
};

} // namespace ix::test

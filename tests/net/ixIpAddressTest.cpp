#include "net/ixIpAddress.h"

#include "core/ixStrings.h"
#include "net/ixNetTestUtils.h"
#include "net/ixTcpClient.h"
#include "net/ixWinSock2.h"

#include <gtest/gtest.h>

#include <chrono>
#include <future>
#include <stdexcept>
#include <tuple>

namespace ix::test {
namespace {

/// Makes the socket library look like one with or without getaddrinfo until the end of the scope.
class TResolverScope
{
public:
    explicit TResolverScope(bool AWithResolver)
    {
        os::SetResolverExportsHidden(!AWithResolver);
        FreeWinSockLibraries();
    }
    ~TResolverScope()
    {
        os::SetResolverExportsHidden(false);
        FreeWinSockLibraries();
    }
    TResolverScope(const TResolverScope&) = delete;
    TResolverScope& operator=(const TResolverScope&) = delete;
};

/// Puts AHook in place of the system resolver of the message-based lookups for one test.
class TLookupHook
{
public:
    explicit TLookupHook(os::THostLookupHook AHook) { os::SetHostLookupHookForTests(std::move(AHook)); }
    ~TLookupHook() { os::SetHostLookupHookForTests(nullptr); }
    TLookupHook(const TLookupHook&) = delete;
    TLookupHook& operator=(const TLookupHook&) = delete;
};

/// A lookup in place of the system resolver that blocks until released, then finds AFound;
/// released at the latest when it goes out of scope.
class TBlockedLookup
{
public:
    explicit TBlockedLookup(os::THostLookupResult AFound)
        : FHook([released = FReleased, found = std::move(AFound)](const std::string&) {
              released.wait();
              return found;
          })
    {
    }
    ~TBlockedLookup() { Release(); }
    TBlockedLookup(const TBlockedLookup&) = delete;
    TBlockedLookup& operator=(const TBlockedLookup&) = delete;

    void Release()
    {
        if (FReleased.wait_for(std::chrono::seconds(0)) != std::future_status::ready)
            FRelease.set_value();
    }

private:
    std::promise<void> FRelease;
    std::shared_future<void> FReleased = FRelease.get_future().share();
    TLookupHook FHook;
};

TEST(IPAddress, ParsesNumericTextsAndWritesThemBackRefusesOtherTextsBadPortsAndFamiliesAndMakesEmptyAndAnyAddresses)
{
    TWinSockStartup startup;
    // IPv6 texts are written back with only the first run of two or more zero groups compressed.
    const std::tuple<std::string, int32_t, int32_t, std::string> numeric[] = {{"10.1.2.3", 2, 16, "10.1.2.3"},
        {"fe80::1", 23, 28, "FE80::1"}, {"::1", 23, 28, "::1"}, {"fe80:0:0:0:0:0:0:0", 23, 28, "FE80::"},
        {"0:0:0:0:0:0:0:1", 23, 28, "::1"}, {"2001:db8:0:0:1:0:0:1", 23, 28, "2001:DB8::1:0:0:1"},
        {"1:2:3:4:5:6:7:0", 23, 28, "1:2:3:4:5:6:7:0"}, {"fe80:0:0:0:0:0:0:1", 23, 28, "FE80::1"},
        {"1:0:2:0:0:0:0:3", 23, 28, "1:0:2:0:0:0:0:3"}, {"0:0:0:0:0:0:0:0", 23, 28, "::"},
        {"0:1:0:0:0:0:0:0", 23, 28, "0:1:0:0:0:0:0:0"}}; // a single zero ends the chance
    for (const auto& [text, family, length, canonical] : numeric)
    {
        EXPECT_TRUE(TixIPAddress::IsValidIP(text)) << text;
        const auto address = TixIPAddress::CreateIpAddress(text);
        EXPECT_EQ(address->GetFamily(), family);
        EXPECT_EQ(address->IsIpV6(), family == 23);
        EXPECT_EQ(address->GetSockAddrLen(), length);
        EXPECT_EQ(address->GetText(), canonical) << text;
    }
    for (const std::string text : {"", "localhost", "pop.example.test", "255.255.255.255x"})
    {
        EXPECT_FALSE(TixIPAddress::IsValidIP(text)) << text;
        EXPECT_EQ(SocketErrorOf([&] { TixIPAddress::CreateIpAddress(text); }),
            std::make_pair(-2, std::string("Invalid host address")));
    }
    const auto v6 = TixIPAddress::CreateIpAddress("fe80::1");
    v6->SetPort(995);
    EXPECT_EQ(v6->GetPort(), 995);
    EXPECT_EQ(os::ntohs(reinterpret_cast<os::SOCKADDR_IN6*>(v6->GetSockAddr())->sin6_port), 995);

    TixIPAddress4 address;
    EXPECT_FALSE(address.Parse("255.255.255.255")); // the value of a failed inet_addr
    EXPECT_FALSE(address.Parse("1.2.3.4 junk"));
    EXPECT_EQ(SocketErrorOf([&] { address.SetPort(-1); }), std::make_pair(-3, std::string("Invalid port number")));
    EXPECT_EQ(SocketErrorOf([&] { address.SetPort(65536); }).first, -3);
    EXPECT_NO_THROW(address.SetPort(0));
    EXPECT_EQ(SocketErrorOf([&] { address.SetFamily(23); }), std::make_pair(-7, std::string("Invalid address family")));
    TixIPAddress6 empty;
    EXPECT_EQ(empty.GetFamily(), 0);
    EXPECT_EQ(empty.GetText(), "");
    EXPECT_EQ(SocketErrorOf([&] { empty.SetPort(25); }).first, -2);
    EXPECT_EQ(SocketErrorOf([&] { empty.SetFamily(17); }).first, -7);
    EXPECT_EQ(TixIPAddress::CreateAnyAddress(23)->GetText(), "::");
    EXPECT_EQ(TixIPAddress::CreateBindingAddress("", 2)->GetText(), "0.0.0.0");
    EXPECT_EQ(TixIPAddress::CreateBindingAddress("127.0.0.1", 2)->GetText(), "127.0.0.1");
    EXPECT_EQ(TixIPAddress::CreateEmpty(23)->GetSockAddrLen(), 28);
}

// With the system's getaddrinfo, and without it: then addresses are IPv4 only and host names
// are resolved by the message-based lookup.
TEST(ResolveHost, ReturnsNumericTextUnchangedAndFindsLocalhostWithOrWithoutTheResolver)
{
    TWinSockStartup startup;
    for (const bool withResolver : {true, false})
    {
        SCOPED_TRACE(withResolver ? "with getaddrinfo" : "without getaddrinfo");
        const TResolverScope resolver(withResolver);
        EXPECT_EQ(IsIpV6Available(), withResolver);
        EXPECT_EQ(TixIPAddress::IsValidIP("::1"), withResolver);
        if (!withResolver)
        {
            EXPECT_EQ(ix::getaddrinfo("::1", nullptr, nullptr, nullptr), 11003);
        }
        EXPECT_EQ(TixIPAddress::CreateIpAddress("10.1.2.3")->GetFamily(), 2);
        EXPECT_EQ(dynamic_cast<TixIPAddress4*>(TixIPAddress::CreateEmpty(2).get()) != nullptr, !withResolver);
        std::string ip;
        TixHostResolver::ResolveHost("127.1", false, ip); // a lookup would give "127.0.0.1"
        EXPECT_EQ(ip, "127.1");
        // The hosts file gives localhost as IPv4 only, whichever family is asked for.
        for (const bool ipV6 : {false, true})
        {
            TixHostResolver::ResolveHost("localhost", ipV6, ip);
            EXPECT_EQ(ip, "127.0.0.1");
        }
    }
    TStringList list;
    TixHostResolver6(false).GetIPList("localhost", list);
    ASSERT_GE(list.Count(), 1);
    EXPECT_EQ(list[0], "127.0.0.1");
}

TEST(MessageBasedLookup, TimesOutWhileMessagesKeepArrivingAndTheCancelledLookupLeavesNoTrace)
{
    const TResourceCount before = CountResources();
    {
        TWinSockStartup startup;
        // Released after the time-out, the lookup finds an address: a lookup that was not
        // cancelled would write it into the freed buffer (which the sanitizer reports).
        TBlockedLookup lookup(os::THostLookupResult{0, {os::inet_addr("10.1.2.3")}, ""});
        TTimerWindow ticker(50, [&ticker] {
            if (ticker.Ticks() > 4 * TixHostResolver4::LookupTimeOut / 50)
                throw std::runtime_error("the lookup outlived its time-out");
        });
        const auto started = std::chrono::steady_clock::now();
        const auto [code, text] = SocketErrorOf([] {
            std::string ip;
            TixHostResolver4().GetIPAddress("slow.example", ip);
        });
        const auto waited = std::chrono::steady_clock::now() - started;
        EXPECT_EQ(code, -1);
        EXPECT_EQ(text, "Timeout error occured");
        EXPECT_GE(waited, std::chrono::milliseconds(TixHostResolver4::LookupTimeOut - 50));
        EXPECT_GT(ticker.Ticks(), 0) << "messages were dispatched during the wait";
        lookup.Release();
    } // the socket library's clean-up joins the lookup's worker
    EXPECT_EQ(CountResources(), before);
}

TEST(MessageBasedLookup, FailedLookupRaisesItsErrorAndAFoundOneListsEveryAddressInOrder)
{
    TWinSockStartup startup;
    {
        const TLookupHook hook([](const std::string&) { return os::THostLookupResult{os::WSAHOST_NOT_FOUND, {}, ""}; });
        EXPECT_EQ(SocketErrorOf([] {
            TStringList list;
            TixHostResolver4().GetIPList("nowhere.example", list);
        }),
            std::make_pair(11001, std::string("No such host is known.")));
    }
    std::string asked;
    const TLookupHook hook([&asked](const std::string& AName) {
        asked = AName;
        return os::THostLookupResult{0, {os::inet_addr("10.0.0.2"), os::inet_addr("192.168.7.1")}, "mx.example"};
    });
    TStringList list;
    TixHostResolver4().GetIPList("mail.example", list);
    EXPECT_EQ(asked, "mail.example");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0], "10.0.0.2");
    EXPECT_EQ(list[1], "192.168.7.1");
}

TEST(StalledLookup, OpenWaitsNoLongerThanTimeOutAndCloseEndsIt)
{
    const TResourceCount before = CountResources();
    {
        TixTcpClient client;
        client.SetServer("stalled.example");
        client.SetPort(110);
        // A lookup that never answered would freeze the caller: the first client gives up after
        // its TimeOut, the second when a message handler closes it.
        TBlockedLookup lookup(os::THostLookupResult{0, {os::inet_addr("127.0.0.1")}, ""});
        client.SetTimeOut(300);
        int ticks = 0;
        TTimerWindow ticker(20, [&] {
            if (++ticks == 25)
                client.Close();
        });
        const auto started = std::chrono::steady_clock::now();
        EXPECT_EQ(SocketErrorOf([&] { client.Open(); }).first, SocketErrorTimeout);
        EXPECT_LT(std::chrono::steady_clock::now() - started, std::chrono::seconds(3));
        EXPECT_GT(ticks, 0) << "messages were dispatched during the lookup";
        client.SetTimeOut(60000);
        EXPECT_EQ(SocketErrorOf([&] { client.Open(); }).first, SocketErrorNotActive);
        EXPECT_GE(ticks, 25);
        EXPECT_FALSE(client.IsActive());
        lookup.Release();
    }
    ExpectResourcesBackTo(before);
}

} // namespace
} // namespace ix::test

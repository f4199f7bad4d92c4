#include "pop3/ixPop3.h"
#include "pop3/ixSspiAuth.h"

#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "support/ChunkedConnection.h"
#include "message/ixMailMessage.h"

namespace ix {
namespace {

using test::WithChunkedConnection;

/// A POP3 client over the connection double, with its keep-alive tick reachable.
class TPop3 : public WithChunkedConnection<TixPop3>
{
public:
    explicit TPop3(std::vector<std::string> AReplies = {}) { Connection.Add(std::move(AReplies)); }
    void Tick() { KeepAliveTick(); }
};

// ---- Reply codes and parsing (connection double) --------------------------------------------

TEST(Pop3Replies, LinesAreClassifiedInTheirOrder)
{
    TPop3 client;
    const std::vector<std::pair<std::string, int32_t>> table{
        {"+OK", 10}, {"+OK 2 320", 10}, {"+OKAY", 10}, {"-ERR", 20}, {"-ERR no", 20}, {"+ abc", 30},
        {"+", 30}, {" +\t", 30}, {"+ OK", 30}, {".", 1}, {"..", 0}, {". ", 0}, {"", 0}, {"+ok", 0},
        {"-err", 0}, {"OK", 0}, {"-", 0}};
    for (const auto& [line, code] : table)
        EXPECT_EQ(client.GetResponseCode(line), code) << '"' << line << '"';
    client.OnGetResponseCode = [](TObject*, const std::string& ALine, int32_t& ACode) {
        if (ALine == "* BYE")
            ACode = 20;
    };
    EXPECT_EQ(client.GetResponseCode("* BYE"), 20);
    EXPECT_EQ(client.GetResponseCode("+OK"), 10);
}

TEST(Pop3Replies, StatCountsAreCachedUntilTheNextStatAndDeleteLowersTheCount)
{
    // Three words give count and size; a refused STAT keeps both; an extra word makes both
    // unknown, so asking for the count sends STAT again; words that are no numbers give 0.
    TPop3 client({"+OK 3 900\r\n", "+OK deleted\r\n", "-ERR busy\r\n", "+OK 2 320 octets\r\n", "+OK x y\r\n"});
    EXPECT_EQ(client.GetMessageCount(), 3);
    EXPECT_EQ(client.GetMailBoxSize(), 900);
    client.Delete(2);
    EXPECT_EQ(client.GetMessageCount(), 2);
    EXPECT_EQ(client.GetMessageNumber(), 2);
    EXPECT_THROW(client.GetMailBoxInfo(), EixTcpClientError);
    EXPECT_EQ(client.GetMessageCount(), 2);
    EXPECT_EQ(client.GetMailBoxSize(), 900);
    client.GetMailBoxInfo();
    EXPECT_EQ(client.GetMailBoxSize(), -1);
    EXPECT_EQ(client.GetMessageCount(), 0);
    EXPECT_EQ(client.GetMailBoxSize(), 0);
    EXPECT_EQ(client.Connection.Sent(), "STAT\r\nDELE 2\r\nSTAT\r\nSTAT\r\nSTAT\r\n");
}

TEST(Pop3Replies, UidlAndListTakeTheirWordOrNothing)
{
    TPop3 client({"+OK 1 0000000158c1b7e1\r\n", "+OK\r\n", "+OK 1 a b\r\n", "+OK 4 1234\r\n", "+OK\r\n",
        "+OK 4 big\r\n"});
    EXPECT_EQ(client.GetUidl(1), "0000000158c1b7e1");
    EXPECT_EQ(client.GetUidl(2), "");
    EXPECT_EQ(client.GetUidl(3), "");
    EXPECT_EQ(client.GetMessageNumber(), -1); // UIDL does not change it
    EXPECT_EQ(client.GetMessageSize(4), 1234);
    EXPECT_EQ(client.GetMessageSize(5), 0);
    EXPECT_EQ(client.GetMessageSize(6), 0);
    EXPECT_EQ(client.GetMessageNumber(), 6);
    EXPECT_EQ(client.Connection.Sent(), "UIDL 1\r\nUIDL 2\r\nUIDL 3\r\nLIST 4\r\nLIST 5\r\nLIST 6\r\n");
}

TEST(Pop3Replies, RetrieveAndHeaderLoadTheMessageObject)
{
    // Without a progress handler no LIST asks for the size (Dovecot's mailboxes show the LIST
    // that a progress handler needs, and body lines like status lines staying in the body).
    TixMailMessage message;
    TPop3 client({"+OK\r\nSubject: first\r\nFrom: a@ix.test\r\n.\r\n",
        "+OK\r\nSubject: second\r\n\r\n..dot\r\n...\r\n.\r\n"});
    client.RetrieveHeader(3, &message);
    EXPECT_EQ(message.GetSubject(), "first");
    client.Retrieve(4, &message);
    EXPECT_EQ(message.GetSubject(), "second");
    EXPECT_EQ(message.MessageText().Join("|"), ".dot|..");
    EXPECT_EQ(client.GetResponse().Count(), 0) << "the message holds the reply's lines, not both";
    EXPECT_EQ(client.Connection.Sent(), "TOP 3 0\r\nRETR 4\r\n");
}

TEST(Pop3Client, KeepAliveTickIsSkippedWhileAnExchangeRuns)
{
    TPop3 client({"+OK\r\n"});
    client.SetInProgress(true);
    client.Tick();
    EXPECT_EQ(client.Connection.Sent(), "");
    client.SetInProgress(false);
    client.Tick();
    EXPECT_EQ(client.Connection.Sent(), "NOOP\r\n");
}

TEST(Pop3Client, AttachedMessageIsForgottenWhenDestroyed)
{
    TixPop3 client;
    int changes = 0;
    client.OnChanged = [&](TObject*) { ++changes; };
    {
        TixMailMessage message;
        client.SetMailMessage(&message);
        EXPECT_EQ(client.GetMailMessage(), &message);
    }
    EXPECT_EQ(client.GetMailMessage(), nullptr);
    EXPECT_EQ(changes, 0);
}

TEST(AuthIdentity, UserTextSplitsIntoDomainAndUser)
{
    // The text, its user and its domain.
    const std::tuple<std::string, std::string, std::string> table[] = {
        {"a/b\\c", "c", "a/b"}, // "DOMAIN\\user", "DOMAIN/user" and "user": the Cyrus logins
        {"\\user", "user", ""},
    };
    for (const auto& [text, user, domain] : table)
    {
        TixAuthIdentity identity(text, "pw");
        EXPECT_EQ(identity.GetUser(), user) << text;
        EXPECT_EQ(identity.GetDomain(), domain) << text;
        const os::SEC_WINNT_AUTH_IDENTITY_A* record = identity.GetIdentity();
        EXPECT_EQ(record->Flags, 1u);
        EXPECT_EQ(record->UserLength, user.size());
        EXPECT_EQ(record->DomainLength, domain.size());
        EXPECT_EQ(record->Domain == nullptr, domain.empty());
        EXPECT_EQ(std::string(reinterpret_cast<const char*>(record->Password)), "pw");
    }
}

} // namespace
} // namespace ix

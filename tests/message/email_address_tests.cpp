#include "message/ixEmailAddress.h"

#include <gtest/gtest.h>

#include <string>

using namespace ix;

TEST(EmailAddress, AddressTextsSplitIntoNameAndMailbox)
{
    struct Case
    {
        std::string_view Text;
        std::string_view Name;
        std::string_view Email;
    };
    const Case cases[] = {
        // Quoted names and comments are opaque (the common forms are rows of ForeignValues in
        // mail_header_tests.cpp).
        {"\"x <fake@evil.example>\" <real@b.example>", "x <fake@evil.example>", "real@b.example"},
        {"jd@example.com (see <other@example.com>)", "see <other@example.com>", "jd@example.com"},
        {"  jd@example.com  ", "", "jd@example.com"},
        {"\"John Smith\" john@example.com", "John Smith", "john@example.com"},
        // The last address wins; empty brackets are no address.
        {"a@one.example b@two.example", "a@one.example", "b@two.example"},
        {"<a@one.example> <b@two.example>", "<a@one.example>", "b@two.example"},
        {"a@one.example <>", "<>", "a@one.example"},
        // Non-ASCII (UTF-8 and 8-bit) addresses and names.
        {"J\xC3\xB6rg <j\xC3\xB6rg@m\xC3\xBCller.example>", "J\xC3\xB6rg", "j\xC3\xB6rg@m\xC3\xBCller.example"},
        {"j\xF6rg@m\xFCller.example (J\xF6rg M\xFCller)", "J\xF6rg M\xFCller", "j\xF6rg@m\xFCller.example"},
        {"no address here", "no address here", ""},
        {"@lonely.example", "@lonely.example", ""},
        {"", "", ""},
    };
    for (const Case& c : cases) {
        TixEmailAddressItem item;
        item.SetFullAddress(c.Text);
        EXPECT_EQ(item.GetName(), c.Name) << c.Text;
        EXPECT_EQ(item.GetEmail(), c.Email) << c.Text;
    }
}

TEST(EmailAddress, FullAddressQuotesNamesThatNeedItAndParsesBackUnchanged)
{
    struct Case
    {
        std::string_view Name;
        std::string_view Full;
    };
    const Case cases[] = {
        {"", "a@b.example"},
        {"a@b.example", "a@b.example"}, // a name equal to the address is not written twice
        {"Plain", "Plain <a@b.example>"},
        {"O'Brien", "O'Brien <a@b.example>"},
        {"John Doe", "\"John Doe\" <a@b.example>"},
        {"Doe,John", "\"Doe,John\" <a@b.example>"},
        {"Doe, John", "\"Doe, John\" <a@b.example>"},
        {"semi;colon", "\"semi;colon\" <a@b.example>"},
        {"say \"hi\"", "\"say \\\"hi\\\"\" <a@b.example>"},
        {"ends in \"", "\"ends in \\\"\" <a@b.example>"},
        {"back\\slash", "\"back\\\\slash\" <a@b.example>"},
    };
    for (const Case& c : cases) {
        EXPECT_EQ(TixEmailAddressItem::BuildFullAddress(c.Name, "a@b.example"), c.Full);
        std::string name;
        std::string address;
        const bool named = TixEmailAddressItem::ParseFullAddress(c.Full, name, address);
        EXPECT_EQ(named, c.Full.ends_with('>')) << c.Full;
        EXPECT_EQ(name, named ? c.Name : "a@b.example") << c.Full;
        EXPECT_EQ(address, "a@b.example") << c.Full;
    }
    TixEmailAddressItem item;
    item.SetFullAddress("\"John Doe\" <a@b.example>");
    EXPECT_EQ(item.GetDisplayName(), "John Doe");
    item.SetNameDelimiter("");
    item.SetName("(x)");
    EXPECT_EQ(item.GetFullAddress(), "\"\\(x\\)\"<a@b.example>");
}

TEST(EmailAddressList, AddsAssignsAndDeletesItems)
{
    TixEmailAddressList list;
    list.AddAddress("A <a@x.example>");
    list.Add().SetEmail("b@x.example");
    ASSERT_EQ(list.Count(), 2);
    EXPECT_EQ(list[0].GetName(), "A");
    EXPECT_EQ(list[0].GetCollection(), &list);
    TixEmailAddressList copy;
    copy.Assign(list);
    EXPECT_EQ(copy[1].GetEmail(), "b@x.example");
    EXPECT_EQ(copy[1].GetCollection(), &copy);
    copy.Delete(0);
    EXPECT_EQ(copy[0].GetEmail(), "b@x.example");
    EXPECT_THROW(copy.GetItem(1), EListError);
    EXPECT_THROW(copy.Delete(-1), EListError);
    TixEmailAddressItem single;
    single.Assign(list[0]);
    EXPECT_EQ(single.GetFullAddress(), "A <a@x.example>");
    EXPECT_THROW(single.Assign(list), EConvertError);
    single.Clear();
    EXPECT_EQ(single.GetDisplayName(), "");
}

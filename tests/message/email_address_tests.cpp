#include "message/ixEmailAddress.h"

#include <gtest/gtest.h>

#include <string>

using namespace ix;

namespace {

struct Parsed
{
    std::string Name;
    std::string Email;
};

Parsed Parse(std::string_view AText)
{
    TixEmailAddressItem item;
    item.SetFullAddress(AText);
    return {item.GetName(), item.GetEmail()};
}

} // namespace

TEST(EmailAddress, AddressTextsSplitIntoNameAndMailbox)
{
    struct Case
    {
        std::string_view Text;
        std::string_view Name;
        std::string_view Email;
    };
    const Case cases[] = {
        // Quoted names and comments are opaque (the common forms are checked against Python's
        // email package in python_crosscheck_tests.cpp).
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
        const Parsed parsed = Parse(c.Text);
        EXPECT_EQ(parsed.Name, c.Name) << c.Text;
        EXPECT_EQ(parsed.Email, c.Email) << c.Text;
    }
}

TEST(EmailAddress, FullAddressQuotesNamesThatNeedIt)
{
    TixEmailAddressItem item;
    item.SetEmail("a@b.example");
    EXPECT_EQ(item.GetFullAddress(), "a@b.example");
    item.SetName("a@b.example");
    EXPECT_EQ(item.GetFullAddress(), "a@b.example");
    item.SetName("Plain");
    EXPECT_EQ(item.GetFullAddress(), "Plain <a@b.example>");
    item.SetName("John Doe");
    EXPECT_EQ(item.GetFullAddress(), "\"John Doe\" <a@b.example>");
    EXPECT_EQ(item.GetDisplayName(), "John Doe");
    item.SetName("Doe,John");
    EXPECT_EQ(item.GetFullAddress(), "\"Doe,John\" <a@b.example>");
    item.SetName("say \"hi\"");
    EXPECT_EQ(item.GetFullAddress(), "\"say \\\"hi\\\"\" <a@b.example>");
    item.SetName("ends in \"");
    EXPECT_EQ(item.GetFullAddress(), "\"ends in \\\"\" <a@b.example>");
    item.SetNameDelimiter("");
    item.SetName("(x)");
    EXPECT_EQ(item.GetFullAddress(), "\"\\(x\\)\"<a@b.example>");
}

TEST(EmailAddress, WrittenNamesParseBackUnchanged)
{
    for (const std::string name : {"John Doe", "Doe, John", "say \"hi\"", "back\\slash", "ends in \"",
             "O'Brien", "semi;colon"}) {
        std::string parsedName;
        std::string parsedAddress;
        const std::string full = TixEmailAddressItem::BuildFullAddress(name, "x@y.example");
        EXPECT_TRUE(TixEmailAddressItem::ParseFullAddress(full, parsedName, parsedAddress)) << full;
        EXPECT_EQ(parsedName, name) << full;
        EXPECT_EQ(parsedAddress, "x@y.example") << full;
    }
    std::string name;
    std::string address;
    EXPECT_FALSE(TixEmailAddressItem::ParseFullAddress("x@y.example", name, address));
    EXPECT_EQ(name, "x@y.example");
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

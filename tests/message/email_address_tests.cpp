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

TEST(EmailAddress, NameAndBracketedAddressSplitAndReadBackQuoted)
{
    TixEmailAddressItem item;
    item.SetFullAddress("John Doe <john.doe@example.com>");
    EXPECT_EQ(item.GetName(), "John Doe");
    EXPECT_EQ(item.GetEmail(), "john.doe@example.com");
    EXPECT_EQ(item.GetFullAddress(), "\"John Doe\" <john.doe@example.com>");
    EXPECT_EQ(item.GetDisplayName(), "John Doe");
}

TEST(EmailAddress, QuotedNamesKeepCommasAndEscapesAndLoseTheirQuotes)
{
    EXPECT_EQ(Parse("\"Doe, John\" <jd@example.com>").Name, "Doe, John");
    EXPECT_EQ(Parse("\"Doe, John\" <jd@example.com>").Email, "jd@example.com");
    EXPECT_EQ(Parse("\"say \\\"hi\\\"\" <a@b.example>").Name, "say \"hi\"");
    EXPECT_EQ(Parse("'Single' <a@b.example>").Name, "Single");
    // Angle brackets inside the quoted name do not count.
    EXPECT_EQ(Parse("\"x <fake@evil.example>\" <real@b.example>").Email, "real@b.example");
}

TEST(EmailAddress, BareAddressesTakeTheCommentAsName)
{
    EXPECT_EQ(Parse("jd@example.com (John Doe)").Email, "jd@example.com");
    EXPECT_EQ(Parse("jd@example.com (John Doe)").Name, "John Doe");
    EXPECT_EQ(Parse("jd@example.com (see <other@example.com>)").Email, "jd@example.com");
    EXPECT_EQ(Parse("jd@example.com").Name, "");
    EXPECT_EQ(Parse("  jd@example.com  ").Email, "jd@example.com");
    EXPECT_EQ(Parse("\"John Smith\" john@example.com").Email, "john@example.com");
    EXPECT_EQ(Parse("\"John Smith\" john@example.com").Name, "John Smith");
}

TEST(EmailAddress, TheLastAddressWins)
{
    EXPECT_EQ(Parse("a@one.example b@two.example").Email, "b@two.example");
    EXPECT_EQ(Parse("<a@one.example> <b@two.example>").Email, "b@two.example");
    EXPECT_EQ(Parse("a@one.example <>").Email, "a@one.example");
}

TEST(EmailAddress, NonAsciiAddressesAreFound)
{
    EXPECT_EQ(Parse("J\xC3\xB6rg <j\xC3\xB6rg@m\xC3\xBCller.example>").Email, "j\xC3\xB6rg@m\xC3\xBCller.example");
    EXPECT_EQ(Parse("J\xC3\xB6rg <j\xC3\xB6rg@m\xC3\xBCller.example>").Name, "J\xC3\xB6rg");
    EXPECT_EQ(Parse("j\xF6rg@m\xFCller.example (J\xF6rg M\xFCller)").Email, "j\xF6rg@m\xFCller.example");
    EXPECT_EQ(Parse("j\xF6rg@m\xFCller.example (J\xF6rg M\xFCller)").Name, "J\xF6rg M\xFCller");
}

TEST(EmailAddress, UnclosedOrSpacedBracketsStillGiveTheAddress)
{
    EXPECT_EQ(Parse("John <john@example.com").Email, "john@example.com");
    EXPECT_EQ(Parse("John <john@example.com").Name, "John");
    EXPECT_EQ(Parse("John < john@example.com >").Email, "john@example.com");
    EXPECT_EQ(Parse("John < john@example.com >").Name, "John");
    EXPECT_EQ(Parse("no address here").Email, "");
    EXPECT_EQ(Parse("@lonely.example").Email, "");
    EXPECT_EQ(Parse("").Email, "");
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

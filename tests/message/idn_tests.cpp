#include "message/ixIdnTranslator.h"

#include <gtest/gtest.h>

#include <string>

#include "support/AnsiCodePageScope.h"

using namespace ix;

TEST(IdnTranslator, EncodesTheLabelsThatNeedItInTheCharactersOfTheAnsiCodePage)
{
    const struct
    {
        os::UINT CodePage;
        const char* Domain;
        const char* Ascii;
    } cases[] = {
        // All-ASCII domains and the empty one stay as they are (DEL is the last ASCII character).
        {1252, "Mail.Example.COM", "Mail.Example.COM"},
        {1252, "\x7F.\x80", "\x7F.xn--lzg"},
        {1252, "", ""},
        // A label of only non-ASCII characters gets no delimiter.
        {1252, "\xE9\xE8", "xn--8cab"},
        {1252, "\xFC", "xn--tda"},
        // Mixed labels are encoded, the others left; empty labels of a trailing dot are kept.
        {1252, "m\xFCller.example.de", "xn--mller-kva.example.de"},
        {1252, "www.b\xFC\x63her.ch", "www.xn--bcher-kva.ch"},
        {1252, "b\xFC\x63her.ch.", "xn--bcher-kva.ch."},
        // (J) of RFC 3492's samples.
        {1252, "Porqu\xE9nopuedensimplementehablarenEspa\xF1ol", "xn--PorqunopuedensimplementehablarenEspaol-fmd56a"},
        // The characters of the code page count, not its bytes.
        {os::CP_UTF8, "b\xC3\xBC" "cher.example", "xn--bcher-kva.example"},
        {os::CP_UTF8, "\xD0\xBF\xD1\x80\xD0\xB8\xD0\xBC\xD0\xB5\xD1\x80", "xn--e1afmkfd"},
        {os::CP_UTF8, "\xF0\x9F\x8E\x89", "xn--dk8h"},
        {1251, "\xEF\xF0\xE8\xEC\xE5\xF0", "xn--e1afmkfd"},
        // The sample strings of RFC 3492: (A) Arabic, (B) Chinese, (D) Czech, (I) Russian, (L)
        // Japanese with basic characters inside, (M) basic characters after the others.
        {os::CP_UTF8, "\u0644\u064A\u0647\u0645\u0627\u0628\u062A\u0643\u0644\u0645\u0648\u0634\u0639\u0631\u0628\u064A\u061F",
            "xn--egbpdaj6bu4bxfgehfvwxn"},
        {os::CP_UTF8, "\u4ED6\u4EEC\u4E3A\u4EC0\u4E48\u4E0D\u8BF4\u4E2D\u6587", "xn--ihqwcrb4cv8a8dqg056pqjye"},
        {os::CP_UTF8, "Pro\u010Dprost\u011Bnemluv\u00ED\u010Desky", "xn--Proprostnemluvesky-uyb24dma41a"},
        {os::CP_UTF8, "\u043F\u043E\u0447\u0435\u043C\u0443\u0436\u0435\u043E\u043D\u0438\u043D\u0435\u0433\u043E"
                      "\u0432\u043E\u0440\u044F\u0442\u043F\u043E\u0440\u0443\u0441\u0441\u043A\u0438",
            "xn--b1abfaaepdrnnbgefbadotcwatmq2g4l"},
        {os::CP_UTF8, "3\u5E74B\u7D44\u91D1\u516B\u5148\u751F", "xn--3B-ww4c5e180e575a65lsy2b"},
        {os::CP_UTF8, "\u5B89\u5BA4\u5948\u7F8E\u6075-with-SUPER-MONKEYS", "xn---with-SUPER-MONKEYS-pc58ag80a8qai00g7n9n"},
    };
    for (const auto& c : cases) {
        const test::TAnsiCodePageScope codePage(c.CodePage);
        EXPECT_EQ(TixIdnTranslator::EncodeDomain(c.Domain), c.Ascii) << c.CodePage << " " << c.Domain;
    }
    EXPECT_EQ(TixIdnTranslator::EncodeLabel(""), "");
}

TEST(IdnTranslator, RaisesWhenTheDeltaWouldOverflowThirtyTwoBits)
{
    // 3000 basic characters before one U+10FFFF: the first delta, (0x10FFFF - 128) * 3001,
    // exceeds 2^31 - 1.
    const test::TAnsiCodePageScope utf8(os::CP_UTF8);
    try {
        TixIdnTranslator::EncodeLabel(std::string(3000, 'a') + "\xF4\x8F\xBF\xBF");
        FAIL() << "no exception";
    } catch (const EixIdnError& e) {
        EXPECT_EQ(e.Message(), "Input value needs wider integers to translate");
    }
}

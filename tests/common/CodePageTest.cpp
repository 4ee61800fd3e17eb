#include "common/CodePage.h"

#include <QSet>
#include "support/QtPrinters.h"

#include <gtest/gtest.h>

using namespace calvoro;

TEST(CodePage, EveryByteRoundTrips) {
    QByteArray all(256, Qt::Uninitialized);
    for (int i = 0; i < 256; ++i) all[i] = char(i);
    const QString text = AnsiToUnicode(all);
    ASSERT_EQ(text.size(), 256);
    EXPECT_EQ(UnicodeToAnsi(text), all);
    // Distinct bytes give distinct characters, so no two bytes collapse into one.
    EXPECT_EQ(QSet<QChar>(text.begin(), text.end()).size(), 256);
}

TEST(CodePage, KnownMappings) {
    struct Case {
        unsigned char byte;
        char16_t ch;
    } cases[] = {
        {0x41, u'A'},    {0x80, 0x20AC}, {0x81, 0x0081}, {0x8A, 0x0160}, {0x8D, 0x008D},
        {0x8F, 0x008F},  {0x90, 0x0090}, {0x92, 0x2019}, {0x9D, 0x009D}, {0x9F, 0x0178},
        {0xA0, 0x00A0},  {0xE9, 0x00E9}, {0xFF, 0x00FF}, {0x00, 0x0000},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(int(c.byte));
        EXPECT_EQ(AnsiCharOf(c.byte), c.ch);
        EXPECT_EQ(AnsiByteOf(c.ch), c.byte);
    }
}

TEST(CodePage, UnmappableBecomeQuestionMarks) {
    struct Case {
        QString text;
        QByteArray bytes;
    } cases[] = {
        {QStringLiteral("caf\u00e9 \u20ac5"), QByteArray("caf\xe9 \x80" "5")},
        {QStringLiteral("\u0416\u0436"), QByteArray("??")},          // Cyrillic
        {QString::fromUtf8("a\xF0\x9F\x98\x80z"), QByteArray("a?z")},  // one emoji, one '?'
        {QString(QChar(0xD800)) + u'x', QByteArray("?x")},           // lone surrogate
        {QString(), QByteArray()},
        // Long ASCII runs go in blocks: a character to map or a pair across a block's edge.
        {QString(15, u'a') + QString::fromUtf8("\xF0\x9F\x98\x80") + QString(20, u'b'),
         QByteArray(15, 'a') + '?' + QByteArray(20, 'b')},
        {QString(16, u'a') + QChar(0x20AC) + QString(31, u'b') + QChar(0x0416),
         QByteArray(16, 'a') + '\x80' + QByteArray(31, 'b') + '?'},
    };
    for (const auto& c : cases) {
        SCOPED_TRACE(c.text.toStdString());
        EXPECT_EQ(UnicodeToAnsi(c.text), c.bytes);
    }
}

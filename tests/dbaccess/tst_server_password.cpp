#include "dbaccess/target_settings.h"

#include <gtest/gtest.h>

#include <QRegularExpression>

namespace p1 {
namespace {

QString hexOf(const QByteArray& bytes)
{
    return QString::fromLatin1(bytes.toHex().toUpper());
}

QByteArray bytesOf(const QString& text)
{
    QByteArray bytes;
    for (QChar character : text)
        bytes.append(static_cast<char>(character.unicode()));
    return bytes;
}

TEST(ParseHex, ReadsDigitsFromTheRightAndCountsOtherCharactersAsZero)
{
    const struct {
        const char* text;
        qint64 value;
    } cases[] = {
        {"", 0},   {"1F", 31}, {"1f", 31}, {":0", 0},   {"1:", 16},
        {"FF", 255}, {"0", 0},  {"G1", 1},  {"100", 256}, {"7FFFFFFF", 0x7FFFFFFF},
    };
    for (const auto& c : cases)
        EXPECT_EQ(ParseHex(QString::fromLatin1(c.text)), c.value) << c.text;
}

TEST(UnscrambleServerPassword, RefusesWhatTheScramblerCannotHaveWritten)
{
    const struct {
        const char* stored;
        const char* password;
    } cases[] = {
        {"", ""},
        {"123", "_"},        // odd length
        {"1a2B", "_"},       // lower-case hexadecimal letter
        {"0G", "_"},         // past "F"
        {"/0", "_"},         // before "0"
        {"00 0", "_"},       // blank
    };
    for (const auto& c : cases)
        EXPECT_EQ(UnscrambleServerPassword(QString::fromLatin1(c.stored)), QString::fromLatin1(c.password))
            << c.stored;
}

TEST(UnscrambleServerPassword, PunctuationBetweenNineAndACountsAsZeroDigit)
{
    // ":" .. "@" pass the check; ParseHex reads them as 0, so ":0" is the byte 00 like "00".
    EXPECT_EQ(UnscrambleServerPassword(":0@;"), UnscrambleServerPassword("0000"));
    EXPECT_EQ(UnscrambleServerPassword("1:").size(), 1);
}

TEST(UnscrambleServerPassword, XorsWithTheKeyExceptAtEveryThirtySecondCharacter)
{
    // Zero bytes unscramble to the key itself; so the key can be taken out of any password.
    const QString zeros = QString(128, '0');
    const QByteArray key = bytesOf(UnscrambleServerPassword(zeros));
    ASSERT_EQ(key.size(), 64);
    EXPECT_EQ(key[31], '\0');
    EXPECT_EQ(key[63], '\0');
    EXPECT_EQ(key.left(31), key.mid(32, 31)); // the key repeats after 32 characters
    for (int i = 0; i < 31; ++i)
        EXPECT_NE(key[i], '\0') << i;

    QByteArray clear = QByteArray("Secret-password_of_the_server!!").leftJustified(64, 'x');
    clear[31] = 'A';
    QByteArray scrambled(64, '\0');
    for (int i = 0; i < 64; ++i)
        scrambled[i] = static_cast<char>(clear[i] ^ key[i]);
    const QString password = UnscrambleServerPassword(hexOf(scrambled));
    EXPECT_EQ(bytesOf(password), clear);
    EXPECT_EQ(password[31], QChar('A')); // the 32nd byte passes unchanged
}

TEST(UnscrambleServerPassword, ReadsEachByteAsAWindows1252Character)
{
    const QByteArray key = bytesOf(UnscrambleServerPassword(QString(10, '0')));
    const QByteArray clear("\x80\x92\xe9\x9c\x41", 5);
    QByteArray scrambled;
    for (int i = 0; i < clear.size(); ++i)
        scrambled.append(static_cast<char>(clear[i] ^ key[i]));
    EXPECT_EQ(UnscrambleServerPassword(hexOf(scrambled)), QString::fromUtf8("€’éœA"));
}

TEST(ScrambleServerPassword, WritesWhatUnscramblingReadsBack)
{
    const char* const passwords[] = {"", "s", "Secret-password_of_the_server!!", "€’éœ àç 0;\"=",
                                     "a password longer than the thirty-two characters of the key"};
    for (const char* password : passwords) {
        const QString clear = QString::fromUtf8(password);
        const QString stored = ScrambleServerPassword(clear);
        EXPECT_EQ(stored.size(), 2 * clear.size()) << password;
        EXPECT_TRUE(QRegularExpression("^[0-9A-F]*$").match(stored).hasMatch()) << stored.toStdString();
        EXPECT_EQ(UnscrambleServerPassword(stored), clear) << password;
    }
}

} // namespace
} // namespace p1

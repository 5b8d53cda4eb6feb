#include "stages/normalisers.h"

#include <gtest/gtest.h>

#include <utility>
#include <vector>

namespace p1 {
namespace {

using TextCases = std::vector<std::pair<QString, QString>>;

void expectEach(const TextCases& cases, QString (*normalise)(const QString&))
{
    for (const auto& [input, expected] : cases)
        EXPECT_EQ(normalise(input).toStdString(), expected.toStdString())
            << "input: [" << input.toStdString() << "]";
}

TEST(FormatPhoneNumber, GroupsDigitsByTwoWhateverTheSeparators)
{
    expectEach({
                   {"0612345678", "06 12 34 56 78"},
                   {"06.12.34.56.78", "06 12 34 56 78"},
                   {"06 12 34 56 78", "06 12 34 56 78"},
                   {"06-12-34-56-78", "06 12 34 56 78"},
                   {"06/12/34/56/78", "06 12 34 56 78"},
                   {"123", "12 3"},
                   {"7", "7"},
                   {"0612345678901", "06 12 34 56 78901"},
                   {"+33 6 12 34 56 78", "33 61 23 45 678"},
                   {"01 ", "01 "},
                   {"01  ", "01 "},
                   {"abc", ""},
                   {"", ""},
                   {"   ", ""},
                   {"\t\r\n", ""},
                   {" 06 12", "06 12"},
                   {"tel 0612", "06 12"},
               },
               FormatPhoneNumber);
}

TEST(FormatInsuranceNumber, KeepsDigitsWithOneBlankAfterTheThirteenth)
{
    expectEach({
                   {"1 85 05 78 006 084 36", "1850578006084 36"},
                   {"1.85.05.78.006.084", "1850578006084"},
                   {"1850578006084", "1850578006084"},
                   {"2A 85 05 78 006 084 36", "2850578006084 36"},
                   {"18505780060843612", "1850578006084 3612"},
                   {"", ""},
                   {"   ", ""},
                   {"n/a", ""},
               },
               FormatInsuranceNumber);
}

TEST(MapCivilityToTitle, FollowsTheFixedTable)
{
    const std::vector<std::pair<qint64, int>> cases = {
        {1, 1}, {2, 0}, {3, 2}, {4, 0}, {5, 2}, {99, 2}, {-1, 2},
    };
    for (const auto& [code, title] : cases)
        EXPECT_EQ(MapCivilityToTitle(code), title) << "code " << code;
}

TEST(TrimmedText, RemovesOnlyCodes32AndBelowAtBothEnds)
{
    expectEach({
                   {"  Asthme  ", "Asthme"},
                   {"\t\r\nAsthme\x01", "Asthme"},
                   {"Jean  Paul", "Jean  Paul"},
                   {QString::fromUtf8("\u00a0Asthme\u00a0"), QString::fromUtf8("\u00a0Asthme\u00a0")},
                   {"   ", ""},
                   {"", ""},
               },
               trimmedText);
}

} // namespace
} // namespace p1

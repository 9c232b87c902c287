#include "app/TextFiles.h"

#include "app/AppError.h"
#include "app/MemoProcessor.h"

#include <QFile>
#include <QTemporaryDir>
#include <gtest/gtest.h>

using namespace std::chrono_literals;

TEST(TextFiles, IntegersFollowTheConfigurationRules)
{
    EXPECT_EQ(ParseInteger("16"), 16);
    EXPECT_EQ(ParseInteger("06"), 6);
    EXPECT_EQ(ParseInteger("$10"), 16);
    EXPECT_EQ(ParseInteger("0x10"), 16);
    EXPECT_EQ(ParseInteger("0X1f"), 31);
    EXPECT_EQ(ParseInteger("-1"), -1);
    EXPECT_EQ(ParseInteger("+8"), 8);
    EXPECT_EQ(ParseInteger("-2147483648"), std::numeric_limits<int>::min());
    EXPECT_EQ(ParseInteger("2147483647"), std::numeric_limits<int>::max());
    for (const char* bad : { "", "-", "$", "0x", "1.5", "abc", "12a", "$1g", " 6", "6 ", "2147483648",
             "99999999999999999999", "- 5", "0x-1", "x10", "X8", "$x1", "0$1" })
        EXPECT_FALSE(ParseInteger(QString::fromLatin1(bad)).has_value()) << bad;
}

TEST(TextFiles, TrimRemovesWhiteSpaceAndControlCharacters)
{
    EXPECT_EQ(TrimControl(QStringLiteral(" \t\r\n 6 \x01\x1f")), QStringLiteral("6"));
    EXPECT_EQ(TrimControl(QStringLiteral("  ")), QString());
    EXPECT_EQ(TrimControl(QStringLiteral(" a b ")), QStringLiteral("a b"));
}

TEST(TextFiles, ElapsedTimeShowsMilliseconds)
{
    EXPECT_EQ(TMemoProcessor::FormatElapsed(12ms), QStringLiteral("0:00:00.012"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(0ns), QStringLiteral("0:00:00.000"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(999us), QStringLiteral("0:00:00.000"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(3h + 4min + 5s + 678ms), QStringLiteral("3:04:05.678"));
    EXPECT_EQ(TMemoProcessor::FormatElapsed(27h), QStringLiteral("27:00:00.000"));
}

TEST(TextFiles, AtomicWriteReplacesWholeOrKeepsTheOldFile)
{
    QTemporaryDir dir;
    const QString path = dir.filePath("a.txt");
    WriteFileAtomically(path, "first");
    WriteFileAtomically(path, "second");
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::ReadOnly));
    EXPECT_EQ(file.readAll(), QByteArray("second"));

    try {
        WriteFileAtomically(dir.filePath("missing/b.txt"), "x");
        FAIL() << "no error";
    } catch (const TAppError& error) {
        EXPECT_TRUE(
            QString::fromUtf8(error.what())
                .startsWith(QStringLiteral("Cannot create file \"%1\". ").arg(dir.filePath("missing/b.txt"))))
            << error.what();
    }
}

#include "text/FileMessage.h"

#include <gtest/gtest.h>

namespace kestrove {
namespace {

TEST(FileMessage, UnprintableCharactersAreEscaped)
{
    struct Case
    {
        QString text;
        const char* printable;
    };
    const Case cases[] = {
        {QStringLiteral("M31\t00:42:44"), "M31\\t00:42:44"},
        {QStringLiteral("a\r\nb"), "a\\r\\nb"},
        {QString(QChar(0)) + QStringLiteral("x"), "\\x00x"},
        {QStringLiteral("\x01\x1f\x7f"), "\\x01\\x1f\\x7f"},
        {QString(QChar(0x85)), "\\x85"},
        // Latin-1 letters, blanks, quotes and backslashes stay as they are.
        {QStringLiteral("Caf\u00e9 \"C:\\x\""), "Caf\u00e9 \"C:\\x\""},
        {QString(), ""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(printableText(c.text), QString::fromUtf8(c.printable)) << c.printable;
}

TEST(FileMessage, NamesTheFileTheLineAndTheText)
{
    struct Case
    {
        QString file;
        qint64 line;
        QString text;
        const char* message;
    };
    const Case cases[] = {
        {QStringLiteral("SNeTargets.txt"), 41, QStringLiteral("NGC1 12:00"),
         "SNeTargets.txt line 41: Parse error - First tab missing: \"NGC1 12:00\""},
        {QStringLiteral("SNeTargets.txt"), 0, QStringLiteral("x"),
         "SNeTargets.txt: Parse error - First tab missing: \"x\""},
        {QString(), 7, QStringLiteral("a\tb"), "Parse error - First tab missing: \"a\\tb\""},
    };
    for (const Case& c : cases)
        EXPECT_EQ(lineMessage(c.file, c.line, QStringLiteral("Parse error - First tab missing"), c.text),
                  QString::fromUtf8(c.message));
    // A line break in the message itself cannot split what is shown.
    EXPECT_EQ(lineMessage(QStringLiteral("f.txt"), 2, QStringLiteral("bad\nkey"), QStringLiteral("k")),
              QStringLiteral("f.txt line 2: bad\\nkey: \"k\""));
}

} // namespace
} // namespace kestrove

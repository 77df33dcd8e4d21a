#include "TLDesktopEntry.h"

#include <gtest/gtest.h>

namespace {

TEST(TLDesktopEntryTest, ExecArgumentsAreQuotedOnlyWhenNeededAndReadBackWhole) {
    const struct {
        QString argument;
        QString quoted; // before the value escapes
        QString inFile; // as the Exec line carries it
    } rows[] = {
        {"/usr/bin/tilora", "/usr/bin/tilora", "/usr/bin/tilora"},
        {"/opt/Meine Programme/Tilora.app/Contents/MacOS/Tilora",
         "\"/opt/Meine Programme/Tilora.app/Contents/MacOS/Tilora\"",
         "\"/opt/Meine Programme/Tilora.app/Contents/MacOS/Tilora\""},
        {"/a\"b", "\"/a\\\"b\"", "\"/a\\\\\"b\""},
        {"/a$b`c", "\"/a\\$b\\`c\"", "\"/a\\\\$b\\\\`c\""},
        {"/a\\b", "\"/a\\\\b\"", "\"/a\\\\\\\\b\""},
        {"/a'b;c&(d)", "\"/a'b;c&(d)\"", "\"/a'b;c&(d)\""},
        {"/100%/x", "/100%%/x", "/100%%/x"},
        {"/100% x", "\"/100%% x\"", "\"/100%% x\""},
        {"/Übersicht/⌘", "/Übersicht/⌘", "/Übersicht/⌘"},
        {"", "\"\"", "\"\""},
    };
    for (const auto& row : rows) {
        const std::optional<QString> quoted = TLDesktopEntry::quoteExecArgument(row.argument);
        ASSERT_TRUE(quoted) << row.argument.toStdString();
        EXPECT_EQ(*quoted, row.quoted) << row.argument.toStdString();
        EXPECT_EQ(TLDesktopEntry::escapeValue(*quoted), row.inFile) << row.argument.toStdString();
        EXPECT_EQ(TLDesktopEntry::splitExec(TLDesktopEntry::unescapeValue(row.inFile)),
                  QStringList{row.argument})
            << row.argument.toStdString();
    }
    for (const QString& unusable :
         {QStringLiteral("/a\nb"), QStringLiteral("/a\tb"), QStringLiteral("/a\x7f")}) {
        EXPECT_FALSE(TLDesktopEntry::quoteExecArgument(unusable));
    }
}

TEST(TLDesktopEntryTest, SplitExecSeparatesArgumentsAndRefusesOpenQuotes) {
    EXPECT_EQ(TLDesktopEntry::splitExec("prog  --flag \"two words\" %u"),
              QStringList({"prog", "--flag", "two words", "%u"}));
    EXPECT_EQ(TLDesktopEntry::splitExec(""), QStringList());
    EXPECT_FALSE(TLDesktopEntry::splitExec("\"/opt/unterminated"));
    EXPECT_FALSE(TLDesktopEntry::splitExec("prog \"a\\\""));
}

TEST(TLDesktopEntryTest, ReadGroupTakesOnlyTheNamedGroup) {
    const QByteArray content = "# comment\r\n"
                               "[Desktop Action x]\n"
                               "Exec=wrong\n"
                               "[Desktop Entry]\r\n"
                               "Type = Application\r\n"
                               "Exec=first\n"
                               "Exec=second\n"
                               "Name[de]=Fenster\n"
                               "Path= /opt/x\u00a0\u2028\t\n" // only spaces and tabs are trimmed
                               "   \n"
                               "NoEquals\n"
                               "[Other]\n"
                               "Hidden=true\n";
    const auto keys = TLDesktopEntry::readGroup(content);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->value("Type"), QStringLiteral("Application"));
    EXPECT_EQ(keys->value("Exec"), QStringLiteral("first"));
    EXPECT_EQ(keys->value("Name[de]"), QStringLiteral("Fenster"));
    EXPECT_EQ(keys->value("Path"), QStringLiteral("/opt/x\u00a0\u2028"));
    EXPECT_FALSE(keys->contains("Hidden"));
    EXPECT_FALSE(keys->contains("NoEquals"));

    EXPECT_FALSE(TLDesktopEntry::readGroup("[Other]\nExec=x\n"));
    EXPECT_FALSE(TLDesktopEntry::readGroup("[Desktop Entry]\nName=\xff\xfe\n"));
    EXPECT_EQ(TLDesktopEntry::booleanValue("true"), true);
    EXPECT_EQ(TLDesktopEntry::booleanValue("false"), false);
    EXPECT_FALSE(TLDesktopEntry::booleanValue("True"));
}

} // namespace

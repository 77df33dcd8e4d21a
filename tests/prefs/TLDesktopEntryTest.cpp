#include "TLDesktopEntry.h"
#include "TLTest.h"

TEST(TLDesktopEntry, ExecArgumentsAreQuotedOnlyWhenNeededAndReadBackWhole) {
    const struct {
        QString argument, quoted /* before the value escapes */, inFile /* as the Exec line carries it */;
    } rows[] = {
        {"/usr/bin/tilora", "/usr/bin/tilora", "/usr/bin/tilora"},
        {"/opt/Meine Programme/Tilora", "\"/opt/Meine Programme/Tilora\"", "\"/opt/Meine Programme/Tilora\""},
        {"/a\"b", "\"/a\\\"b\"", "\"/a\\\\\"b\""},
        {"/a$b`c", "\"/a\\$b\\`c\"", "\"/a\\\\$b\\\\`c\""},
        {"/a\\b", "\"/a\\\\b\"", "\"/a\\\\\\\\b\""},
        {"/a'b;c&(d)", "\"/a'b;c&(d)\"", "\"/a'b;c&(d)\""},
        {"/100% x", "\"/100%% x\"", "\"/100%% x\""},
        {"/Übersicht/⌘", "/Übersicht/⌘", "/Übersicht/⌘"},
        {"", "\"\"", "\"\""},
    };
    for (const auto& row : rows) {
        SCOPED_TRACE(row.argument.toStdString());
        EXPECT_EQ(TLDesktopEntry::quoteExecArgument(row.argument), row.quoted);
        EXPECT_EQ(TLDesktopEntry::escapeValue(row.quoted), row.inFile);
        EXPECT_EQ(TLDesktopEntry::splitExec(TLDesktopEntry::unescapeValue(row.inFile)),
                  QStringList{row.argument});
    }
    for (const char* unusable : {"/a\nb", "/a\tb", "/a\x7f"}) {
        EXPECT_FALSE(TLDesktopEntry::quoteExecArgument(unusable));
    }
    EXPECT_EQ(TLDesktopEntry::splitExec("prog  --flag \"two words\" %u"),
              QStringList({"prog", "--flag", "two words", "%u"}));
    EXPECT_FALSE(TLDesktopEntry::splitExec("\"/opt/unterminated"));
    EXPECT_FALSE(TLDesktopEntry::splitExec("prog \"a\\\""));
}

TEST(TLDesktopEntry, ReadGroupTakesOnlyTheNamedGroup) {
    const auto keys =
        TLDesktopEntry::readGroup("# comment\r\n[Desktop Action x]\nExec=wrong\n[Desktop Entry]\r\n"
                                  "Type = Application\r\nExec=first\nExec=second\nName[de]=Fenster\n"
                                  "   \nNoEquals\n[Other]\nHidden=true\n");
    ASSERT_TRUE(keys);
    EXPECT_EQ(*keys,
              (QMap<QString, QString>{{"Type", "Application"}, {"Exec", "first"}, {"Name[de]", "Fenster"}}));
    EXPECT_FALSE(TLDesktopEntry::readGroup("[Other]\nExec=x\n"));
    EXPECT_FALSE(TLDesktopEntry::readGroup("[Desktop Entry]\nName=\xff\xfe\n"));
    EXPECT_EQ(TLDesktopEntry::booleanValue("true"), true);
    EXPECT_EQ(TLDesktopEntry::booleanValue("false"), false);
    EXPECT_FALSE(TLDesktopEntry::booleanValue("True"));
}

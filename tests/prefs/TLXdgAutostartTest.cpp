#include "TLXdgAutostart.h"
#include "TLDesktopEntry.h"
#include "TLLoginItem.h"
#include "TLTest.h"

namespace {

// Start at login through the real XDG backend, in a private configuration folder.
class TLXdgAutostartTest : public ::testing::Test {
protected:
    void install(const QString& name, const QString& executable) {
        service = std::make_unique<TLXdgAutostart>(name, executable);
        item = std::make_unique<TLLoginItem>(*service);
    }
    QString entry() const { return autostart + "/org.tilora.Tilora.desktop"; }

    QTemporaryDir dir;
    TLScopedEnv env{"XDG_CONFIG_HOME", dir.filePath("config").toUtf8()};
    QString autostart = dir.filePath("config/autostart");
    QString executable = dir.filePath("Meine Programme/Tilora.app/Contents/MacOS/Tilora");
    std::unique_ptr<TLXdgAutostart> service;
    std::unique_ptr<TLLoginItem> item;
};

TEST_F(TLXdgAutostartTest, EnableWritesAnEntryThatStartsThisProgramAndDisableRemovesOnlyIt) {
    install("org.tilora.Tilora", executable);
    ASSERT_TRUE(tlWrite(autostart + "/other.desktop", "[Desktop Entry]\nExec=/usr/bin/other\n"));
    EXPECT_EQ(service->entryPath(), entry());
    EXPECT_FALSE(item->isEnabled());
    for (int twice = 0; twice < 2; ++twice) {
        TLError error;
        ASSERT_TRUE(item->setEnabled(true, &error)) << error.localizedDescription.toStdString();
        EXPECT_TRUE(item->isEnabled());
    }
    const QByteArray contents = tlRead(entry());
    const auto keys = TLDesktopEntry::readGroup(contents);
    ASSERT_TRUE(keys && contents.startsWith("[Desktop Entry]\n"));
    EXPECT_EQ(keys->value("Type"), "Application");
    EXPECT_EQ(keys->value("Name"), "Tilora");
    EXPECT_FALSE(keys->contains("Hidden"));
    // The path has spaces: the whole of it is one quoted argument.
    EXPECT_TRUE(contents.contains("\nExec=\"" + executable.toUtf8() + "\"\n")) << contents.toStdString();
    for (int twice = 0; twice < 2; ++twice) {
        EXPECT_TRUE(item->setEnabled(false));
        EXPECT_FALSE(QFileInfo::exists(entry()));
    }
    EXPECT_EQ(tlRead(autostart + "/other.desktop"), "[Desktop Entry]\nExec=/usr/bin/other\n");
}

TEST_F(TLXdgAutostartTest, StatusFollowsWhatIsInTheEntry) {
    install("org.tilora.Tilora", executable);
    const QByteArray program =
        TLDesktopEntry::escapeValue(*TLDesktopEntry::quoteExecArgument(executable)).toUtf8();
    const std::pair<QByteArray, TLLoginItemStatus> rows[] = {
        {"[Desktop Entry]\nExec=PROGRAM\nHidden=true\n", TLLoginItemStatus::RequiresApproval},
        {"[Desktop Entry]\nExec=PROGRAM\nX-GNOME-Autostart-enabled=false\n",
         TLLoginItemStatus::RequiresApproval},
        {"[Desktop Entry]\nExec=PROGRAM --flag\nHidden=false\n", TLLoginItemStatus::Enabled},
        {"[Desktop Entry]\nExec=/usr/bin/other\n", TLLoginItemStatus::NotFound},
        {"[Desktop Entry]\nType=Application\n", TLLoginItemStatus::NotFound},
        {"[Desktop Entry]\nExec=\"/opt/x\n", TLLoginItemStatus::NotFound},
        {"garbage", TLLoginItemStatus::NotFound},
    };
    for (const auto& [contents, status] : rows) {
        ASSERT_TRUE(tlWrite(entry(), QByteArray(contents).replace("PROGRAM", program)));
        EXPECT_EQ(service->status(), status) << contents.toStdString();
        EXPECT_EQ(item->isEnabled(), status == TLLoginItemStatus::Enabled);
    }
    ASSERT_TRUE(item->setEnabled(true)); // switching on repairs any of them
    EXPECT_TRUE(item->isEnabled());
}

TEST_F(TLXdgAutostartTest, FailuresAreReportedReadablyAndChangeNothing) {
    install("org.tilora.Tilora", executable);
    // A regular file where the folder belongs (root cannot create the folder either), and a
    // folder with contents in place of the entry file.
    const std::tuple<QString, bool, qint64> rows[] = {
        {autostart, true, TLXdgAutostart::kFolderNotCreated},
        {entry() + "/inside", true, TLXdgAutostart::kNotWritten},
        {entry() + "/inside", false, TLXdgAutostart::kNotRemoved}};
    for (const auto& [blocker, enabled, code] : rows) {
        ASSERT_TRUE(tlWrite(blocker, "kept"));
        TLError error;
        EXPECT_FALSE(item->setEnabled(enabled, &error));
        EXPECT_EQ(std::pair(error.domain, error.code), std::pair(QString("XDGAutostart"), code));
        EXPECT_TRUE(error.localizedDescription.startsWith("Der Autostart-") &&
                    error.localizedDescription.contains(autostart))
            << error.localizedDescription.toStdString();
        EXPECT_EQ(tlRead(blocker), "kept");
        QDir(dir.filePath("config")).removeRecursively();
    }
    // Programs an entry cannot carry, and names that would leave the folder.
    for (const QString& program : {QString("/opt/Tilora\n--evil"), QString("relative/Tilora"), QString()}) {
        install("org.tilora.Tilora", program);
        TLError error;
        EXPECT_FALSE(item->setEnabled(true, &error));
        EXPECT_EQ(error.code, TLXdgAutostart::kUnusableProgram);
    }
    // Then the login item refuses with its own message.
    for (const QString& name : {QString("../escape"), QString(".hidden"), QString()}) {
        install(name, executable);
        TLError error;
        EXPECT_FALSE(item->isAvailable() || item->setEnabled(true, &error)) << name.toStdString();
        EXPECT_EQ(error.localizedDescription, TLLoginItem::unavailableError().localizedDescription);
    }
    EXPECT_FALSE(QFileInfo::exists(dir.filePath("config")));
}

} // namespace

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

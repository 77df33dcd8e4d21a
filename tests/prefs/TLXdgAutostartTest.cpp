#include "TLXdgAutostart.h"
#include "TLBundle.h"
#include "TLDesktopEntry.h"
#include "TLLoginItem.h"
#include "TLPropertyList.h"
#include "settings/TLScopedEnv.h"

#include <QDir>
#include <QFile>
#include <QTemporaryDir>

#include <gtest/gtest.h>

#include <memory>

namespace {

QByteArray readAll(const QString& path) {
    QFile file(path);
    return file.open(QIODevice::ReadOnly) ? file.readAll() : QByteArray();
}

void writeAll(const QString& path, const QByteArray& data) {
    ASSERT_TRUE(QDir().mkpath(QFileInfo(path).absolutePath()));
    QFile file(path);
    ASSERT_TRUE(file.open(QIODevice::WriteOnly | QIODevice::Truncate));
    ASSERT_EQ(file.write(data), data.size());
}

// Start at login against a private configuration folder, through the real XDG backend.
class TLXdgAutostartTest : public ::testing::Test {
protected:
    void SetUp() override {
        ASSERT_TRUE(dir_.isValid());
        env_ = std::make_unique<TLScopedEnv>("XDG_CONFIG_HOME",
                                             (dir_.path() + QStringLiteral("/config")).toUtf8());
        executable_ = dir_.path() + QStringLiteral("/Meine Programme/Tilora.app/Contents/MacOS/Tilora");
        install(QStringLiteral("org.tilora.Tilora"), executable_);
    }
    void install(const QString& name, const QString& executable) {
        service_ = std::make_unique<TLXdgAutostart>(name, executable);
        item_ = std::make_unique<TLLoginItem>(*service_);
    }
    QString autostart() const { return dir_.path() + QStringLiteral("/config/autostart"); }
    QString entry() const { return autostart() + QStringLiteral("/org.tilora.Tilora.desktop"); }

    QTemporaryDir dir_;
    std::unique_ptr<TLScopedEnv> env_;
    QString executable_;
    std::unique_ptr<TLXdgAutostart> service_;
    std::unique_ptr<TLLoginItem> item_;
};

TEST_F(TLXdgAutostartTest, EnableWritesAValidEntryThatStartsThisProgram) {
    ASSERT_TRUE(item_->isAvailable());
    EXPECT_EQ(service_->entryPath(), entry());
    EXPECT_FALSE(item_->isEnabled());

    TLError error;
    ASSERT_TRUE(item_->setEnabled(true, &error)) << error.localizedDescription.toStdString();
    EXPECT_TRUE(item_->isEnabled());

    const QByteArray contents = readAll(entry());
    EXPECT_TRUE(contents.startsWith("[Desktop Entry]\n"));
    const auto keys = TLDesktopEntry::readGroup(contents);
    ASSERT_TRUE(keys);
    EXPECT_EQ(keys->value("Type"), QStringLiteral("Application"));
    EXPECT_EQ(keys->value("Name"), QStringLiteral("Tilora"));
    EXPECT_FALSE(keys->contains("Hidden"));
    // The path has spaces: the whole of it is one quoted argument.
    EXPECT_TRUE(contents.contains("\nExec=\"" + executable_.toUtf8() + "\"\n")) << contents.toStdString();
    EXPECT_EQ(TLDesktopEntry::splitExec(TLDesktopEntry::unescapeValue(keys->value("Exec"))),
              QStringList{executable_});
}

TEST_F(TLXdgAutostartTest, TwiceIsHarmlessAndForeignEntriesAreLeftUntouched) {
    const QByteArray foreign = "[Desktop Entry]\nType=Application\nName=Other\nExec=/usr/bin/other\n";
    writeAll(autostart() + QStringLiteral("/other.desktop"), foreign);
    writeAll(entry() + QStringLiteral(".bak"), "kept");

    ASSERT_TRUE(item_->setEnabled(true));
    const QByteArray first = readAll(entry());
    ASSERT_TRUE(item_->setEnabled(true));
    EXPECT_EQ(readAll(entry()), first);
    EXPECT_EQ(QDir(autostart()).entryList(QDir::Files | QDir::Hidden).size(), 3);
    EXPECT_TRUE(item_->isEnabled());

    for (int i = 0; i < 2; ++i) {
        TLError error;
        EXPECT_TRUE(item_->setEnabled(false, &error)) << error.localizedDescription.toStdString();
        EXPECT_FALSE(QFileInfo::exists(entry()));
        EXPECT_FALSE(item_->isEnabled());
    }
    EXPECT_EQ(readAll(autostart() + QStringLiteral("/other.desktop")), foreign);
    EXPECT_EQ(readAll(entry() + QStringLiteral(".bak")), "kept");
}

TEST_F(TLXdgAutostartTest, StatusFollowsWhatIsInTheEntry) {
    const struct {
        const char* name;
        QByteArray contents;
        TLLoginItemStatus status;
    } rows[] = {
        {"hidden", "[Desktop Entry]\nType=Application\nExec=PROGRAM\nHidden=true\n",
         TLLoginItemStatus::RequiresApproval},
        {"switchedOff", "[Desktop Entry]\nExec=PROGRAM\nX-GNOME-Autostart-enabled=false\n",
         TLLoginItemStatus::RequiresApproval},
        {"notHidden", "[Desktop Entry]\nExec=PROGRAM --flag\nHidden=false\n", TLLoginItemStatus::Enabled},
        {"otherProgram", "[Desktop Entry]\nExec=/usr/bin/other\n", TLLoginItemStatus::NotFound},
        {"noExec", "[Desktop Entry]\nType=Application\n", TLLoginItemStatus::NotFound},
        {"brokenQuotes", "[Desktop Entry]\nExec=\"/opt/x\n", TLLoginItemStatus::NotFound},
        {"noGroup", "garbage", TLLoginItemStatus::NotFound},
    };
    const QByteArray program =
        TLDesktopEntry::escapeValue(*TLDesktopEntry::quoteExecArgument(executable_)).toUtf8();
    for (const auto& row : rows) {
        writeAll(entry(), QByteArray(row.contents).replace("PROGRAM", program));
        EXPECT_EQ(service_->status(), row.status) << row.name;
        EXPECT_EQ(item_->isEnabled(), row.status == TLLoginItemStatus::Enabled) << row.name;
    }
    // Switching on repairs any of them.
    ASSERT_TRUE(item_->setEnabled(true));
    EXPECT_TRUE(item_->isEnabled());
}

TEST_F(TLXdgAutostartTest, FailuresAreReportedReadablyAndChangeNothing) {
    // A regular file where the folder belongs (root cannot create the folder either), and a
    // folder with contents in place of the entry file.
    const QString inEntry = QStringLiteral("/config/autostart/org.tilora.Tilora.desktop/inside");
    const struct {
        QString blocker;
        bool enabled;
        qint64 code;
    } rows[] = {{QStringLiteral("/config/autostart"), true, TLXdgAutostart::kFolderNotCreated},
                {inEntry, true, TLXdgAutostart::kNotWritten},
                {inEntry, false, TLXdgAutostart::kNotRemoved}};
    for (const auto& row : rows) {
        SCOPED_TRACE(row.code);
        writeAll(dir_.path() + row.blocker, "kept");
        TLError error;
        EXPECT_FALSE(item_->setEnabled(row.enabled, &error));
        EXPECT_EQ(error.domain, QStringLiteral("XDGAutostart"));
        EXPECT_EQ(error.code, row.code);
        // Names what could not be done and where.
        EXPECT_TRUE(error.localizedDescription.startsWith(QStringLiteral("Der Autostart-")) &&
                    error.localizedDescription.contains(autostart()))
            << error.localizedDescription.toStdString();
        EXPECT_FALSE(item_->isEnabled());
        EXPECT_EQ(readAll(dir_.path() + row.blocker), "kept");
        QDir(dir_.path() + QStringLiteral("/config")).removeRecursively();
    }
}

TEST_F(TLXdgAutostartTest, ProgramsAndNamesAnEntryCannotCarryAreRefused) {
    // Program paths: the entry would break or start something else.
    for (const QString& program :
         {QStringLiteral("/opt/Tilora\n--evil"), QStringLiteral("relative/Tilora"), QString()}) {
        install(QStringLiteral("org.tilora.Tilora"), program);
        TLError error;
        EXPECT_FALSE(item_->setEnabled(true, &error)) << program.toStdString();
        EXPECT_EQ(error.code, TLXdgAutostart::kUnusableProgram);
    }
    // Names that would leave the folder: not available at all.
    for (const QString& name : {QStringLiteral("../escape"), QStringLiteral(".hidden"), QString()}) {
        install(name, executable_);
        EXPECT_FALSE(item_->isAvailable()) << name.toStdString();
        TLError error;
        EXPECT_FALSE(item_->setEnabled(true, &error));
        EXPECT_EQ(error.domain, QStringLiteral("Tilora"));
    }
    EXPECT_FALSE(QFileInfo::exists(dir_.path() + QStringLiteral("/config")));
}

TEST_F(TLXdgAutostartTest, TheBundleNamesAndStartsTheEntry) {
    const QString bundle = dir_.path() + QStringLiteral("/Apps/Tilora.app");
    TLPropertyList::Node info = TLPropertyList::fromVariant(
        QVariantMap{{QStringLiteral("CFBundleIdentifier"), QStringLiteral("org.example.Tiles")},
                    {QStringLiteral("CFBundleExecutable"), QStringLiteral("tilora")}});
    writeAll(bundle + QStringLiteral("/Contents/Info.plist"), TLPropertyList::toXml(info.get()));
    const std::unique_ptr<TLXdgAutostart> service = TLXdgAutostart::forBundle(TLBundle(bundle));

    EXPECT_EQ(service->entryPath(), autostart() + QStringLiteral("/org.example.Tiles.desktop"));
    EXPECT_TRUE(service->entryContents()->contains("\nExec=" + bundle.toUtf8() + "/Contents/MacOS/tilora\n"));
}

} // namespace

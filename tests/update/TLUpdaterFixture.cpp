#include "TLUpdaterFixture.h"

#include "TLFileOps.h"

#include <QDir>

TLUpdaterFixture::TLUpdaterFixture() {
    context_.bundlePath = dir_.filePath(QStringLiteral("Programme/Tilora.app"));
    context_.bundleIdentifier = QStringLiteral("org.tilora.Tilora");
    context_.feedUrl = server_.url(QStringLiteral("/appcast.json"));
    context_.tempDir = dir_.filePath(QStringLiteral("tmp"));
    context_.extractTool = QStringLiteral("/usr/bin/bsdtar");
    context_.allowHttpLoopback = true;
    QDir().mkpath(context_.tempDir);
    presenter_.busyProbe = [this] { return updater_ && updater_->busy(); };
}

TLUpdaterFixture::~TLUpdaterFixture() {
    updater_.reset();
    TLFileOps::removeItem(dir_.path()); // also folders a test made read-only
}

TLUpdater& TLUpdaterFixture::updater() {
    if (!updater_) {
        updater_ = std::make_unique<TLUpdater>(defaults_, presenter_, context_);
    }
    return *updater_;
}

void TLUpdaterFixture::expectAlert(const QString& title, const QString& text) const {
    ASSERT_EQ(presenter_.alerts.size(), 1);
    EXPECT_EQ(presenter_.alerts[0].title, title);
    EXPECT_EQ(presenter_.alerts[0].text, text);
}

void TLUpdaterFixture::expectNoLeftovers(const QString& installFolder) const {
    const auto all = QDir::AllEntries | QDir::Hidden | QDir::System | QDir::NoDotAndDotDot;
    EXPECT_EQ(QDir(context_.tempDir).entryList({QStringLiteral("tilora-*")}, all), QStringList());
    EXPECT_EQ(QDir(installFolder).entryList(all), QStringList({QStringLiteral("Tilora.app")}));
}

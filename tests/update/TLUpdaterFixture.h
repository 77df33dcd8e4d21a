#pragma once

#include "TLLog.h"
#include "TLRecordingPresenter.h"
#include "TLTestHttpServer.h"
#include "TLUpdater.h"
#include "TLUpdaterContext.h"
#include "TLUserDefaults.h"

#include <gtest/gtest.h>

#include <QTemporaryDir>

#include <memory>

// The surroundings of one updater under test: a temporary folder (with the install folder
// "Programme" and the temp folder "tmp" inside), a local server for the feed, a settings
// file, a recording presenter, and the updater itself, built on first use from the context.
class TLUpdaterFixture : public ::testing::Test {
public:
    TLUpdaterFixture();
    ~TLUpdaterFixture() override;

    TLUpdater& updater();
    // Exactly one alert was shown, with these texts.
    void expectAlert(const QString& title, const QString& text) const;
    // No work directory or download left in the temp folder, nothing but "Tilora.app" in the
    // install folder (no backup).
    void expectNoLeftovers(const QString& installFolder) const;

    QTemporaryDir dir_;
    TLTestHttpServer server_;
    TLLog log_{nullptr};
    TLUserDefaults defaults_{dir_.filePath(QStringLiteral("Tilora.plist")), log_};
    TLUpdaterContext context_;
    TLRecordingPresenter presenter_;
    std::unique_ptr<TLUpdater> updater_;
};

#pragma once

#include "TLTest.h"
#include <QDesktopServices>
#include <QObject>

// Catches the web addresses the code under test would open in a browser, while it lives.
class TLUrlCatcher : public QObject {
    Q_OBJECT

public:
    TLUrlCatcher() { QDesktopServices::setUrlHandler("https", this, "open"); }
    ~TLUrlCatcher() override { QDesktopServices::unsetUrlHandler("https"); }

    QList<QUrl> urls;

public slots:
    void open(const QUrl& url) { urls.append(url); }
};

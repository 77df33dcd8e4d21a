#pragma once

#include <QString>
#include <QStringList>

// What the updater shows and asks of the application: modal alerts, bringing the application
// in front, and ending it for the relaunch. The application installs a Qt implementation;
// tests record the calls instead of blocking.
class TLUpdatePresenter {
public:
    virtual ~TLUpdatePresenter() = default;

    // Brings the application in front so that the next alert is seen.
    virtual void activate() = 0;
    // Shows a modal alert and blocks until it is dismissed. Without buttons it carries the one
    // default button. Returns the index of the chosen button (0 for the first, the default).
    virtual int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) = 0;
    // Asks the application to end normally.
    virtual void terminate() = 0;
};

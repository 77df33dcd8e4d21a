#pragma once

#include "TLUpdatePresenter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Records what the updater shows instead of blocking; answers the offer as told.
class TLRecordingPresenter : public TLUpdatePresenter {
public:
    struct Alert {
        QString title;
        QString text;
        QStringList buttons;
        bool busyWhileShown = false;
    };

    void activate() override { ++activations; }
    int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) override {
        alerts.append({title, text, buttons, busyProbe ? busyProbe() : false});
        if (whileShown) {
            whileShown(alerts.last());
        }
        return buttons.isEmpty() ? 0 : answer;
    }
    void terminate() override { ++terminations; }

    QList<Alert> alerts;
    int activations = 0;
    int terminations = 0;
    int answer = 1; // "Später" unless a test accepts
    std::function<bool()> busyProbe;
    std::function<void(const Alert&)> whileShown;
};

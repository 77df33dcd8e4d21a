#pragma once

#include "TLUpdatePresenter.h"

#include <QList>
#include <QString>
#include <QStringList>

#include <functional>

// Records what the updater shows instead of blocking; an offer is put off ("Später").
class TLRecordingPresenter : public TLUpdatePresenter {
public:
    struct Alert {
        QString title, text;
        QStringList buttons;
        bool busyWhileShown;
    };
    void activate() override { ++activations; }
    int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) override {
        alerts.append({title, text, buttons, busyProbe && busyProbe()});
        if (whileShown) {
            whileShown(alerts.last());
        }
        return buttons.isEmpty() ? 0 : 1;
    }
    void terminate() override { ++terminations; }

    QList<Alert> alerts;
    int activations = 0, terminations = 0;
    std::function<bool()> busyProbe;
    std::function<void(const Alert&)> whileShown;
};

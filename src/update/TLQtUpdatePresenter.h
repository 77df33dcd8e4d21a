#pragma once

#include "TLUpdatePresenter.h"

// Alerts as QMessageBox, termination through QCoreApplication::quit().
class TLQtUpdatePresenter : public TLUpdatePresenter {
public:
    void activate() override;
    int runModalAlert(const QString& title, const QString& text, const QStringList& buttons) override;
    void terminate() override;
};

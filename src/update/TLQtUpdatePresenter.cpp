#include "TLQtUpdatePresenter.h"

#include <QAbstractButton>
#include <QCoreApplication>
#include <QLabel>
#include <QList>
#include <QMessageBox>
#include <QPushButton>

void TLQtUpdatePresenter::activate() {
    // A tray application has no window of its own to raise; the alert raises itself below.
}

int TLQtUpdatePresenter::runModalAlert(const QString& title, const QString& text,
                                       const QStringList& buttons) {
    QMessageBox box;
    box.setWindowTitle(QStringLiteral("Tilora"));
    // The texts may come from the feed: never let them be read as markup.
    box.setTextFormat(Qt::PlainText);
    box.setText(title);
    box.setInformativeText(text);
    if (auto* informative = box.findChild<QLabel*>(QStringLiteral("qt_msgbox_informativelabel"))) {
        informative->setTextFormat(Qt::PlainText);
    }
    box.setWindowFlag(Qt::WindowStaysOnTopHint);
    QList<QAbstractButton*> added;
    if (buttons.isEmpty()) {
        box.setStandardButtons(QMessageBox::Ok);
    } else {
        for (qsizetype i = 0; i < buttons.size(); ++i) {
            // The first button is the default; any later one may also be chosen with Escape.
            const auto role = i == 0 ? QMessageBox::AcceptRole : QMessageBox::RejectRole;
            QPushButton* button = box.addButton(buttons[i], role);
            added.append(button);
            if (i == 0) {
                box.setDefaultButton(button);
            }
        }
    }
    box.raise();
    box.activateWindow();
    box.exec();
    const qsizetype index = added.indexOf(box.clickedButton());
    return index < 0 ? static_cast<int>(added.size() > 1 ? 1 : 0) : static_cast<int>(index);
}

void TLQtUpdatePresenter::terminate() {
    QCoreApplication::quit();
}

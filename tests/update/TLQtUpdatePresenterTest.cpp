#include "TLQtUpdatePresenter.h"
#include "TLQtTestApplication.h"

#include <gtest/gtest.h>

#include <QApplication>
#include <QMessageBox>
#include <QPushButton>
#include <QTest>
#include <QTimer>

#include <functional>

namespace {

struct Seen {
    QString text;
    QString informative;
    QStringList buttons;
    QString defaultButton;
};

// Runs the alert and, once it is on screen, records it and lets `act` close it.
int runAndAct(const QString& title, const QString& text, const QStringList& buttons, Seen* seen,
              const std::function<void(QMessageBox*)>& act) {
    QTimer poll;
    poll.setInterval(10);
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            return;
        }
        poll.stop();
        seen->text = box->text();
        seen->informative = box->informativeText();
        for (QAbstractButton* b : box->buttons()) {
            seen->buttons.append(b->text().remove(QLatin1Char('&')));
        }
        seen->defaultButton = box->defaultButton() ? box->defaultButton()->text() : QString();
        act(box);
    });
    poll.start();
    TLQtUpdatePresenter presenter;
    return presenter.runModalAlert(title, text, buttons);
}

} // namespace

TEST(TLQtUpdatePresenter, PlainAlertHasOneButtonAndTheTexts) {
    Seen seen;
    const int result = runAndAct("Update fehlgeschlagen", "Download fehlgeschlagen.", {}, &seen,
                                 [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); });
    EXPECT_EQ(result, 0);
    EXPECT_EQ(seen.text, "Update fehlgeschlagen");
    EXPECT_EQ(seen.informative, "Download fehlgeschlagen.");
    EXPECT_EQ(seen.buttons.size(), 1);
}

TEST(TLQtUpdatePresenter, OfferReportsTheChosenButton) {
    const QStringList buttons{"Jetzt aktualisieren", "Später"};
    struct Row {
        const char* what;
        std::function<void(QMessageBox*)> act;
        int expected;
    };
    const Row rows[] = {
        {"Return takes the default", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Return); }, 0},
        {"click on the second", nullptr, 1},
        {"Escape means later", [](QMessageBox* box) { QTest::keyClick(box, Qt::Key_Escape); }, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Seen seen;
        // Find the buttons by their text: the style decides their order on screen.
        const auto act = [&row, &buttons](QMessageBox* box) {
            if (!row.act) {
                for (QAbstractButton* b : box->buttons()) {
                    if (b->text() == buttons[1]) {
                        b->click();
                    }
                }
                return;
            }
            row.act(box);
        };
        EXPECT_EQ(runAndAct("Tilora 2.0 ist verfügbar", "Installiert ist 1.0.", buttons, &seen, act),
                  row.expected);
        EXPECT_EQ(seen.defaultButton, buttons[0]);
        EXPECT_EQ(seen.buttons.size(), 2);
        EXPECT_TRUE(seen.buttons.contains(buttons[0]) && seen.buttons.contains(buttons[1]));
    }
}

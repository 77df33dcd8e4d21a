#include "TLQtUpdatePresenter.h"
#include "TLQtTestApplication.h"

#include <QLabel>
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
    bool plain = false; // both texts shown as they are, never as markup
};

// Runs the alert and, once it is on screen, records it and lets `act` close it.
int runAndAct(const QStringList& buttons, Seen* seen, const std::function<void(QMessageBox*)>& act) {
    QTimer poll;
    QObject::connect(&poll, &QTimer::timeout, [&] {
        auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
        if (!box || !box->isVisible()) {
            return;
        }
        poll.stop();
        const auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
        *seen = {box->text(),
                 box->informativeText(),
                 {},
                 box->defaultButton() ? box->defaultButton()->text() : "",
                 box->textFormat() == Qt::PlainText && informative &&
                     informative->textFormat() == Qt::PlainText};
        for (QAbstractButton* b : box->buttons()) {
            seen->buttons.append(b->text().remove(QLatin1Char('&')));
        }
        act(box);
    });
    poll.start(10);
    return TLQtUpdatePresenter().runModalAlert("<b>Titel</b>", "<a href=\"x\">Text</a>", buttons);
}

void press(QMessageBox* box, Qt::Key key) {
    QTest::keyClick(box, key);
}

} // namespace

TEST(TLQtUpdatePresenter, ShowsTheTextsAndReportsTheChosenButton) {
    const QStringList offer{"Jetzt aktualisieren", "Später"};
    struct Row {
        const char* what;
        QStringList buttons;
        std::function<void(QMessageBox*)> act;
        int expected;
    };
    const Row rows[] = {
        {"plain alert", {}, [](QMessageBox* box) { press(box, Qt::Key_Return); }, 0},
        {"Return takes the default", offer, [](QMessageBox* box) { press(box, Qt::Key_Return); }, 0},
        {"Escape means later", offer, [](QMessageBox* box) { press(box, Qt::Key_Escape); }, 1},
    };
    for (const Row& row : rows) {
        SCOPED_TRACE(row.what);
        Seen seen;
        EXPECT_EQ(runAndAct(row.buttons, &seen, row.act), row.expected);
        EXPECT_EQ(seen.text, "<b>Titel</b>");
        EXPECT_EQ(seen.informative, "<a href=\"x\">Text</a>");
        EXPECT_TRUE(seen.plain);
        if (row.buttons.isEmpty()) {
            EXPECT_EQ(seen.buttons.size(), 1);
        } else {
            EXPECT_EQ(seen.defaultButton, offer[0]);
            EXPECT_EQ(QSet<QString>(seen.buttons.begin(), seen.buttons.end()),
                      QSet<QString>(offer.begin(), offer.end()));
        }
    }
}

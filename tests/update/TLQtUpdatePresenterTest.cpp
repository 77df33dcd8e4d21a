#include "TLQtUpdatePresenter.h"
#include "TLTest.h"

#include <QLabel>
#include <QMessageBox>
#include <QPushButton>

TEST(TLQtUpdatePresenter, ShowsTheTextsAsPlainTextAndReportsTheChosenButton) {
    const QStringList offer{"Jetzt aktualisieren", "Später"};
    const std::tuple<QStringList, Qt::Key, int> rows[] = {
        {{}, Qt::Key_Return, 0}, {offer, Qt::Key_Return, 0}, {offer, Qt::Key_Escape, 1}}; // Escape: later
    for (const auto& [buttons, key, expected] : rows) {
        QStringList seen;
        QTimer poll; // once the alert is on screen: record it, then press the key
        QObject::connect(&poll, &QTimer::timeout, [&, key = key] {
            auto* box = qobject_cast<QMessageBox*>(QApplication::activeModalWidget());
            if (!box || !box->isVisible()) {
                return;
            }
            poll.stop();
            const auto* informative = box->findChild<QLabel*>("qt_msgbox_informativelabel");
            seen << box->text() << box->informativeText()
                 << (box->defaultButton() ? box->defaultButton()->text().remove('&') : "")
                 << (box->textFormat() == Qt::PlainText && informative->textFormat() == Qt::PlainText
                         ? "plain"
                         : "rich");
            for (QAbstractButton* b : box->buttons()) {
                seen << b->text().remove('&');
            }
            QTest::keyClick(box, key);
        });
        poll.start(10);
        EXPECT_EQ(TLQtUpdatePresenter().runModalAlert("<b>Titel</b>", "<a href=\"x\">Text</a>", buttons),
                  expected);
        ASSERT_GE(seen.size(), 5);
        EXPECT_EQ(seen.mid(0, 4), (QStringList{"<b>Titel</b>", "<a href=\"x\">Text</a>",
                                               buttons.isEmpty() ? seen[2] : offer[0], "plain"}));
        EXPECT_EQ(QSet<QString>(seen.begin() + 4, seen.end()).size(), buttons.isEmpty() ? 1 : 2);
        EXPECT_TRUE(buttons.isEmpty() || seen.mid(4).contains(offer[1]));
    }
}

#pragma once

#include <QDialog>
#include <QString>

#include <memory>

class QLabel;
class QTextBrowser;
class QTextDocument;

// The About panel: icon, the application's name, its version and the credits, whose links open
// in the browser or mail client. One panel is kept and filled anew for every showing.
class TLAboutPanel : public QDialog {
    Q_OBJECT

public:
    static constexpr int kCreditsWidth = 460;

    explicit TLAboutPanel(QWidget* parent = nullptr);
    ~TLAboutPanel() override;

    // Fills the panel and brings it to the front, activated.
    void present(const QString& applicationName, const QString& version,
                 std::unique_ptr<QTextDocument> credits);

    QString applicationName() const;
    QString versionText() const;
    QTextBrowser* creditsView() const { return credits_; }

private:
    QLabel* icon_;
    QLabel* name_;
    QLabel* version_;
    QTextBrowser* credits_;
};

#include "TLAboutPanel.h"

#include "TLStatusIcon.h"

#include <QLabel>
#include <QPalette>
#include <QPointer>
#include <QTextBrowser>
#include <QTextDocument>
#include <QVBoxLayout>

TLAboutPanel::TLAboutPanel(QWidget* parent)
    : QDialog(parent), icon_(new QLabel(this)), name_(new QLabel(this)), version_(new QLabel(this)),
      credits_(new QTextBrowser(this)) {
    setWindowTitle(QStringLiteral("Tilora"));
    setObjectName(QStringLiteral("TLAboutPanel"));

    icon_->setAlignment(Qt::AlignHCenter);
    icon_->setPixmap(QPixmap::fromImage(TLStatusIcon::drawApplicationIcon(64)));

    QFont nameFont = name_->font();
    nameFont.setBold(true);
    nameFont.setPointSizeF(nameFont.pointSizeF() > 0 ? nameFont.pointSizeF() * 1.3 : 13);
    name_->setFont(nameFont);
    name_->setAlignment(Qt::AlignHCenter);
    version_->setAlignment(Qt::AlignHCenter);

    credits_->setObjectName(QStringLiteral("credits"));
    credits_->setOpenExternalLinks(true);
    credits_->setFrameShape(QFrame::NoFrame);
    credits_->viewport()->setAutoFillBackground(false);
    credits_->setFixedWidth(kCreditsWidth);
    credits_->setHorizontalScrollBarPolicy(Qt::ScrollBarAlwaysOff);

    auto* layout = new QVBoxLayout(this);
    layout->addWidget(icon_);
    layout->addWidget(name_);
    layout->addWidget(version_);
    layout->addWidget(credits_, 1);
}

TLAboutPanel::~TLAboutPanel() = default;

void TLAboutPanel::present(const QString& applicationName, const QString& version,
                           std::unique_ptr<QTextDocument> credits) {
    name_->setText(applicationName);
    // An absent version is shown as nothing rather than as a bare "Version".
    version_->setText(version.isEmpty() ? QString() : QStringLiteral("Version %1").arg(version));

    // The view deletes a document it created itself when it gets another; one of ours is
    // deleted here. A guarded pointer tells the two cases apart.
    QPointer<QTextDocument> previous = credits_->document();
    QTextDocument* document = credits.release();
    document->setParent(credits_);
    credits_->setDocument(document);
    if (previous && previous != document && previous->parent() == credits_) {
        delete previous.data();
    }

    // Tall enough for the whole text: the credits are read, not scrolled.
    document->setTextWidth(credits_->viewport()->width() > 0 ? credits_->viewport()->width() : kCreditsWidth);
    credits_->setFixedHeight(static_cast<int>(document->size().height()) + 2 * credits_->frameWidth() + 4);

    adjustSize();
    show();
    raise();
    activateWindow();
}

QString TLAboutPanel::applicationName() const {
    return name_->text();
}

QString TLAboutPanel::versionText() const {
    return version_->text();
}

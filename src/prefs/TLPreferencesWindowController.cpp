#include "TLPreferencesWindowController.h"

#include "TLHotkeyManager.h"
#include "TLLayout.h"
#include "TLLoginItem.h"
#include "TLShared.h"
#include "TLShortcutRecorder.h"
#include "TLUpdater.h"
#include "TLWindowMover.h"

#include <QCheckBox>
#include <QEvent>
#include <QGuiApplication>
#include <QHBoxLayout>
#include <QHeaderView>
#include <QLabel>
#include <QPushButton>
#include <QScreen>
#include <QTableWidget>
#include <QTimer>
#include <QVBoxLayout>
#include <QWidget>

namespace {

const QString kTitle = QStringLiteral("Tilora – Einstellungen");
const QString kIntro = QStringLiteral(
    "Tastenkürzel gelten für das gerade aktive Fenster, auf dem Bildschirm, auf dem es liegt. Zum Ändern auf "
    "ein Kürzel klicken und die neue Kombination drücken (⌫ löscht, ⎋ bricht ab).");
const QString kTrusted = QStringLiteral("✅ Zugriff auf Fenster über den Fenstermanager");
const QString kNotTrusted =
    QStringLiteral("⚠️ Ohne EWMH-fähigen Fenstermanager kann Tilora keine Fenster bewegen.");
const QString kOpenAccessibility = QStringLiteral("Hilfe zum Fenstermanager öffnen…");
const QString kLogin = QStringLiteral("Bei der Anmeldung starten");
const QString kLoginUnavailable =
    QStringLiteral("Ohne Konfigurationsordner nicht verfügbar — bis dahin in den Sitzungseinstellungen → "
                   "Autostart eintragen.");
const QString kReset = QStringLiteral("Standardkürzel wiederherstellen");
const QString kUpdates = QStringLiteral("Täglich nach Updates suchen");
const QString kCheckNow = QStringLiteral("Jetzt suchen…");
const QString kRefused = QStringLiteral("Vom System verweigert (anderswo belegt?): ");
const QString kLoginError = QStringLiteral("Anmeldeobjekt: ");
const QString kUnknownError = QStringLiteral("unbekannter Fehler");

enum Column { GroupColumn = 0, NameColumn = 1, ShortcutColumn = 2 };

constexpr int kSpacing = 12;
constexpr int kMargin = 16;

// Fixed greens and oranges, one readable shade for light and one for dark backgrounds.
bool isDark(const QPalette& palette) {
    return palette.color(QPalette::Window).lightness() < 128;
}
QColor systemGreen(const QPalette& palette) {
    return isDark(palette) ? QColor(0x5f, 0xd3, 0x7a) : QColor(0x1b, 0x7f, 0x3b);
}
QColor systemOrange(const QPalette& palette) {
    return isDark(palette) ? QColor(0xff, 0xa6, 0x4d) : QColor(0xb3, 0x5c, 0x00);
}
QColor secondaryLabelColor(const QPalette& palette) {
    return palette.color(QPalette::PlaceholderText);
}

void setTextColour(QWidget* widget, const QColor& colour) {
    QPalette palette = widget->palette();
    palette.setColor(QPalette::WindowText, colour);
    widget->setPalette(palette);
}

QLabel* wrappingLabel(const QString& text) {
    auto* label = new QLabel(text);
    label->setWordWrap(true);
    label->setTextFormat(Qt::PlainText);
    return label;
}

// A check box on the left, a button on the right, flexible space between them.
QWidget* buttonRow(QCheckBox* checkbox, QPushButton* button) {
    auto* row = new QWidget;
    auto* layout = new QHBoxLayout(row);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(checkbox);
    layout->addStretch(1);
    layout->addWidget(button);
    return row;
}

} // namespace

TLPreferencesWindowController::TLPreferencesWindowController(const Services& services, QObject* parent)
    : QObject(parent), hotkeys_(services.hotkeys), updater_(services.updater), mover_(services.mover),
      loginItem_(services.loginItem), labels_(services.labels) {
    buildWindow();
    connect(&hotkeys_, &TLHotkeyManager::hotkeysDidChange, this,
            &TLPreferencesWindowController::hotkeysChanged);
    connect(&hotkeys_, &TLHotkeyManager::registrationChanged, this,
            &TLPreferencesWindowController::reportRegistration);
}

TLPreferencesWindowController::~TLPreferencesWindowController() = default;

TLPreferencesWindowController& TLPreferencesWindowController::shared() {
    return TLShared<TLPreferencesWindowController>::get();
}

void TLPreferencesWindowController::buildWindow() {
    window_ =
        std::make_unique<QWidget>(nullptr, Qt::Window | Qt::CustomizeWindowHint | Qt::WindowTitleHint |
                                               Qt::WindowCloseButtonHint | Qt::WindowMaximizeButtonHint);
    window_->setWindowTitle(kTitle);
    window_->setAttribute(Qt::WA_DeleteOnClose, false);
    window_->setMinimumSize(kMinimumWidth, kMinimumHeight);
    window_->resize(kWidth, kHeight);
    if (QScreen* screen = QGuiApplication::primaryScreen()) {
        QRect frame(QPoint(0, 0), window_->size());
        frame.moveCenter(screen->availableGeometry().center());
        window_->move(frame.topLeft());
    }
    window_->installEventFilter(this);

    introLabel_ = wrappingLabel(kIntro);
    axLabel_ = wrappingLabel(QString());
    axButton_ = new QPushButton(kOpenAccessibility);
    connect(axButton_, &QPushButton::clicked, this, &TLPreferencesWindowController::openAccessibility);

    const std::vector<TLLayout>& layouts = TLLayout::allLayouts();
    table_ = new QTableWidget(static_cast<int>(layouts.size()), 3);
    table_->setHorizontalHeaderLabels(
        {QStringLiteral("Gruppe"), QStringLiteral("Aktion"), QStringLiteral("Tastenkürzel")});
    table_->setAlternatingRowColors(true);
    table_->setSelectionMode(QAbstractItemView::NoSelection);
    table_->setEditTriggers(QAbstractItemView::NoEditTriggers);
    table_->setFocusPolicy(Qt::NoFocus);
    table_->setTabKeyNavigation(false);
    table_->setShowGrid(false);
    table_->setWordWrap(false);
    table_->setTextElideMode(Qt::ElideRight);
    table_->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOn);
    table_->verticalHeader()->hide();
    table_->verticalHeader()->setSectionResizeMode(QHeaderView::Fixed);
    table_->verticalHeader()->setMinimumSectionSize(kRowHeight);
    table_->verticalHeader()->setDefaultSectionSize(kRowHeight);
    QHeaderView* header = table_->horizontalHeader();
    header->setSectionsMovable(false);
    header->setHighlightSections(false);
    header->setDefaultAlignment(Qt::AlignLeft | Qt::AlignVCenter);
    header->setStretchLastSection(true);
    table_->setColumnWidth(GroupColumn, 150);
    table_->setColumnWidth(NameColumn, 190);
    table_->setColumnWidth(ShortcutColumn, 140);
    for (int row = 0; row < table_->rowCount(); ++row) {
        for (int column : {GroupColumn, NameColumn}) {
            auto* item = new QTableWidgetItem;
            item->setFlags(Qt::ItemIsEnabled);
            table_->setItem(row, column, item);
        }
        auto* recorder = new TLShortcutRecorder(hotkeys_, labels_);
        table_->setCellWidget(row, ShortcutColumn, recorder);
    }

    loginCheckbox_ = new QCheckBox(kLogin);
    connect(loginCheckbox_, &QCheckBox::clicked, this, &TLPreferencesWindowController::toggleLogin);
    resetButton_ = new QPushButton(kReset);
    connect(resetButton_, &QPushButton::clicked, this, &TLPreferencesWindowController::resetDefaults);
    updateCheckbox_ = new QCheckBox(kUpdates);
    connect(updateCheckbox_, &QCheckBox::clicked, this, &TLPreferencesWindowController::toggleUpdates);
    checkButton_ = new QPushButton(kCheckNow);
    connect(checkButton_, &QPushButton::clicked, this, &TLPreferencesWindowController::checkUpdates);

    statusLabel_ = wrappingLabel(QString());
    QFont small = statusLabel_->font();
    if (small.pointSizeF() > 0) {
        small.setPointSizeF(small.pointSizeF() * 11.0 / 13.0);
    } else {
        small.setPixelSize(std::max(1, small.pixelSize() * 11 / 13));
    }
    statusLabel_->setFont(small);

    // Everything keeps its natural height; the table takes what the window has beyond that.
    auto* stack = new QVBoxLayout(window_.get());
    stack->setSpacing(kSpacing);
    stack->setContentsMargins(kMargin, kMargin, kMargin, kMargin);
    stack->addWidget(introLabel_);
    stack->addWidget(axLabel_);
    stack->addWidget(axButton_, 0, Qt::AlignLeft);
    stack->addWidget(table_, 1);
    stack->addWidget(buttonRow(loginCheckbox_, resetButton_));
    stack->addWidget(buttonRow(updateCheckbox_, checkButton_));
    stack->addWidget(statusLabel_);

    applyColours();
    reloadTable();
}

void TLPreferencesWindowController::applyColours() {
    const QPalette& palette = window_->palette();
    setTextColour(introLabel_, secondaryLabelColor(palette));
    setTextColour(axLabel_, trusted_ ? systemGreen(palette) : systemOrange(palette));
    setTextColour(statusLabel_, systemOrange(palette));
    for (int row = 0; row < table_->rowCount(); ++row) {
        table_->item(row, GroupColumn)->setForeground(secondaryLabelColor(palette));
        table_->item(row, NameColumn)->setForeground(palette.color(QPalette::Text));
    }
}

void TLPreferencesWindowController::reloadTable() {
    const std::vector<TLLayout>& layouts = TLLayout::allLayouts();
    for (int row = 0; row < table_->rowCount(); ++row) {
        const TLLayout& layout = layouts[static_cast<std::size_t>(row)];
        // The group title only on the first row of each run of a group.
        const bool firstOfGroup =
            row == 0 || layouts[static_cast<std::size_t>(row) - 1].group() != layout.group();
        table_->item(row, GroupColumn)
            ->setText(firstOfGroup ? QString::fromStdString(layout.group()) : QString());
        table_->item(row, NameColumn)->setText(QString::fromStdString(layout.name()));

        TLShortcutRecorder* recorder = recorderAt(row);
        recorder->setShortcut(hotkeys_.shortcutForLayout(layout));
        recorder->setOnChange(
            [this, &layout](const TLShortcut& shortcut) { hotkeys_.setShortcut(shortcut, layout); });
    }
}

TLShortcutRecorder* TLPreferencesWindowController::recorderAt(int row) const {
    return qobject_cast<TLShortcutRecorder*>(table_->cellWidget(row, ShortcutColumn));
}

void TLPreferencesWindowController::showAndActivate() {
    refreshAccessibility();
    loginCheckbox_->setChecked(loginItem_.isEnabled());
    const bool loginAvailable = loginItem_.isAvailable();
    loginCheckbox_->setEnabled(loginAvailable);
    loginCheckbox_->setToolTip(loginAvailable ? QString() : kLoginUnavailable);
    updateCheckbox_->setChecked(updater_.isAutomaticCheckingEnabled());
    reloadTable();
    reportRegistration(hotkeys_.registerAll());

    window_->show();
    window_->raise();
    window_->activateWindow();

    // Exactly one timer, however often the window is opened.
    delete axTimer_.data();
    axTimer_ = new QTimer(this);
    axTimer_->setInterval(kRefreshIntervalMs);
    connect(axTimer_, &QTimer::timeout, this, &TLPreferencesWindowController::refreshAccessibility);
    axTimer_->start();
}

void TLPreferencesWindowController::refreshAccessibility() {
    if (!window_->isVisible() && axTimer_) {
        // Possibly called from the timer itself: let it return before it goes.
        axTimer_->stop();
        axTimer_->deleteLater();
        axTimer_ = nullptr;
    }
    trusted_ = mover_.isTrusted();
    axLabel_->setText(trusted_ ? kTrusted : kNotTrusted);
    setTextColour(axLabel_, trusted_ ? systemGreen(window_->palette()) : systemOrange(window_->palette()));
    axButton_->setVisible(!trusted_);
}

void TLPreferencesWindowController::reportRegistration(const QStringList& failures) {
    statusLabel_->setText(failures.isEmpty() ? QString() : kRefused + failures.join(QStringLiteral(", ")));
}

void TLPreferencesWindowController::hotkeysChanged() {
    reloadTable();
    reportRegistration(hotkeys_.registerAll());
}

void TLPreferencesWindowController::openAccessibility() {
    mover_.requestTrust();
    TLWindowMover::openAccessibilitySettings();
}

void TLPreferencesWindowController::toggleLogin() {
    TLError error;
    if (loginItem_.setEnabled(loginCheckbox_->isChecked(), &error)) {
        return;
    }
    loginCheckbox_->setChecked(loginItem_.isEnabled());
    const QString reason = error.localizedDescription.isEmpty() ? kUnknownError : error.localizedDescription;
    statusLabel_->setText(kLoginError + reason);
}

void TLPreferencesWindowController::toggleUpdates() {
    updater_.setAutomaticCheckingEnabled(updateCheckbox_->isChecked());
}

void TLPreferencesWindowController::checkUpdates() {
    updater_.checkForUpdatesInteractive(true);
}

void TLPreferencesWindowController::resetDefaults() {
    // The table follows through the change signal.
    hotkeys_.resetToDefaults();
}

void TLPreferencesWindowController::endEditing() {
    if (QWidget* focus = window_->focusWidget()) {
        focus->clearFocus();
    }
}

bool TLPreferencesWindowController::eventFilter(QObject* watched, QEvent* event) {
    if (watched == window_.get()) {
        switch (event->type()) {
        case QEvent::Close:
        case QEvent::WindowDeactivate:
            endEditing();
            break;
        case QEvent::PaletteChange:
            applyColours();
            break;
        default:
            break;
        }
    }
    return QObject::eventFilter(watched, event);
}

#pragma once

#include <QObject>
#include <QPointer>
#include <QStringList>
#include <QTimer>

#include <memory>

class QCheckBox;
class QLabel;
class QPushButton;
class QTableWidget;
class QWidget;
class TLHotkeyManager;
class TLKeyboardLayout;
class TLLoginItem;
class TLShortcutRecorder;
class TLUpdater;
class TLWindowMover;

// The settings window: every layout with its shortcut recorder, the accessibility state, start
// at login, daily update checks, and a status line for refused hot keys and login-item errors.
// Built once; closing only hides it.
class TLPreferencesWindowController : public QObject {
    Q_OBJECT

public:
    static constexpr int kWidth = 560;
    static constexpr int kHeight = 680;
    static constexpr int kMinimumWidth = 480;
    static constexpr int kMinimumHeight = 400;
    static constexpr int kRowHeight = 26;
    static constexpr int kRefreshIntervalMs = 2000;

    // What the window shows and switches; labels name the keys of shortcuts.
    struct Services {
        TLHotkeyManager& hotkeys;
        TLUpdater& updater;
        TLWindowMover& mover;
        TLLoginItem& loginItem;
        const TLKeyboardLayout& labels;
    };

    explicit TLPreferencesWindowController(const Services& services, QObject* parent = nullptr);
    ~TLPreferencesWindowController() override;

    // The application's window: the one main made.
    static TLPreferencesWindowController& shared();

    // Brings every part up to date, registers the hot keys anew and shows the window in front.
    void showAndActivate();

    // Actions of the window's controls.
    void openAccessibility();
    void toggleLogin();
    void toggleUpdates();
    void checkUpdates();
    void resetDefaults();

    void refreshAccessibility();
    // Shows the hot keys the system refused or took back (or clears the status line).
    void reportRegistration(const QStringList& failures);
    void hotkeysChanged();

    QWidget* window() const { return window_.get(); }
    QTableWidget* table() const { return table_; }
    QLabel* axLabel() const { return axLabel_; }
    QPushButton* axButton() const { return axButton_; }
    QCheckBox* loginCheckbox() const { return loginCheckbox_; }
    QCheckBox* updateCheckbox() const { return updateCheckbox_; }
    QPushButton* resetButton() const { return resetButton_; }
    QPushButton* checkButton() const { return checkButton_; }
    QLabel* statusLabel() const { return statusLabel_; }
    // The refresh timer while the window is open; null once it has ended itself.
    const QTimer* axTimer() const { return axTimer_; }
    // The recorder in the shortcut cell of a row.
    TLShortcutRecorder* recorderAt(int row) const;

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    void buildWindow();
    void reloadTable();
    void applyColours();
    // The settings window makes no view first responder: a running recording ends unchanged.
    void endEditing();

    TLHotkeyManager& hotkeys_;
    TLUpdater& updater_;
    TLWindowMover& mover_;
    TLLoginItem& loginItem_;
    const TLKeyboardLayout& labels_;
    std::unique_ptr<QWidget> window_;
    QTableWidget* table_ = nullptr;
    QLabel* introLabel_ = nullptr;
    QLabel* axLabel_ = nullptr;
    QPushButton* axButton_ = nullptr;
    QCheckBox* loginCheckbox_ = nullptr;
    QPushButton* resetButton_ = nullptr;
    QCheckBox* updateCheckbox_ = nullptr;
    QPushButton* checkButton_ = nullptr;
    QLabel* statusLabel_ = nullptr;
    QPointer<QTimer> axTimer_;
    bool trusted_ = false;
};

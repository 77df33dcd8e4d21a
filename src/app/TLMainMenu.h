#pragma once

#include <QMenu>
#include <QObject>

#include <functional>

class QAction;

// The application menu "Tilora". Without a menu bar of its own, Tilora offers the menu's three
// commands as keyboard shortcuts in every window it shows: Ctrl+, opens the settings, Ctrl+W
// closes the active window, Ctrl+Q quits.
class TLMainMenu : public QObject {
    Q_OBJECT

public:
    TLMainMenu(std::function<void()> showPreferences, std::function<void()> terminate,
               QObject* parent = nullptr);
    ~TLMainMenu() override;

    QMenu* menu() { return &menu_; }
    QAction* preferencesAction() const { return preferences_; }
    QAction* closeAction() const { return close_; }
    QAction* quitAction() const { return quit_; }

    // Adds the commands to a window now (windows shown later get them on their own).
    void attach(QWidget* window);

protected:
    bool eventFilter(QObject* watched, QEvent* event) override;

private:
    QMenu menu_;
    QAction* preferences_;
    QAction* close_;
    QAction* quit_;
};

#pragma once

#include "TLHotKeyService.h"
#include "TLShortcut.h"

#include <QObject>
#include <QStringList>
#include <QTimer>

#include <functional>
#include <map>
#include <optional>
#include <set>
#include <string>
#include <vector>

class TLKeyboardLayout;
class TLLayout;
class TLUserDefaults;

// Hot-key identity of the application: the four-character code 'TLRA'.
inline constexpr std::uint32_t TLHotKeySignature =
    (std::uint32_t('T') << 24) | (std::uint32_t('L') << 16) | (std::uint32_t('R') << 8) | std::uint32_t('A');

// Receives every press of a registered hot key; `userData` is the manager. Hands an accepted
// press to the main thread and returns at once.
TLOSStatus TLHotKeyPressed(TLEventHandlerCallRef handlerCallRef, TLEventRef event, void* userData);

// The shortcut table: one shortcut per catalogue layout, kept in the user defaults under
// TLShortcuts, registered as system-wide hot keys, presses handed to `handler` on the main
// thread.
class TLHotkeyManager : public QObject {
    Q_OBJECT

public:
    using Handler = std::function<void(const TLLayout&)>;

    // How often hot keys the system refused (or took back) are tried again while there are any.
    static constexpr int kRetryIntervalMs = 10000;

    // Loads the table and installs the press callback; registers nothing yet. Failure texts
    // name shortcuts with the labels of `labels`.
    TLHotkeyManager(TLUserDefaults& defaults, TLHotKeyService& service, const TLKeyboardLayout& labels,
                    QObject* parent = nullptr);
    ~TLHotkeyManager() override;

    // The application's manager: the one main made.
    static TLHotkeyManager& shared();

    void load();
    void save();

    // Never fails: a layout without an entry gets an unbound shortcut.
    TLShortcut shortcutForLayout(const TLLayout& layout) const;
    // Takes the combination away from every other layout, saves, registers anew and emits
    // hotkeysDidChange() once. No shortcut means unbound.
    void setShortcut(std::optional<TLShortcut> shortcut, const TLLayout& layout);
    void resetToDefaults();

    void setSuspended(bool suspended);
    bool suspended() const { return suspended_; }

    // Registers every bound shortcut anew; one "Name (⌃⌥1)" per refused one, in catalogue
    // order. Empty while suspended. The refused ones are tried again from time to time.
    QStringList registerAll();
    void unregisterAll();
    // Tries the refused hot keys again (every kRetryIntervalMs while some are refused).
    void retryRefused();
    bool retrying() const { return retryTimer_.isActive(); }
    // The bound shortcuts whose key code names no key (from a file written elsewhere): they can
    // never be registered. One "Name (#52)" each, in catalogue order.
    QStringList keylessShortcuts() const;

    void setHandler(Handler handler);
    const Handler& handler() const { return handler_; }

signals:
    void hotkeysDidChange();
    // Registered hot keys the system took back later, one "Name (⌃⌥1)" each, in catalogue order.
    void hotkeysLost(const QStringList& failures);
    // The refused hot keys changed outside registerAll (some were taken back, or a retry got
    // some): every one refused now, as registerAll lists them.
    void registrationChanged(const QStringList& failures);

private:
    // Registers the layouts' shortcuts in one batch; the layouts the system refused.
    std::vector<std::size_t> registerBatch(const std::vector<std::size_t>& layoutIndices);
    QString failureText(std::size_t layoutIndex) const;
    bool hasKey(std::size_t layoutIndex) const;
    QStringList failures() const;
    void lose(const std::vector<TLHotKeyRef>& refs);

    TLUserDefaults& defaults_;
    TLHotKeyService& service_;
    const TLKeyboardLayout& labels_;
    std::map<std::string, TLShortcut> shortcuts_;
    std::vector<std::pair<TLHotKeyRef, std::size_t>> registeredRefs_; // with the layout's index
    std::set<std::size_t> refused_; // layouts with a key whose hot key the system refused or took back
    QTimer retryTimer_;
    bool suspended_ = false;
    Handler handler_;
};

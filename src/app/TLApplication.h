#pragma once

#include <memory>

class TLAppDelegate;
class TLBundle;
class TLHotkeyManager;
class TLPreferencesWindowController;
class TLUserDefaults;
class TLX11Connection;

// The running application's object graph, built once by main: the X connection and the
// backends over it, the log, the settings store, the hot-key table, the updater, the settings
// window, the services of the shell and the shell itself. Each object is handed what it uses;
// the class operations that name an instance (`shared`, `standard`) answer with these.
class TLApplication {
public:
    // connection: the program's one X connection, opened by main before anything else.
    TLApplication(std::unique_ptr<TLX11Connection> connection, const TLBundle& bundle);
    ~TLApplication();
    TLApplication(const TLApplication&) = delete;
    TLApplication& operator=(const TLApplication&) = delete;

    TLAppDelegate& delegate();
    TLPreferencesWindowController& preferences();
    TLHotkeyManager& hotkeys();
    TLUserDefaults& defaults();

private:
    struct Graph;
    std::unique_ptr<Graph> graph_;
};

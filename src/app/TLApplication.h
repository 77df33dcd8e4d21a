#pragma once

#include <memory>

class TLAppDelegate;
class TLBundle;
class TLHotkeyManager;
class TLPreferencesWindowController;
class TLPlatform;
class TLUserDefaults;

// The running application's object graph, built once by main: the window system's backends,
// the log, the settings store, the hot-key table, the updater, the settings window, the
// services of the shell and the shell itself. Each object is handed what it uses; the class
// operations that name an instance (`shared`, `standard`) answer with these.
class TLApplication {
public:
    // platform: the session's window system, opened by main before anything else. When it
    // goes away for good, the application logs it and quits.
    TLApplication(std::unique_ptr<TLPlatform> platform, const TLBundle& bundle);
    ~TLApplication();
    TLApplication(const TLApplication&) = delete;
    TLApplication& operator=(const TLApplication&) = delete;

    TLAppDelegate& delegate();
    TLPreferencesWindowController& preferences();
    TLHotkeyManager& hotkeys();
    TLUserDefaults& defaults();

    // After the event loop: gives back what the window system would keep (sway's bindings).
    void finish();

private:
    struct Graph;
    std::unique_ptr<Graph> graph_;
};

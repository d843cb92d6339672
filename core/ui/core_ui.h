// CoreUI: events of the core runtime for the active user interface. Every
// operation has a default, so a user interface overrides only what it
// shows.
#pragma once

class CoreUI {
public:
    virtual ~CoreUI() = default;
    // The start-up loads are done.
    virtual void startupDone() {}
};

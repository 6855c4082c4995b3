// Keeps the X11 clipboard usable after a drag to a file manager.
//
// Qt takes the time of every SelectionRequest it receives as the newest server time and
// uses it for every later claim of the clipboard. pcmanfm asks for a drag's data with the
// Unix time in seconds instead of a server timestamp, a value far ahead of the server's
// clock. After one drag to it, each Ctrl+C owns the clipboard "from the future": the next
// paste is refused as older than the ownership ("SelectionRequest too old"), and once
// another program took the clipboard the server ignores the claim ("Cannot set X11
// selection owner").
//
// The drag itself needs that time: Qt serves a drag's data only to requests that carry the
// time Qt last sent, which after such a request is that same value. So the request goes
// through, and afterwards the guard brings Qt's clock back. It follows the server's clock
// through the events the server stamps itself (keys, buttons, motion, crossings, property
// changes), and once a request from the future has passed (and no drag of ours runs), it
// gives the next key or property event the time halfway round the 32-bit clock from the
// false one, which Qt takes as newer; the event after it carries the server's real time,
// which Qt then takes as newer again.
#pragma once

#include <QAbstractNativeEventFilter>

#include <cstdint>

class XXSelectionTimeGuard final : public QAbstractNativeEventFilter {
public:
    // How far ahead of the last server time a request may claim to be.
    static constexpr std::uint32_t toleranceMilliseconds = 10 * 60 * 1000;

    // Installs the guard on the application when it runs on X11; does nothing elsewhere.
    static void installOnX11();
    // The application's guard, or nullptr off X11.
    static XXSelectionTimeGuard *installed();

    bool nativeEventFilter(const QByteArray &eventType, void *message, qintptr *result) override;

    // The guard's rule on one X event in its wire layout (an xcb_generic_event_t and what
    // follows it). True when it changed the event's time.
    bool inspect(void *event);
    // While a drag of ours runs, its requests must keep matching: no repair meanwhile.
    void setDragRunning(bool running) { dragRunning_ = running; }
    std::uint32_t lastServerTime() const { return lastServerTime_; }
    bool isRepairing() const { return repairStep_ != 0; }

private:
    std::uint32_t lastServerTime_ = 0;
    std::uint32_t falseTime_ = 0;  // the request's time Qt took
    int repairStep_ = 0;  // 0 none, 1 the next event goes halfway round, 2 the one after is real
    bool dragRunning_ = false;
};

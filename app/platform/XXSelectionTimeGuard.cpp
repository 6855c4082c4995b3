#include "XXSelectionTimeGuard.h"

#include <QCoreApplication>
#include <QGuiApplication>

#include <cstring>

namespace {

// X11 core event codes and where each carries its time (the protocol's wire layout).
enum : std::uint8_t {
    keyPress = 2,
    keyRelease = 3,
    buttonPress = 4,
    buttonRelease = 5,
    motionNotify = 6,
    enterNotify = 7,
    leaveNotify = 8,
    propertyNotify = 28,
    selectionRequest = 30,
};
constexpr std::size_t inputTimeOffset = 4;
constexpr std::size_t propertyTimeOffset = 12;
constexpr std::size_t requestTimeOffset = 4;
constexpr std::uint32_t currentTime = 0;
constexpr std::uint32_t halfwayRound = 0x7fffffff;

XXSelectionTimeGuard *theGuard = nullptr;

std::uint32_t timeAt(const unsigned char *event, std::size_t offset)
{
    std::uint32_t time;
    std::memcpy(&time, event + offset, sizeof time);
    return time;
}

// Server time runs in milliseconds and wraps: "later" is a difference of less than half the range.
bool isLater(std::uint32_t time, std::uint32_t than)
{
    return static_cast<std::int32_t>(time - than) > 0;
}

}  // namespace

void XXSelectionTimeGuard::installOnX11()
{
    if (theGuard || QGuiApplication::platformName() != QLatin1String("xcb"))
        return;
    static XXSelectionTimeGuard guard;
    theGuard = &guard;
    QCoreApplication::instance()->installNativeEventFilter(&guard);
}

XXSelectionTimeGuard *XXSelectionTimeGuard::installed()
{
    return theGuard;
}

bool XXSelectionTimeGuard::nativeEventFilter(const QByteArray &eventType, void *message, qintptr *)
{
    if (eventType == "xcb_generic_event_t" && message)
        inspect(message);
    return false;  // Qt handles every event as before
}

bool XXSelectionTimeGuard::inspect(void *message)
{
    auto *event = static_cast<unsigned char *>(message);
    const std::uint8_t type = event[0] & 0x7f;
    if (event[0] & 0x80)
        return false;  // sent by a client, which may put any time in it
    if (type == selectionRequest) {
        const std::uint32_t time = timeAt(event, requestTimeOffset);
        if (time != currentTime && lastServerTime_ != currentTime &&
            isLater(time, lastServerTime_ + toleranceMilliseconds)) {
            falseTime_ = time;
            repairStep_ = 1;
        }
        return false;
    }
    const bool keyOrProperty = type == keyPress || type == keyRelease || type == propertyNotify;
    if (!keyOrProperty && (type < buttonPress || type > leaveNotify))
        return false;
    const std::size_t offset = type == propertyNotify ? propertyTimeOffset : inputTimeOffset;
    const std::uint32_t time = timeAt(event, offset);
    if (time == currentTime)
        return false;
    if (lastServerTime_ == currentTime || isLater(time, lastServerTime_))
        lastServerTime_ = time;
    // Qt takes the time of key and property events for its clock, so those carry the repair.
    if (!keyOrProperty || dragRunning_ || repairStep_ == 0)
        return false;
    if (repairStep_ == 1) {
        const std::uint32_t past = falseTime_ + halfwayRound;
        std::memcpy(event + offset, &past, sizeof past);
        repairStep_ = 2;
        return true;
    }
    repairStep_ = 0;
    return false;
}

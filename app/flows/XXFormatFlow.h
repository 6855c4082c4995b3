// Formatting the vault from the unlocked screen: the question, a short progress animation on
// a timer, the format on a worker, and the result reminder whose button quits the program
// whatever the outcome, since nothing of the session is usable afterwards.
#pragma once

#include <QObject>
#include <QPointer>

#include <chrono>
#include <cstdint>
#include <functional>

class QTimer;
class QWidget;
class XXProgressAlertView;

class XXFormatFlow final : public QObject {
    Q_OBJECT
public:
    explicit XXFormatFlow(QWidget *screen);

    // Asks first; does nothing while a format is under way.
    void start();
    bool isRunning() const { return running_; }
    XXProgressAlertView *progressView() const;
    int targetTicks() const { return targetTicks_; }
    int tickCount() const { return tickCount_; }

    // Tests run the animation faster and with a known length: 10 ms by default, and an
    // empty source stands for the system's random 32-bit numbers.
    static void setTickInterval(std::chrono::milliseconds interval);
    static void setRandomSource(std::function<std::uint32_t()> source);

private:
    void animate();
    void tick();
    void formatVault();

    QWidget *screen_;
    QPointer<XXProgressAlertView> progressView_;
    QTimer *timer_ = nullptr;
    int targetTicks_ = 0;
    int tickCount_ = 0;
    bool running_ = false;
};

// The desktop's word that the user is gone: logind's PrepareForSleep(true) on the system bus,
// the Lock signal of this process's logind session, and ActiveChanged(true) of the session
// bus's screen saver (freedesktop and GNOME names). Each becomes lockRequested().
//
// Without D-Bus (built without Qt6::DBus, or no bus as in CI) nothing is connected and
// nothing fails; the slots still work, so tests can play the desktop.
#pragma once

#include <QObject>

class XXSessionSignals : public QObject {
    Q_OBJECT
public:
    // Connects to whichever buses answer; the session's object path is asked for without
    // waiting, so a slow logind never holds up the window.
    explicit XXSessionSignals(QObject *parent = nullptr);

    // The number of signals connected so far (0 without a bus).
    int connectedCount() const { return connected_; }

signals:
    void lockRequested();

public slots:
    void prepareForSleep(bool start);
    void sessionLock();
    void screenSaverActiveChanged(bool active);

private:
    void connectSystemBus();
    void connectSessionBus();
    void connectSessionLock(const QString &sessionPath);

    int connected_ = 0;
};

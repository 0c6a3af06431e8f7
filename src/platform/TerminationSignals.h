#pragma once

#include <QObject>

class QSocketNotifier;

// Turns SIGTERM, SIGHUP and SIGINT into received() on the event loop of the thread that made it (the
// handler only writes a byte into a pipe that a QSocketNotifier watches), so that the program can
// stop its work and remove what is unfinished instead of dying mid-transfer. After the first signal
// the default actions are back: a second one ends the program at once. One object at a time; the
// previous actions are restored when it goes.
class TerminationSignals : public QObject {
    Q_OBJECT
public:
    explicit TerminationSignals(QObject* parent = nullptr);
    ~TerminationSignals() override;

    // False when the signals could not be caught (then they keep their default actions).
    bool isActive() const;

Q_SIGNALS:
    void received(int signalNumber);

private:
    void onReadable();
    void restoreActions();

    QSocketNotifier* m_notifier = nullptr;
    bool m_installed = false;
};

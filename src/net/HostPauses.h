#pragma once

#include <QElapsedTimer>
#include <QHash>
#include <QList>
#include <QMutex>
#include <QObject>
#include <QString>

class QTimer;
class QUrl;

// The hosts that asked the whole process to wait: a 429 or 503 answer with Retry-After pauses its
// host for every client of the process (downloads, probes, thumbnails), not only for the request
// that met it. A pause lasts what the server asked for, at most MostPauseSeconds; a later, longer one
// extends it. Clients start nothing to a paused host and go on when resumed() says so; other hosts
// are not held up. One object per process (instance()), living on the application's thread; its
// questions may be asked from any thread.
class HostPauses : public QObject {
    Q_OBJECT
public:
    static constexpr qint64 MostPauseSeconds = 10 * 60;

    struct Pause {
        QString host;
        // Whole seconds left, rounded up.
        qint64 seconds = 0;
    };

    // The process's pauses (made on first use, a child of the application object).
    static HostPauses* instance();
    // How long a pause asked for by Retry-After (in seconds; negative: none) lasts.
    static qint64 boundedSeconds(qint64 retryAfterSeconds);
    // The host a pause is kept under: the address's host in lower case.
    static QString hostOf(const QUrl& url);
    // The progress text for a pause: "example.com が混雑しているため 30 秒待っています", or in English.
    static QString waitingText(const Pause& pause, bool japanese = true);

    // Pauses host for boundedSeconds(retryAfterSeconds) from now, unless it is paused longer already.
    void pause(const QString& host, qint64 retryAfterSeconds);
    bool isPaused(const QString& host) const;
    // Milliseconds until the host's pause ends; 0 when it is not paused.
    qint64 remainingMs(const QString& host) const;
    // The hosts paused now, in the order of their names.
    QList<Pause> pauses() const;
    // Ends every pause at once (each is reported with resumed).
    void clear();

Q_SIGNALS:
    // A pause began or was extended; seconds as in Pause.
    void paused(const QString& host, qint64 seconds);
    // The host's pause has ended: what waits for it may go on.
    void resumed(const QString& host);

private:
    HostPauses();
    qint64 now() const;
    // Reports the pauses that have ended and waits for the next end.
    void expire();
    void armTimer();

    QElapsedTimer m_clock;
    mutable QMutex m_mutex;
    // The end of each pause, on m_clock.
    QHash<QString, qint64> m_until;
    QTimer* m_timer;
};

#include "HostPauses.h"

#include <QCoreApplication>
#include <QMutexLocker>
#include <QPointer>
#include <QThread>
#include <QTimer>
#include <QUrl>

#include <algorithm>
#include <limits>

HostPauses* HostPauses::instance() {
    static QMutex made;
    static QPointer<HostPauses> pauses;
    QMutexLocker lock(&made);
    if (!pauses) {
        pauses = new HostPauses;
        if (QCoreApplication* app = QCoreApplication::instance()) {
            pauses->moveToThread(app->thread());
            pauses->setParent(app);
        }
    }
    return pauses;
}

qint64 HostPauses::boundedSeconds(qint64 retryAfterSeconds) {
    return std::clamp<qint64>(retryAfterSeconds, 0, MostPauseSeconds);
}

QString HostPauses::hostOf(const QUrl& url) {
    return url.host().toLower();
}

QString HostPauses::waitingText(const Pause& pause, bool japanese) {
    if (japanese)
        return QStringLiteral("%1 が混雑しているため %2 秒待っています").arg(pause.host).arg(pause.seconds);
    return QStringLiteral("%1 is busy: waiting %2 s").arg(pause.host).arg(pause.seconds);
}

HostPauses::HostPauses() {
    m_clock.start();
    m_timer = new QTimer(this);
    m_timer->setSingleShot(true);
    m_timer->setTimerType(Qt::PreciseTimer);
    connect(m_timer, &QTimer::timeout, this, &HostPauses::expire);
}

qint64 HostPauses::now() const {
    return m_clock.elapsed();
}

void HostPauses::pause(const QString& host, qint64 retryAfterSeconds) {
    const qint64 seconds = boundedSeconds(retryAfterSeconds);
    if (host.isEmpty() || seconds <= 0)
        return;
    {
        QMutexLocker lock(&m_mutex);
        const qint64 until = now() + seconds * 1000;
        qint64& kept = m_until[host.toLower()];
        if (kept >= until)
            return;
        kept = until;
    }
    // The timer and the signals belong to this object's thread.
    QMetaObject::invokeMethod(this, [this, host, seconds] {
        armTimer();
        Q_EMIT paused(host.toLower(), seconds);
    });
}

bool HostPauses::isPaused(const QString& host) const {
    return remainingMs(host) > 0;
}

qint64 HostPauses::remainingMs(const QString& host) const {
    QMutexLocker lock(&m_mutex);
    const auto found = m_until.constFind(host.toLower());
    return found == m_until.cend() ? 0 : std::max<qint64>(0, *found - now());
}

QList<HostPauses::Pause> HostPauses::pauses() const {
    QMutexLocker lock(&m_mutex);
    QList<Pause> list;
    const qint64 at = now();
    for (auto it = m_until.cbegin(); it != m_until.cend(); ++it) {
        if (it.value() > at)
            list.append({it.key(), (it.value() - at + 999) / 1000});
    }
    std::sort(list.begin(), list.end(), [](const Pause& a, const Pause& b) { return a.host < b.host; });
    return list;
}

void HostPauses::clear() {
    {
        QMutexLocker lock(&m_mutex);
        for (qint64& until : m_until)
            until = 0;
    }
    QMetaObject::invokeMethod(this, &HostPauses::expire);
}

void HostPauses::expire() {
    QStringList ended;
    {
        QMutexLocker lock(&m_mutex);
        const qint64 at = now();
        for (auto it = m_until.begin(); it != m_until.end();) {
            if (it.value() <= at) {
                ended.append(it.key());
                it = m_until.erase(it);
            } else {
                ++it;
            }
        }
    }
    armTimer();
    for (const QString& host : std::as_const(ended))
        Q_EMIT resumed(host);
}

void HostPauses::armTimer() {
    qint64 next = -1;
    {
        QMutexLocker lock(&m_mutex);
        for (const qint64 until : std::as_const(m_until))
            next = next < 0 ? until : std::min(next, until);
    }
    if (next < 0) {
        m_timer->stop();
        return;
    }
    // A few milliseconds late rather than early: the timer may fire before the clock gets there.
    m_timer->start(int(std::clamp<qint64>(next - now() + 1, 0, std::numeric_limits<int>::max())));
}

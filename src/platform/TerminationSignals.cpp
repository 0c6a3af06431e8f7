#include "TerminationSignals.h"

#include <QSocketNotifier>

#include <array>
#include <cerrno>
#include <csignal>
#include <fcntl.h>
#include <unistd.h>

namespace {

constexpr std::array<int, 3> CaughtSignals{SIGTERM, SIGHUP, SIGINT};

// Written by the handler, read by the event loop.
int signalPipe[2] = {-1, -1};
std::array<struct sigaction, CaughtSignals.size()> previousActions{};

void onSignal(int signalNumber) {
    const int saved = errno;
    const auto byte = static_cast<unsigned char>(signalNumber);
    [[maybe_unused]] const ssize_t n = ::write(signalPipe[1], &byte, 1);
    errno = saved;
}

} // namespace

TerminationSignals::TerminationSignals(QObject* parent)
    : QObject(parent) {
    if (signalPipe[0] >= 0 || ::pipe2(signalPipe, O_CLOEXEC | O_NONBLOCK) != 0)
        return;
    m_notifier = new QSocketNotifier(signalPipe[0], QSocketNotifier::Read, this);
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::onReadable);
    struct sigaction action {};
    action.sa_handler = onSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    for (std::size_t i = 0; i < CaughtSignals.size(); ++i)
        ::sigaction(CaughtSignals[i], &action, &previousActions[i]);
    m_installed = true;
}

TerminationSignals::~TerminationSignals() {
    restoreActions();
    delete m_notifier;
    m_notifier = nullptr;
    if (m_installed) {
        for (int& fd : signalPipe) {
            ::close(fd);
            fd = -1;
        }
    }
}

bool TerminationSignals::isActive() const {
    return m_installed;
}

void TerminationSignals::restoreActions() {
    if (!m_installed)
        return;
    for (std::size_t i = 0; i < CaughtSignals.size(); ++i)
        ::sigaction(CaughtSignals[i], &previousActions[i], nullptr);
}

void TerminationSignals::onReadable() {
    unsigned char byte = 0;
    int last = 0;
    while (::read(signalPipe[0], &byte, 1) == 1)
        last = byte;
    if (last == 0)
        return;
    // A second signal is not caught again: whoever sends it wants the program gone now.
    restoreActions();
    Q_EMIT received(last);
}

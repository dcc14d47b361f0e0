#include "TerminationSignals.h"

#include <QCoreApplication>
#include <QSocketNotifier>

#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <csignal>

#include "SystemLog.h"

namespace
{
int g_writeDescriptor = -1;

// Async-signal-safe: only a write of one byte into the pipe.
void noteSignal(int signalNumber)
{
    const auto byte = static_cast<char>(signalNumber);
    const int savedErrno = errno;
    [[maybe_unused]] const ssize_t written = ::write(g_writeDescriptor, &byte, 1);
    errno = savedErrno;
}
}

TerminationSignals::TerminationSignals(int readDescriptor, std::function<void()> handler)
    : QObject(QCoreApplication::instance()), m_readDescriptor(readDescriptor),
      m_notifier(new QSocketNotifier(readDescriptor, QSocketNotifier::Read, this)), m_handler(std::move(handler))
{
    connect(m_notifier, &QSocketNotifier::activated, this, &TerminationSignals::signalArrived);
}

void TerminationSignals::install(std::function<void()> handler)
{
    if (g_writeDescriptor >= 0)
        return;
    int descriptors[2];
    if (::pipe2(descriptors, O_CLOEXEC | O_NONBLOCK) != 0) {
        SystemLog::write("Tarnwick cannot hear SIGTERM and SIGINT; they end it without saving.");
        return;
    }
    g_writeDescriptor = descriptors[1];
    new TerminationSignals(descriptors[0], std::move(handler));
    struct sigaction action {};
    action.sa_handler = noteSignal;
    sigemptyset(&action.sa_mask);
    action.sa_flags = SA_RESTART;
    sigaction(SIGTERM, &action, nullptr);
    sigaction(SIGINT, &action, nullptr);
}

void TerminationSignals::signalArrived()
{
    char bytes[16];
    while (::read(m_readDescriptor, bytes, sizeof(bytes)) > 0) {
    }
    m_handler();
}

#pragma once

#include <QObject>

#include <functional>

class QSocketNotifier;

// Turns SIGTERM and SIGINT into a call on the main thread, so that a request to end Tarnwick from
// outside (the session, kill, Ctrl+C) takes the same quit path as the Quit command.
class TerminationSignals : public QObject
{
    Q_OBJECT

public:
    // Once, on the main thread with the application made.
    static void install(std::function<void()> handler);

private:
    TerminationSignals(int readDescriptor, std::function<void()> handler);
    void signalArrived();

    int m_readDescriptor;
    QSocketNotifier *m_notifier;
    std::function<void()> m_handler;
};

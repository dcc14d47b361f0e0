#include "DesktopOpener.h"

#include <QCoreApplication>
#include <QProcess>
#include <QUrl>

#include <mutex>

namespace
{
std::mutex openerMutex;
std::shared_ptr<DesktopOpener> &registeredOpener()
{
    static std::shared_ptr<DesktopOpener> opener;
    return opener;
}

// The answer comes from the event loop, never from inside the process's own signal.
void answerLater(const DesktopOpener::Opened &opened, bool answer)
{
    if (opened)
        QMetaObject::invokeMethod(qApp, [opened, answer] { opened(answer); }, Qt::QueuedConnection);
}
}

DesktopOpener::~DesktopOpener() = default;

DesktopOpener &DesktopOpener::current()
{
    static XdgOpener desktop;
    std::lock_guard lock(openerMutex);
    const std::shared_ptr<DesktopOpener> &opener = registeredOpener();
    return opener ? *opener : desktop;
}

void DesktopOpener::setCurrent(std::shared_ptr<DesktopOpener> opener)
{
    std::lock_guard lock(openerMutex);
    registeredOpener() = std::move(opener);
}

QUrl DesktopOpener::fileURL(const std::string &path)
{
    return QUrl::fromEncoded(QByteArrayLiteral("file://") + QByteArray::fromStdString(path).toPercentEncoding("/"));
}

void XdgOpener::openFile(const std::string &path, Opened opened)
{
    // xdg-open may wait for the application it starts; the process is not ended with Tarnwick's
    // objects (it has no parent), so quitting never takes a viewer with it.
    auto *process = new QProcess;
    process->setProgram(QStringLiteral("xdg-open"));
    process->setArguments({fileURL(path).toString(QUrl::FullyEncoded)});
    process->setStandardInputFile(QProcess::nullDevice());
    // What it says about a failure reaches standard error, as the desktop's other messages do.
    process->setProcessChannelMode(QProcess::ForwardedChannels);
    QObject::connect(process, &QProcess::finished, process,
                     [process, opened](int exitCode, QProcess::ExitStatus status) {
                         process->deleteLater();
                         answerLater(opened, status == QProcess::NormalExit && exitCode == 0);
                     });
    QObject::connect(process, &QProcess::errorOccurred, process, [process, opened](QProcess::ProcessError error) {
        if (error != QProcess::FailedToStart)
            return;
        process->deleteLater();
        answerLater(opened, false);
    });
    process->start();
}

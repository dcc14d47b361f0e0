#include "VolumeUnmounter.h"

#include <QObject>
#include <QPointer>
#include <QThread>
#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdlib>
#include <future>
#include <memory>
#include <mutex>
#include <optional>
#include <spawn.h>
#include <thread>
#include <sys/mount.h>
#include <sys/wait.h>
#include <unistd.h>
#include <vector>

#include "MainThread.h"
#include "MountTable.h"

extern char **environ;

namespace
{
std::optional<std::string> executableInPath(const std::string &name)
{
    const char *path = std::getenv("PATH");
    const std::string folders = path ? path : "/usr/bin:/bin";
    std::size_t start = 0;
    while (start <= folders.size()) {
        const std::size_t colon = folders.find(':', start);
        const std::string folder = folders.substr(start, colon == std::string::npos ? std::string::npos : colon - start);
        if (!folder.empty()) {
            const std::string candidate = folder + "/" + name;
            if (access(candidate.c_str(), X_OK) == 0)
                return candidate;
        }
        if (colon == std::string::npos)
            break;
        start = colon + 1;
    }
    return std::nullopt;
}

// Runs the program with its arguments, no shell; true when it exits with 0.
bool run(const std::string &program, const std::vector<std::string> &arguments)
{
    std::vector<char *> argv;
    argv.push_back(const_cast<char *>(program.c_str()));
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    pid_t child = 0;
    if (posix_spawn(&child, program.c_str(), nullptr, nullptr, argv.data(), environ) != 0)
        return false;
    int status = 0;
    while (waitpid(child, &status, 0) < 0) {
        if (errno != EINTR)
            return false;
    }
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

std::string withoutFinalSlashes(std::string path)
{
    while (path.size() > 1 && path.back() == '/')
        path.pop_back();
    return path;
}

// A volume is busy for an instant whenever something looks at it (the background watcher
// resolving its roots, a desktop indexer): a refusal for that reason is retried for a while.
bool unmountRetryingWhileBusy(const std::string &mountPoint)
{
    constexpr auto patience = std::chrono::seconds(3);
    const auto deadline = std::chrono::steady_clock::now() + patience;
    auto pause = std::chrono::milliseconds(5);
    while (umount2(mountPoint.c_str(), 0) != 0) {
        if (errno != EBUSY || std::chrono::steady_clock::now() + pause > deadline)
            return false;
        std::this_thread::sleep_for(pause);
        pause = std::min(pause * 2, std::chrono::milliseconds(250));
    }
    return true;
}

bool unmountNow(const std::string &path)
{
    const std::string mountPoint = withoutFinalSlashes(path);
    const std::optional<MountEntry> mount = MountTable::current().mountAt(mountPoint);
    if (!mount)
        return false;
    if (mount->source.starts_with("/dev/")) {
        if (const std::optional<std::string> udisksctl = executableInPath("udisksctl")) {
            if (run(*udisksctl, {"unmount", "--no-user-interaction", "-b", mount->source})) {
                run(*udisksctl, {"power-off", "--no-user-interaction", "-b", mount->source});
                return true;
            }
        }
    }
    return unmountRetryingWhileBusy(mountPoint);
}

struct Approval
{
    std::mutex mutex;
    QPointer<QObject> context;
    VolumeUnmounter::ApprovalCallback callback;
};

Approval &approval()
{
    static Approval *shared = new Approval;
    return *shared;
}

// Runs its step when the last holder lets go: after the approval callback has run, or when the
// callback's thread dropped the request unrun (its context went away), so the unmount always follows.
class AfterApproval
{
public:
    explicit AfterApproval(std::function<void()> next) : m_next(std::move(next)) {}
    ~AfterApproval() { m_next(); }
    AfterApproval(const AfterApproval &) = delete;
    AfterApproval &operator=(const AfterApproval &) = delete;

private:
    std::function<void()> m_next;
};

void approveThen(const std::string &path, std::function<void()> next)
{
    auto after = std::make_shared<AfterApproval>(std::move(next));
    Approval &shared = approval();
    std::unique_lock lock(shared.mutex);
    if (!shared.context || !shared.callback)
        return;
    if (shared.context->thread() == QThread::currentThread()) {
        const VolumeUnmounter::ApprovalCallback callback = shared.callback;
        lock.unlock();
        callback(path);
        return;
    }
    QMetaObject::invokeMethod(
        shared.context.data(), [path, callback = shared.callback, after] { callback(path); }, Qt::QueuedConnection);
}
}

void VolumeUnmounter::setApprovalCallback(QObject *context, ApprovalCallback callback)
{
    Approval &shared = approval();
    std::lock_guard lock(shared.mutex);
    shared.context = context;
    shared.callback = std::move(callback);
}

void VolumeUnmounter::clearApprovalCallback(QObject *context)
{
    Approval &shared = approval();
    std::lock_guard lock(shared.mutex);
    if (shared.context != context)
        return;
    shared.context = nullptr;
    shared.callback = nullptr;
}

void VolumeUnmounter::unmountAndEjectDeviceAtPathAsync(const std::string &path, Completion completion)
{
    approveThen(path, [path, completion = std::move(completion)] {
        std::thread([path, completion] {
            const bool unmounted = unmountNow(path);
            MainThread::post([completion, unmounted] { completion(unmounted); });
        }).detach();
    });
}

bool VolumeUnmounter::unmountAndEjectDeviceAtPath(const std::string &path)
{
    auto approved = std::make_shared<std::promise<void>>();
    std::future<void> done = approved->get_future();
    approveThen(path, [approved] { approved->set_value(); });
    done.wait();
    return unmountNow(path);
}

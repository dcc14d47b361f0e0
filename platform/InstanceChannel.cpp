#include "InstanceChannel.h"

#include <QLocalServer>
#include <QLocalSocket>
#include <QTimer>

#include <fcntl.h>
#include <poll.h>
#include <sys/file.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <cstddef>
#include <cstdio>
#include <cstring>
#include <optional>
#include <thread>

#include "Error.h"
#include "FileDescriptor.h"
#include "FolderAndName.h"
#include "MainThread.h"
#include "PrivateFolders.h"
#include "SystemLog.h"
#include "XdgPaths.h"

namespace
{
constexpr char magic[] = {'T', 'W', 'I', 'C'};
constexpr std::size_t headerSize = sizeof(magic) + 1 + 4;
// A sender that has not finished its message by then is cut off.
constexpr int receiveTimeoutMilliseconds = 10000;
// How often a start waiting for a starting instance looks again.
constexpr auto retryInterval = std::chrono::milliseconds(25);

void appendLength(std::string &out, std::uint32_t value)
{
    for (int shift = 24; shift >= 0; shift -= 8)
        out.push_back(static_cast<char>((value >> shift) & 0xFF));
}

std::uint32_t readLength(const std::string &in, std::size_t at)
{
    std::uint32_t value = 0;
    for (std::size_t i = 0; i < 4; ++i)
        value = (value << 8) | static_cast<std::uint8_t>(in[at + i]);
    return value;
}

// Checks the fixed header of a message whose first headerSize bytes have arrived.
bool checkHeader(const std::string &message, std::uint32_t &payloadSize, std::string &error)
{
    if (std::memcmp(message.data(), magic, sizeof(magic)) != 0) {
        error = "it is no Tarnwick message";
        return false;
    }
    const auto version = static_cast<std::uint8_t>(message[sizeof(magic)]);
    if (version != InstanceChannel::pathsMessageVersion && version != InstanceChannel::commandMessageVersion) {
        error = "its version is unknown";
        return false;
    }
    payloadSize = readLength(message, sizeof(magic) + 1);
    if (payloadSize > InstanceChannel::maximumPayloadSize) {
        error = "it is too large";
        return false;
    }
    return true;
}

int remainingMilliseconds(std::chrono::steady_clock::time_point deadline)
{
    const auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - std::chrono::steady_clock::now());
    return left.count() > 0 ? static_cast<int>(left.count()) : 0;
}

// Waits for the descriptor to be ready for the events; false at the deadline.
bool waitFor(int descriptor, short events, std::chrono::steady_clock::time_point deadline)
{
    for (;;) {
        pollfd entry{descriptor, events, 0};
        const int ready = poll(&entry, 1, remainingMilliseconds(deadline));
        if (ready > 0)
            return true;
        if (ready == 0 || errno != EINTR)
            return false;
    }
}

// The queue of connections the kernel keeps before the instance takes them.
constexpr int listenBacklog = 64;
// How often the instance looks whether its server still listens.
constexpr int listeningCheckMilliseconds = 1000;

// The socket's address: its path, or its abstract name when the path does not fit.
socklen_t socketAddress(const std::string &socketPath, sockaddr_un &address)
{
    address = sockaddr_un{};
    address.sun_family = AF_UNIX;
    if (socketPath.size() < sizeof(address.sun_path)) {
        std::memcpy(address.sun_path, socketPath.c_str(), socketPath.size() + 1);
        return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + socketPath.size() + 1);
    }
    const std::string name = InstanceChannel::abstractNameFor(socketPath);
    std::memcpy(address.sun_path + 1, name.data(), name.size());
    return static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
}

// The user id of the process at the other end of a connected socket; nullopt when unknown.
std::optional<uid_t> peerUser(int descriptor)
{
    ucred peer{};
    socklen_t size = sizeof(peer);
    if (::getsockopt(descriptor, SOL_SOCKET, SO_PEERCRED, &peer, &size) != 0 || size != sizeof(peer))
        return std::nullopt;
    return peer.uid;
}

void refuse(QLocalSocket *socket, const std::string &reason)
{
    SystemLog::write("Refused a message from another start of Tarnwick: " + reason + ".");
    socket->write(&InstanceChannel::refusedReply, 1);
    socket->disconnectFromServer();
}
}

std::string InstanceChannel::defaultSocketPath()
{
    const char *runtime = std::getenv("XDG_RUNTIME_DIR");
    const std::string folder = runtime && *runtime ? std::string(runtime) : privateFallbackFolder();
    return folder + "/tarnwick-" + std::to_string(getuid());
}

std::string InstanceChannel::privateFallbackFolder()
{
    return XdgPaths::applicationCachesFolder() + "/instance";
}

std::string InstanceChannel::abstractNameFor(const std::string &socketPath)
{
    // FNV-1a: the same path gives the same name in every build.
    std::uint64_t hash = 0xcbf29ce484222325ULL;
    for (const char byte : socketPath) {
        hash ^= static_cast<std::uint8_t>(byte);
        hash *= 0x100000001b3ULL;
    }
    char hex[17];
    std::snprintf(hex, sizeof(hex), "%016llx", static_cast<unsigned long long>(hash));
    return "tarnwick-" + std::to_string(getuid()) + "-" + hex;
}

bool InstanceChannel::usesAbstractName() const
{
    return m_socketPath.size() >= sizeof(sockaddr_un::sun_path);
}

bool InstanceChannel::prepareFolder(std::string &error) const
{
    const std::string folder = FolderAndName::of(m_socketPath).folder;
    if (!makePrivateFolders(folder)) {
        error = "Cannot create the folder " + folder + ": " + std::strerror(errno);
        return false;
    }
    struct stat status {};
    if (::stat(folder.c_str(), &status) != 0) {
        error = "Cannot examine " + folder + ": " + std::strerror(errno);
        return false;
    }
    if (!S_ISDIR(status.st_mode)) {
        error = "The socket's place " + folder + " is no folder.";
        return false;
    }
    if (status.st_uid != getuid()) {
        error = "The folder " + folder + " for Tarnwick's socket belongs to another user.";
        return false;
    }
    // The fallback folder is Tarnwick's own and kept private; any other must be private already.
    if ((status.st_mode & 077) != 0 && folder == privateFallbackFolder() && ::chmod(folder.c_str(), 0700) == 0)
        status.st_mode = S_IFDIR | 0700;
    if ((status.st_mode & 022) != 0) {
        error = "The folder " + folder + " for Tarnwick's socket is open to other users.";
        return false;
    }
    return true;
}

InstanceChannel::InstanceChannel(std::string socketPath) : m_socketPath(std::move(socketPath))
{
}

InstanceChannel::~InstanceChannel()
{
    // Closing the server removes its socket file; the lock goes last so that no other start
    // becomes the instance while the file is still there.
    m_server.reset();
    if (m_lockDescriptor >= 0)
        ::close(m_lockDescriptor);
}

bool InstanceChannel::isValidCommand(const std::string &command)
{
    if (command.empty() || command.size() > maximumCommandLength)
        return false;
    for (const char character : command) {
        if (!((character >= 'a' && character <= 'z') || (character >= '0' && character <= '9') || character == '-'))
            return false;
    }
    return true;
}

std::string InstanceChannel::encodeMessage(const std::vector<std::string> &paths, const std::string &command)
{
    if (paths.size() > maximumPathCount)
        throw Error::posix(E2BIG);
    if (!command.empty() && !isValidCommand(command))
        throw Error::posix(EINVAL);
    std::string payload;
    if (!command.empty()) {
        appendLength(payload, static_cast<std::uint32_t>(command.size()));
        payload += command;
    }
    appendLength(payload, static_cast<std::uint32_t>(paths.size()));
    for (const std::string &path : paths) {
        if (path.empty() || path.front() != '/' || path.size() > maximumPathLength
            || path.find('\0') != std::string::npos)
            throw Error::posix(EINVAL);
        appendLength(payload, static_cast<std::uint32_t>(path.size()));
        payload += path;
    }
    if (payload.size() > maximumPayloadSize)
        throw Error::posix(E2BIG);

    std::string message(magic, sizeof(magic));
    message.push_back(static_cast<char>(command.empty() ? pathsMessageVersion : commandMessageVersion));
    appendLength(message, static_cast<std::uint32_t>(payload.size()));
    return message + payload;
}

bool InstanceChannel::decodeMessage(const std::string &message, std::vector<std::string> &paths, std::string &error)
{
    Message decoded;
    const bool decodedWell = decodeMessage(message, decoded, error);
    paths = std::move(decoded.paths);
    return decodedWell;
}

bool InstanceChannel::decodeMessage(const std::string &message, Message &decodedMessage, std::string &error)
{
    decodedMessage = {};
    std::uint32_t payloadSize = 0;
    if (message.size() < headerSize) {
        error = "it is incomplete";
        return false;
    }
    if (!checkHeader(message, payloadSize, error))
        return false;
    if (message.size() != headerSize + payloadSize) {
        error = "its length does not match its header";
        return false;
    }
    std::size_t at = headerSize;
    const std::size_t end = message.size();
    std::string command;
    if (static_cast<std::uint8_t>(message[sizeof(magic)]) == commandMessageVersion) {
        if (end - at < 4) {
            error = "it has no command";
            return false;
        }
        const std::uint32_t length = readLength(message, at);
        at += 4;
        if (length > maximumCommandLength || end - at < length) {
            error = "its command has a wrong length";
            return false;
        }
        command = message.substr(at, length);
        at += length;
        if (!isValidCommand(command)) {
            error = "its command is not a command name";
            return false;
        }
    }
    if (end - at < 4) {
        error = "it has no path count";
        return false;
    }
    const std::uint32_t count = readLength(message, at);
    at += 4;
    if (count > maximumPathCount) {
        error = "it names too many paths";
        return false;
    }
    std::vector<std::string> decoded;
    for (std::uint32_t i = 0; i < count; ++i) {
        if (end - at < 4) {
            error = "a path is cut short";
            return false;
        }
        const std::uint32_t length = readLength(message, at);
        at += 4;
        if (length == 0 || length > maximumPathLength || end - at < length) {
            error = "a path has a wrong length";
            return false;
        }
        std::string path = message.substr(at, length);
        at += length;
        if (path.front() != '/' || path.find('\0') != std::string::npos) {
            error = "a path is not absolute";
            return false;
        }
        decoded.push_back(std::move(path));
    }
    if (at != end) {
        error = "bytes follow the last path";
        return false;
    }
    decodedMessage.command = std::move(command);
    decodedMessage.paths = std::move(decoded);
    return true;
}

InstanceChannel::Outcome InstanceChannel::handOverOrBecomeInstance(const std::vector<std::string> &paths,
                                                                     std::chrono::milliseconds timeout,
                                                                     std::string &error, const std::string &command)
{
    std::string message;
    try {
        message = encodeMessage(paths, command);
    } catch (const Error &) {
        error = "The paths cannot be handed over (too many, too long, or not absolute), or the command is not one.";
        return Outcome::failed;
    }
    if (!prepareFolder(error))
        return Outcome::failed;
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        switch (deliver(message, deadline, error)) {
        case Delivery::delivered:
            return Outcome::handedOver;
        case Delivery::failed:
            return Outcome::failed;
        case Delivery::busy:
            error.clear();
            if (std::chrono::steady_clock::now() >= deadline) {
                error = "The running Tarnwick is busy and did not take the paths in time.";
                return Outcome::failed;
            }
            std::this_thread::sleep_for(retryInterval);
            continue;
        case Delivery::noInstance:
            break;
        }
        if (tryLock(error))
            return Outcome::becameInstance;
        if (!error.empty())
            return Outcome::failed;
        // Another start holds the lock and is about to listen.
        if (std::chrono::steady_clock::now() >= deadline) {
            error = "A running Tarnwick did not answer in time.";
            return Outcome::failed;
        }
        std::this_thread::sleep_for(retryInterval);
    }
}

InstanceChannel::Delivery InstanceChannel::deliver(const std::string &message,
                                                   std::chrono::steady_clock::time_point deadline,
                                                   std::string &error) const
{
    if (!usesAbstractName()) {
        struct stat info {};
        if (lstat(m_socketPath.c_str(), &info) != 0) {
            if (errno == ENOENT)
                return Delivery::noInstance;
            error = "Cannot examine " + m_socketPath + ": " + std::strerror(errno);
            return Delivery::failed;
        }
        if (info.st_uid != getuid()) {
            error = m_socketPath + " belongs to another user.";
            return Delivery::failed;
        }
        if (!S_ISSOCK(info.st_mode))
            return Delivery::noInstance;
    }
    sockaddr_un address{};
    const socklen_t addressLength = socketAddress(m_socketPath, address);

    const FileDescriptor socketDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socketDescriptor.isValid()) {
        error = std::string("Cannot make a socket: ") + std::strerror(errno);
        return Delivery::failed;
    }
    const int descriptor = socketDescriptor.get();
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), addressLength) != 0) {
        // No listener (a stale file, or an instance not yet listening), or its queue is full.
        if (errno == ECONNREFUSED || errno == ENOENT || errno == EAGAIN)
            return Delivery::noInstance;
        error = "Cannot reach the running Tarnwick: " + std::string(std::strerror(errno));
        return Delivery::failed;
    }
    // An abstract name can be taken by anyone: the listener must be the user's own.
    if (peerUser(descriptor) != getuid()) {
        error = "The socket " + m_socketPath + " is held by another user's process.";
        return Delivery::failed;
    }

    std::size_t sent = 0;
    while (sent < message.size()) {
        if (!waitFor(descriptor, POLLOUT, deadline)) {
            error = "The running Tarnwick did not take the paths in time.";
            return Delivery::failed;
        }
        const ssize_t written = ::send(descriptor, message.data() + sent, message.size() - sent, MSG_NOSIGNAL);
        if (written < 0) {
            if (errno == EAGAIN || errno == EINTR)
                continue;
            error = "Cannot send the paths: " + std::string(std::strerror(errno));
            return Delivery::failed;
        }
        sent += static_cast<std::size_t>(written);
    }

    for (;;) {
        if (!waitFor(descriptor, POLLIN, deadline)) {
            error = "The running Tarnwick did not answer in time.";
            return Delivery::failed;
        }
        char reply = 0;
        const ssize_t received = ::recv(descriptor, &reply, 1, 0);
        if (received < 0 && (errno == EAGAIN || errno == EINTR))
            continue;
        if (received == 1 && reply == acceptedReply)
            return Delivery::delivered;
        if (received == 1) {
            error = "The running Tarnwick refused the paths.";
            return Delivery::failed;
        }
        // Closed without an answer: the instance serves as many connections as it takes.
        return Delivery::busy;
    }
}

bool InstanceChannel::tryLock(std::string &error)
{
    error.clear();
    if (m_lockDescriptor >= 0)
        return true;
    const std::string lockPath = m_socketPath + ".lock";
    const int descriptor = ::open(lockPath.c_str(), O_RDWR | O_CREAT | O_CLOEXEC | O_NOFOLLOW, 0600);
    if (descriptor < 0) {
        error = "Cannot open " + lockPath + ": " + std::strerror(errno);
        return false;
    }
    if (::flock(descriptor, LOCK_EX | LOCK_NB) != 0) {
        const int code = errno;
        ::close(descriptor);
        if (code != EWOULDBLOCK)
            error = "Cannot lock " + lockPath + ": " + std::strerror(code);
        return false;
    }
    m_lockDescriptor = descriptor;
    return true;
}

bool InstanceChannel::listen(PathsHandler handler, CommandHandler commandHandler)
{
    if (m_lockDescriptor < 0) {
        SystemLog::write("Tarnwick cannot take messages from other starts: it is not the running instance.");
        return false;
    }
    m_handler = std::move(handler);
    m_commandHandler = std::move(commandHandler);
    m_server = std::make_unique<QLocalServer>();
    m_server->setMaxPendingConnections(maximumConnections);
    std::string error;
    if (!bindAndListen(error)) {
        SystemLog::write("Tarnwick cannot take messages from other starts at " + m_socketPath + ": " + error);
        m_server.reset();
        return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] { acceptConnections(); });
    // Qt's server closes for good when a connection cannot be taken (descriptors ran out).
    auto *listeningCheck = new QTimer(m_server.get());
    QObject::connect(listeningCheck, &QTimer::timeout, m_server.get(), [this] { listenAgainIfStopped(); });
    listeningCheck->start(listeningCheckMilliseconds);
    return true;
}

bool InstanceChannel::bindAndListen(std::string &error)
{
    const int descriptor = ::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0);
    if (descriptor < 0) {
        error = std::string("cannot make a socket: ") + std::strerror(errno);
        return false;
    }
    // Holding the lock, any socket file here was left by an instance that ended.
    if (!usesAbstractName())
        ::unlink(m_socketPath.c_str());
    sockaddr_un address{};
    const socklen_t addressLength = socketAddress(m_socketPath, address);
    if (::bind(descriptor, reinterpret_cast<const sockaddr *>(&address), addressLength) != 0
        || ::listen(descriptor, listenBacklog) != 0) {
        error = std::strerror(errno);
        ::close(descriptor);
        return false;
    }
    if (!m_server->listen(descriptor)) {
        error = m_server->errorString().toStdString();
        ::close(descriptor);
        return false;
    }
    return true;
}

void InstanceChannel::listenAgainIfStopped()
{
    if (!m_server || m_server->isListening())
        return;
    if (!m_toldStopped)
        SystemLog::write("Tarnwick stopped taking messages from other starts ("
                         + m_server->errorString().toStdString() + "); it listens again as soon as it can.");
    std::string error;
    if (bindAndListen(error)) {
        SystemLog::write("Tarnwick takes messages from other starts again.");
        m_toldStopped = false;
        return;
    }
    m_toldStopped = true;
}

bool InstanceChannel::admit(QLocalSocket *socket)
{
    const std::optional<uid_t> user = peerUser(static_cast<int>(socket->socketDescriptor()));
    const bool sameUser = user == getuid();
    if (sameUser && m_openConnections < maximumConnections) {
        ++m_openConnections;
        QObject::connect(socket, &QObject::destroyed, m_server.get(), [this] {
            if (--m_openConnections == 0)
                m_toldBusy = false;
            listenAgainIfStopped();
        });
        return true;
    }
    // One line per burst or per minute: a flood must not flood the log as well.
    const auto now = std::chrono::steady_clock::now();
    if (!sameUser && now - m_lastStrangerLine >= std::chrono::minutes(1)) {
        m_lastStrangerLine = now;
        SystemLog::write("Refused a connection from a process of another user ("
                         + (user ? "user id " + std::to_string(*user) : std::string("user unknown")) + ").");
    } else if (sameUser && !m_toldBusy) {
        m_toldBusy = true;
        SystemLog::write("Refused connections from other starts of Tarnwick: " + std::to_string(maximumConnections)
                         + " are open already.");
    }
    socket->abort();
    socket->deleteLater();
    return false;
}

bool InstanceChannel::isListening() const
{
    return m_server && m_server->isListening();
}

void InstanceChannel::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
        if (!admit(socket))
            continue;
        struct Connection
        {
            std::string received;
            bool answered = false;
        };
        auto connection = std::make_shared<Connection>();

        auto *timer = new QTimer(socket);
        timer->setSingleShot(true);
        QObject::connect(timer, &QTimer::timeout, socket, [socket, connection] {
            if (connection->answered)
                return;
            connection->answered = true;
            SystemLog::write("Refused a message from another start of Tarnwick: it did not arrive in time.");
            socket->abort();
        });
        timer->start(receiveTimeoutMilliseconds);

        QObject::connect(socket, &QLocalSocket::disconnected, socket, &QObject::deleteLater);
        QObject::connect(socket, &QLocalSocket::readyRead, socket, [this, socket, connection, timer] {
            const QByteArray chunk = socket->readAll();
            if (connection->answered)
                return;
            if (connection->received.size() + static_cast<std::size_t>(chunk.size()) > headerSize + maximumPayloadSize) {
                connection->answered = true;
                refuse(socket, "it is too large");
                return;
            }
            connection->received.append(chunk.constData(), static_cast<std::size_t>(chunk.size()));
            if (connection->received.size() < headerSize)
                return;
            std::uint32_t payloadSize = 0;
            std::string problem;
            if (!checkHeader(connection->received, payloadSize, problem)) {
                connection->answered = true;
                refuse(socket, problem);
                return;
            }
            if (connection->received.size() < headerSize + payloadSize)
                return;
            Message message;
            connection->answered = true;
            timer->stop();
            if (!decodeMessage(connection->received, message, problem)) {
                refuse(socket, problem);
                return;
            }
            if (!message.command.empty() && !m_commandHandler) {
                refuse(socket, "it holds a command this instance does not take");
                return;
            }
            socket->write(&acceptedReply, 1);
            socket->disconnectFromServer();
            MainThread::post([handler = m_handler, commandHandler = m_commandHandler, message = std::move(message)] {
                if (!message.command.empty())
                    commandHandler(message.command, message.paths);
                else if (handler)
                    handler(message.paths);
            });
        });
    }
}

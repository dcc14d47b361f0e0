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
#include <cstring>
#include <filesystem>
#include <thread>

#include "Error.h"
#include "FileDescriptor.h"
#include "MainThread.h"
#include "SystemLog.h"

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
    const std::string folder = runtime && *runtime ? std::string(runtime)
                                                   : std::filesystem::temp_directory_path().string();
    return folder + "/tarnwick-" + std::to_string(getuid());
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
    const auto deadline = std::chrono::steady_clock::now() + timeout;
    for (;;) {
        switch (deliver(message, deadline, error)) {
        case Delivery::delivered:
            return Outcome::handedOver;
        case Delivery::failed:
            return Outcome::failed;
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

    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    if (m_socketPath.size() >= sizeof(address.sun_path)) {
        error = "The socket path " + m_socketPath + " is too long.";
        return Delivery::failed;
    }
    std::memcpy(address.sun_path, m_socketPath.c_str(), m_socketPath.size() + 1);

    const FileDescriptor socketDescriptor(::socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC | SOCK_NONBLOCK, 0));
    if (!socketDescriptor.isValid()) {
        error = std::string("Cannot make a socket: ") + std::strerror(errno);
        return Delivery::failed;
    }
    const int descriptor = socketDescriptor.get();
    if (::connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0) {
        // No listener (a stale file, or an instance not yet listening), or its queue is full.
        if (errno == ECONNREFUSED || errno == ENOENT || errno == EAGAIN)
            return Delivery::noInstance;
        error = "Cannot reach the running Tarnwick: " + std::string(std::strerror(errno));
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
        error = received == 1 ? "The running Tarnwick refused the paths."
                              : "The running Tarnwick closed the connection without answering.";
        return Delivery::failed;
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
    m_server->setSocketOptions(QLocalServer::UserAccessOption);
    const QString name = QString::fromStdString(m_socketPath);
    // Holding the lock, any socket file here was left by an instance that ended.
    QLocalServer::removeServer(name);
    if (!m_server->listen(name)) {
        SystemLog::write("Tarnwick cannot take messages from other starts at " + m_socketPath + ": "
                         + m_server->errorString().toStdString());
        m_server.reset();
        return false;
    }
    QObject::connect(m_server.get(), &QLocalServer::newConnection, m_server.get(), [this] { acceptConnections(); });
    return true;
}

bool InstanceChannel::isListening() const
{
    return m_server && m_server->isListening();
}

void InstanceChannel::acceptConnections()
{
    while (QLocalSocket *socket = m_server->nextPendingConnection()) {
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

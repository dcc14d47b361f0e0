#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "TallowExport.h"

class QLocalServer;
class QLocalSocket;

// Keeps Tarnwick to one running instance per user. A start while an instance runs hands its
// paths to that instance over a local socket and ends; a start while none runs becomes the
// instance. An exclusive lock on a file beside the socket says who the instance is, so two
// starts at the same moment cannot both become it, and a socket file left by a crashed
// instance is known to be stale and removed.
//
// The socket lives in a folder private to the user: $XDG_RUNTIME_DIR, else a folder of the
// user's own caches folder made with mode 0700; a folder that belongs to someone else or that
// others may write to is refused. Where the socket's path would not fit a socket address, the
// socket takes an abstract name instead. Both ends check that the other is the same user.
// The instance serves a bounded number of connections at once and refuses the excess at once;
// when its server stops (descriptors ran out), it listens again as soon as it can.
//
// A message is the magic "TWIC", a version byte, the payload's length (32-bit big-endian) and
// the payload. Version 1 (paths only, still understood) holds the number of paths, then each path
// as its length and its bytes (all lengths 32-bit big-endian); every path is absolute. Version 2
// puts a command before them, as its length and its bytes: a launcher action such as "show" (lower
// case letters, digits and "-"). A message without a command is sent as version 1, so an older
// instance still understands it. The instance answers one byte: 'A' accepted, 'R' refused.
class TALLOW_EXPORT InstanceChannel
{
public:
    using PathsHandler = std::function<void(const std::vector<std::string> &paths)>;
    using CommandHandler = std::function<void(const std::string &command, const std::vector<std::string> &paths)>;

    struct Message
    {
        std::string command;
        std::vector<std::string> paths;
    };

    enum class Outcome
    {
        becameInstance,
        handedOver,
        failed
    };

    static constexpr std::uint8_t pathsMessageVersion = 1;
    static constexpr std::uint8_t commandMessageVersion = 2;
    static constexpr std::uint32_t maximumCommandLength = 64;
    static constexpr std::uint32_t maximumPathLength = 4096;
    static constexpr std::uint32_t maximumPathCount = 65536;
    static constexpr std::uint32_t maximumPayloadSize = 8 * 1024 * 1024;
    static constexpr char acceptedReply = 'A';
    static constexpr char refusedReply = 'R';
    static constexpr int maximumConnections = 32;

    // "tarnwick-UID" in $XDG_RUNTIME_DIR when it is set, else in privateFallbackFolder().
    static std::string defaultSocketPath();
    // "instance" in the application's caches folder.
    static std::string privateFallbackFolder();
    // The abstract socket name taken when the path is too long for a socket address.
    static std::string abstractNameFor(const std::string &socketPath);

    explicit InstanceChannel(std::string socketPath = defaultSocketPath());
    // Stops listening and gives up the instance's lock.
    ~InstanceChannel();
    InstanceChannel(const InstanceChannel &) = delete;
    InstanceChannel &operator=(const InstanceChannel &) = delete;

    const std::string &socketPath() const { return m_socketPath; }

    // Hands the paths, and the command when there is one, to the running instance (handedOver
    // once it has acknowledged them), or, when none runs, takes the instance's lock
    // (becameInstance). An instance that holds the lock but does not answer within the timeout, a
    // refusal, a socket or folder that is not the user's own gives failed, with the reason in
    // error. An instance that closes the connection without an answer (it serves too many) is
    // tried again until the timeout. Needs no Qt application.
    Outcome handOverOrBecomeInstance(const std::vector<std::string> &paths, std::chrono::milliseconds timeout,
                                     std::string &error, const std::string &command = {});

    // Main thread, with the application made and the lock held: removes a stale socket file and
    // listens. The handler receives each accepted message's paths on the main thread, after the
    // sender has been answered; no paths means "show yourself". A message with a command goes to
    // the command handler instead, and is refused when there is none. False (with a system-log
    // line) when listening fails.
    bool listen(PathsHandler handler, CommandHandler commandHandler = {});
    bool isListening() const;

    // The message that carries the paths and the command; throws Error (POSIX domain) when a
    // path is relative, too long or holds a NUL, when there are too many, or when the command is
    // not a valid command name.
    static std::string encodeMessage(const std::vector<std::string> &paths, const std::string &command = {});
    // The command and paths of a complete message of either version; false with the reason in
    // error when it is malformed.
    static bool decodeMessage(const std::string &message, Message &decoded, std::string &error);
    // The paths of a complete message (its command, if any, left aside).
    static bool decodeMessage(const std::string &message, std::vector<std::string> &paths, std::string &error);
    // 1 to maximumCommandLength lower-case letters, digits and "-".
    static bool isValidCommand(const std::string &command);

private:
    enum class Delivery
    {
        delivered,
        noInstance,
        busy,
        failed
    };

    Delivery deliver(const std::string &message, std::chrono::steady_clock::time_point deadline,
                     std::string &error) const;
    bool tryLock(std::string &error);
    bool prepareFolder(std::string &error) const;
    bool usesAbstractName() const;
    bool bindAndListen(std::string &error);
    void listenAgainIfStopped();
    bool admit(QLocalSocket *socket);
    void acceptConnections();

    std::string m_socketPath;
    int m_lockDescriptor = -1;
    std::unique_ptr<QLocalServer> m_server;
    PathsHandler m_handler;
    CommandHandler m_commandHandler;
    int m_openConnections = 0;
    bool m_toldBusy = false;
    bool m_toldStopped = false;
    std::chrono::steady_clock::time_point m_lastStrangerLine{};
};

#include "EnvironmentOverride.h"
#include "Error.h"
#include "InstanceChannel.h"
#include "SystemLog.h"
#include "TestSupport.h"
#include "XdgPaths.h"

#include <QProcess>
#include <QProcessEnvironment>

#include <algorithm>
#include <cstddef>
#include <filesystem>
#include <future>
#include <gtest/gtest.h>
#include <mutex>
#include <poll.h>
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <sys/socket.h>
#include <sys/un.h>
#include <unistd.h>

using namespace std::chrono_literals;

namespace
{
constexpr auto handOverTimeout = 20s;
constexpr auto processTimeout = std::chrono::milliseconds(30000);

// Sends raw bytes to the socket and answers the one-byte reply, or 0 when none came.
char sendRaw(const std::string &socketPath, const std::string &bytes)
{
    const int descriptor = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(socketPath.begin(), socketPath.end(), address.sun_path);
    char reply = 0;
    if (connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) == 0
        && send(descriptor, bytes.data(), bytes.size(), MSG_NOSIGNAL) == static_cast<ssize_t>(bytes.size())) {
        pollfd entry{descriptor, POLLIN, 0};
        if (poll(&entry, 1, 20000) != 1 || recv(descriptor, &reply, 1, 0) != 1)
            reply = 0;
    }
    close(descriptor);
    return reply;
}

// The descriptor the next open would get; a limit at it leaves none to open.
rlim_t lowestFreeDescriptor()
{
    const int probe = dup(0);
    close(probe);
    return static_cast<rlim_t>(probe);
}

// Waits for work done on a worker thread while the main event loop serves the instance.
template<typename T>
T waitServing(std::future<T> &future)
{
    EXPECT_TRUE(runEventLoopUntil([&future] { return future.wait_for(0s) == std::future_status::ready; },
                                  processTimeout));
    return future.get();
}

// A start of the real executable, its standard error collected; killed if still running at the end.
class TarnwickProcess
{
public:
    TarnwickProcess(const QStringList &arguments, const std::string &workingFolder)
    {
        QProcessEnvironment environment = QProcessEnvironment::systemEnvironment();
        environment.insert("QT_QPA_PLATFORM", "offscreen");
        m_process.setProcessEnvironment(environment);
        m_process.setWorkingDirectory(QString::fromStdString(workingFolder));
        QObject::connect(&m_process, &QProcess::readyReadStandardError,
                         [this] { m_errors += m_process.readAllStandardError().toStdString(); });
        m_process.start(TARNWICK_EXECUTABLE, arguments);
        EXPECT_TRUE(m_process.waitForStarted(30000));
    }
    ~TarnwickProcess()
    {
        if (m_process.state() != QProcess::NotRunning) {
            m_process.kill();
            m_process.waitForFinished(30000);
        }
    }

    bool hasEnded() const { return m_process.state() == QProcess::NotRunning; }
    int exitCode() const { return m_process.exitStatus() == QProcess::NormalExit ? m_process.exitCode() : -1; }
    bool logged(const std::string &text) const { return m_errors.find(text) != std::string::npos; }
    const std::string &errors() const { return m_errors; }
    void kill()
    {
        m_process.kill();
        EXPECT_TRUE(runEventLoopUntil([this] { return hasEnded(); }, processTimeout));
    }

private:
    QProcess m_process;
    std::string m_errors;
};

class InstanceChannelTest : public testing::Test
{
protected:
    InstanceChannelTest() : m_runtime("XDG_RUNTIME_DIR", m_runtimeFolder.path()) {}

    std::string socketPath() const { return InstanceChannel::defaultSocketPath(); }

    // This process as the running instance, recording what it is handed.
    void becomeInstance(InstanceChannel &channel)
    {
        std::string error;
        ASSERT_EQ(channel.handOverOrBecomeInstance({}, handOverTimeout, error),
                  InstanceChannel::Outcome::becameInstance)
            << error;
        ASSERT_TRUE(channel.listen([this](const std::vector<std::string> &paths) { m_received.push_back(paths); }));
    }

    // Hands the paths over from a worker thread, as another start would.
    InstanceChannel::Outcome handOverFromAnotherStart(const std::vector<std::string> &paths)
    {
        std::future<InstanceChannel::Outcome> outcome = std::async(std::launch::async, [paths] {
            InstanceChannel other;
            std::string error;
            return other.handOverOrBecomeInstance(paths, handOverTimeout, error);
        });
        return waitServing(outcome);
    }

    TemporaryDirectory m_runtimeFolder;
    EnvironmentOverride m_runtime;
    TemporaryDirectory m_workingFolder;
    std::vector<std::vector<std::string>> m_received;
};
}

TEST_F(InstanceChannelTest, TheSocketIsTheUsersOwnInTheRuntimeFolder)
{
    EXPECT_EQ(socketPath(), m_runtimeFolder.file("tarnwick-" + std::to_string(getuid())));
    EnvironmentOverride noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    EXPECT_EQ(InstanceChannel::defaultSocketPath(),
              InstanceChannel::privateFallbackFolder() + "/tarnwick-" + std::to_string(getuid()));
    EXPECT_TRUE(InstanceChannel::privateFallbackFolder().starts_with(XdgPaths::cacheHome() + "/"));
}

TEST_F(InstanceChannelTest, WithoutARuntimeFolderTheSocketLivesInAPrivateFolderOfTheUsersCaches)
{
    TemporaryDirectory cache;
    EnvironmentOverride cacheHome("XDG_CACHE_HOME", cache.path());
    EnvironmentOverride noRuntime("XDG_RUNTIME_DIR", std::nullopt);
    // Files planted where the socket used to go (the shared temporary folder) no longer matter.
    const std::string shared = (std::filesystem::temp_directory_path() / ("tarnwick-" + std::to_string(getuid()))).string();
    const bool planted = isRoot() && !std::filesystem::exists(shared) && !std::filesystem::exists(shared + ".lock");
    if (planted) {
        for (const std::string &path : {shared, shared + ".lock"}) {
            writeFile(path, "planted");
            ASSERT_EQ(chown(path.c_str(), 65534, 65534), 0);
        }
    }
    {
        InstanceChannel instance;
        becomeInstance(instance);
        const std::string folder = InstanceChannel::privateFallbackFolder();
        struct stat status {};
        ASSERT_EQ(stat(folder.c_str(), &status), 0);
        EXPECT_EQ(status.st_mode & 07777, 0700u);
        EXPECT_EQ(status.st_uid, getuid());
        EXPECT_TRUE(fileExists(folder + "/tarnwick-" + std::to_string(getuid())));
        EXPECT_EQ(handOverFromAnotherStart({"/private"}), InstanceChannel::Outcome::handedOver);
    }
    if (planted) {
        std::filesystem::remove(shared);
        std::filesystem::remove(shared + ".lock");
    }
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 1; }));

    // A folder there that another user owns is never used.
    if (!isRoot())
        GTEST_SKIP() << "a folder of another user needs root";
    TemporaryDirectory otherCache;
    EnvironmentOverride otherCacheHome("XDG_CACHE_HOME", otherCache.path());
    const std::string folder = InstanceChannel::privateFallbackFolder();
    std::filesystem::create_directories(folder);
    ASSERT_EQ(chown(folder.c_str(), 65534, 65534), 0);
    InstanceChannel refused;
    std::string error;
    EXPECT_EQ(refused.handOverOrBecomeInstance({}, handOverTimeout, error), InstanceChannel::Outcome::failed);
    EXPECT_NE(error.find("belongs to another user"), std::string::npos) << error;
}

TEST_F(InstanceChannelTest, ASocketPathTooLongForAnAddressTakesAnAbstractNameAndChecksThePeer)
{
    const std::string longFolder = m_runtimeFolder.file(std::string(110, 'd'));
    std::filesystem::create_directories(longFolder);
    EnvironmentOverride runtime("XDG_RUNTIME_DIR", longFolder);
    InstanceChannel instance;
    becomeInstance(instance);
    EXPECT_FALSE(fileExists(socketPath())) << "no file for an abstract name";
    EXPECT_EQ(handOverFromAnotherStart({"/abstract"}), InstanceChannel::Outcome::handedOver);
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 1; }));

    if (!isRoot())
        GTEST_SKIP() << "a connection from another user needs root";
    // Anyone may connect to an abstract name: a process of another user is refused.
    const std::string message = InstanceChannel::encodeMessage({"/stranger"});
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    const std::string name = InstanceChannel::abstractNameFor(socketPath());
    std::copy(name.begin(), name.end(), address.sun_path + 1);
    const socklen_t length = static_cast<socklen_t>(offsetof(sockaddr_un, sun_path) + 1 + name.size());
    std::mutex linesMutex;
    std::vector<std::string> lines;
    const int sink = SystemLog::addSink([&](const std::string &line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });
    const pid_t child = fork();
    if (child == 0) {
        char reply = 0;
        const int descriptor = socket(AF_UNIX, SOCK_STREAM, 0);
        if (setresgid(65534, 65534, 65534) != 0 || setresuid(65534, 65534, 65534) != 0
            || connect(descriptor, reinterpret_cast<const sockaddr *>(&address), length) != 0)
            _exit(3);
        send(descriptor, message.data(), message.size(), MSG_NOSIGNAL);
        _exit(recv(descriptor, &reply, 1, 0) == 1 ? 1 : 0);
    }
    int status = 0;
    ASSERT_TRUE(runEventLoopUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, processTimeout));
    SystemLog::removeSink(sink);
    EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0) << "closed without an answer, status " << status;
    runEventLoopFor(200ms);
    EXPECT_EQ(m_received.size(), 1u);
    std::lock_guard lock(linesMutex);
    EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                            [](const std::string &line) { return line.find("user id 65534") != std::string::npos; }),
              1);
}

TEST_F(InstanceChannelTest, AFloodOfHalfSentConnectionsIsCappedAndTheInstanceGoesOnServing)
{
    InstanceChannel instance;
    becomeInstance(instance);
    // Few descriptors, so that a flood without a cap would use them all up.
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &previous), 0);
    const rlimit low{lowestFreeDescriptor() + 150, previous.rlim_max};
    constexpr int floodSize = 400;

    int report[2];
    int release[2];
    ASSERT_EQ(pipe(report), 0);
    ASSERT_EQ(pipe(release), 0);
    const std::string path = socketPath();
    const std::string partial = InstanceChannel::encodeMessage({"/flood"}).substr(0, 6);
    const pid_t child = fork();
    if (child == 0) {
        close(report[0]);
        close(release[1]);
        // Connects the flood, each sending part of a message, and counts those the instance
        // closed at once; holds the rest open until released.
        sockaddr_un address{};
        address.sun_family = AF_UNIX;
        std::copy(path.begin(), path.end(), address.sun_path);
        std::vector<int> descriptors;
        for (int i = 0; i < floodSize; ++i) {
            const int descriptor = socket(AF_UNIX, SOCK_STREAM, 0);
            if (descriptor < 0 || connect(descriptor, reinterpret_cast<const sockaddr *>(&address), sizeof(address)) != 0)
                _exit(3);
            send(descriptor, partial.data(), partial.size(), MSG_NOSIGNAL);
            descriptors.push_back(descriptor);
        }
        int closed = 0;
        const auto deadline = std::chrono::steady_clock::now() + 20s;
        while (closed < floodSize - InstanceChannel::maximumConnections && std::chrono::steady_clock::now() < deadline) {
            closed = 0;
            for (const int descriptor : descriptors) {
                pollfd entry{descriptor, POLLIN, 0};
                char byte;
                if (poll(&entry, 1, 0) == 1 && recv(descriptor, &byte, 1, MSG_PEEK | MSG_DONTWAIT) == 0)
                    ++closed;
            }
            usleep(20000);
        }
        if (write(report[1], &closed, sizeof closed) != sizeof closed)
            _exit(4);
        char ignored;
        if (read(release[0], &ignored, 1) < 0)
            _exit(5);
        _exit(0);
    }
    close(report[1]);
    close(release[0]);
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &low), 0);
    int closed = -1;
    const bool reported = runEventLoopUntil([&] {
        pollfd entry{report[0], POLLIN, 0};
        return poll(&entry, 1, 0) == 1 && read(report[0], &closed, sizeof closed) == sizeof closed;
    }, processTimeout);
    EXPECT_TRUE(instance.isListening()) << "the instance ran out of descriptors";
    // The flood is released, then an ordinary start hands its paths over.
    close(release[1]);
    int status = 0;
    EXPECT_TRUE(runEventLoopUntil([&] { return waitpid(child, &status, WNOHANG) == child; }, processTimeout));
    close(report[0]);
    EXPECT_TRUE(reported);
    EXPECT_EQ(closed, floodSize - InstanceChannel::maximumConnections) << "the excess is refused at once";
    EXPECT_EQ(handOverFromAnotherStart({"/after/flood"}), InstanceChannel::Outcome::handedOver);
    setrlimit(RLIMIT_NOFILE, &previous);
    ASSERT_TRUE(runEventLoopUntil([this] { return !m_received.empty(); }));
    EXPECT_EQ(m_received.back(), (std::vector<std::string>{"/after/flood"}));
}

TEST_F(InstanceChannelTest, AServerStoppedForLackOfDescriptorsListensAgain)
{
    InstanceChannel instance;
    becomeInstance(instance);
    rlimit previous{};
    ASSERT_EQ(getrlimit(RLIMIT_NOFILE, &previous), 0);
    const std::string path = socketPath();
    // No descriptor is left for the connection: Qt's server stops.
    const int client = socket(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0);
    ASSERT_GE(client, 0);
    const rlimit none{lowestFreeDescriptor(), previous.rlim_max};
    ASSERT_EQ(setrlimit(RLIMIT_NOFILE, &none), 0);
    sockaddr_un address{};
    address.sun_family = AF_UNIX;
    std::copy(path.begin(), path.end(), address.sun_path);
    EXPECT_EQ(connect(client, reinterpret_cast<const sockaddr *>(&address), sizeof(address)), 0);
    const bool stopped = runEventLoopUntil([&] { return !instance.isListening(); });
    setrlimit(RLIMIT_NOFILE, &previous);
    close(client);
    EXPECT_TRUE(stopped);
    EXPECT_TRUE(runEventLoopUntil([&] { return instance.isListening(); }));
    EXPECT_EQ(handOverFromAnotherStart({"/again"}), InstanceChannel::Outcome::handedOver);
    ASSERT_TRUE(runEventLoopUntil([this] { return !m_received.empty(); }));
}

TEST_F(InstanceChannelTest, MessagesCarryAbsolutePathsAndNothingElse)
{
    // A name that is not UTF-8 travels as its bytes.
    const std::vector<std::string> paths{"/media/me/USB Stick", "/home/me/Fotos à l'été", "/W/y\xff", "/"};
    std::vector<std::string> decoded;
    std::string error;
    ASSERT_TRUE(InstanceChannel::decodeMessage(InstanceChannel::encodeMessage(paths), decoded, error)) << error;
    EXPECT_EQ(decoded, paths);
    ASSERT_TRUE(InstanceChannel::decodeMessage(InstanceChannel::encodeMessage({}), decoded, error));
    EXPECT_TRUE(decoded.empty());

    EXPECT_THROW(InstanceChannel::encodeMessage({"relative"}), Error);
    EXPECT_THROW(InstanceChannel::encodeMessage({std::string("/with\0nul", 9)}), Error);
    EXPECT_THROW(InstanceChannel::encodeMessage({"/" + std::string(InstanceChannel::maximumPathLength, 'a')}), Error);

    const std::string good = InstanceChannel::encodeMessage({"/a", "/bc"});
    std::vector<std::string> malformed{good.substr(0, 4), good.substr(0, good.size() - 1), good + "x"};
    std::string otherMagic = good;
    otherMagic[0] = 'X';
    malformed.push_back(otherMagic);
    std::string otherVersion = good;
    otherVersion[4] = 3;
    malformed.push_back(otherVersion);
    std::string countTooHigh = good;
    countTooHigh[12] = 3; // three paths announced, two present
    malformed.push_back(countTooHigh);
    std::string pathRunsOver = good;
    pathRunsOver[16] = 9; // the first path claims more bytes than follow
    malformed.push_back(pathRunsOver);
    std::string relative = good;
    relative[17] = 'a'; // "/a" becomes "aa"
    malformed.push_back(relative);
    for (std::size_t i = 0; i < malformed.size(); ++i) {
        decoded = {"left over"};
        EXPECT_FALSE(InstanceChannel::decodeMessage(malformed[i], decoded, error)) << "message " << i;
        EXPECT_TRUE(decoded.empty()) << "message " << i;
    }
}

TEST_F(InstanceChannelTest, OnlyOneOfTwoChannelsBecomesTheInstance)
{
    InstanceChannel instance;
    becomeInstance(instance);
    EXPECT_TRUE(fileExists(socketPath()));

    EXPECT_EQ(handOverFromAnotherStart({"/one", "/two"}), InstanceChannel::Outcome::handedOver);
    EXPECT_EQ(handOverFromAnotherStart({}), InstanceChannel::Outcome::handedOver);
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 2; }));
    EXPECT_EQ(m_received[0], (std::vector<std::string>{"/one", "/two"}));
    EXPECT_TRUE(m_received[1].empty()) << "a start without paths asks the instance to show itself";
}

TEST_F(InstanceChannelTest, MalformedAndOversizedMessagesAreRefusedWithALogLine)
{
    InstanceChannel instance;
    becomeInstance(instance);
    std::mutex linesMutex;
    std::vector<std::string> lines;
    const int sink = SystemLog::addSink([&](const std::string &line) {
        std::lock_guard lock(linesMutex);
        lines.push_back(line);
    });

    std::string oversized = InstanceChannel::encodeMessage({});
    oversized.replace(5, 4, "\x7f\xff\xff\xff");
    std::string relative = InstanceChannel::encodeMessage({"/ab"});
    relative[17] = 'a';
    for (const std::string &bytes : {std::string("GET / HTTP/1.0\r\n\r\n"), oversized, relative}) {
        std::future<char> reply = std::async(std::launch::async, [this, bytes] { return sendRaw(socketPath(), bytes); });
        EXPECT_EQ(waitServing(reply), InstanceChannel::refusedReply);
    }
    SystemLog::removeSink(sink);
    {
        std::lock_guard lock(linesMutex);
        EXPECT_EQ(std::count_if(lines.begin(), lines.end(),
                                [](const std::string &line) { return line.starts_with("Refused a message"); }),
                  3);
    }

    // The instance goes on serving.
    EXPECT_EQ(handOverFromAnotherStart({"/after"}), InstanceChannel::Outcome::handedOver);
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 1; }));
    EXPECT_EQ(m_received[0], (std::vector<std::string>{"/after"}));
}

TEST_F(InstanceChannelTest, ASecondStartOfTarnwickHandsItsPathsToTheInstance)
{
    InstanceChannel instance;
    becomeInstance(instance);

    // The start refuses paths that do not exist, so these do.
    std::filesystem::create_directories(m_workingFolder.file("Photos/2024"));
    std::filesystem::create_directories(m_workingFolder.file("share"));
    writeFile(m_workingFolder.file("-odd"), "");
    TarnwickProcess withPaths({"Photos/2024", QString::fromStdString(m_workingFolder.file("share")), "--", "-odd"},
                              m_workingFolder.path());
    ASSERT_TRUE(runEventLoopUntil([&withPaths] { return withPaths.hasEnded(); }, processTimeout));
    EXPECT_EQ(withPaths.exitCode(), 0) << withPaths.errors();
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 1; }));
    EXPECT_EQ(m_received[0], (std::vector<std::string>{m_workingFolder.file("Photos/2024"), m_workingFolder.file("share"),
                                                       m_workingFolder.file("-odd")}));

    TarnwickProcess withoutPaths({}, m_workingFolder.path());
    ASSERT_TRUE(runEventLoopUntil([&withoutPaths] { return withoutPaths.hasEnded(); }, processTimeout));
    EXPECT_EQ(withoutPaths.exitCode(), 0) << withoutPaths.errors();
    ASSERT_TRUE(runEventLoopUntil([this] { return m_received.size() == 2; }));
    EXPECT_TRUE(m_received[1].empty());
}

TEST_F(InstanceChannelTest, AStartWithoutInstanceBecomesItAndReplacesAStaleSocket)
{
    const std::string ownPath = m_workingFolder.file("mine");
    std::filesystem::create_directories(ownPath);
    {
        TarnwickProcess first({"mine"}, m_workingFolder.path());
        // Its own paths are handled once its start-up is done.
        ASSERT_TRUE(runEventLoopUntil([&] { return first.logged("Asked to clean " + ownPath); }, processTimeout))
            << first.errors();
        EXPECT_FALSE(first.hasEnded());

        EXPECT_EQ(handOverFromAnotherStart({"/from/test"}), InstanceChannel::Outcome::handedOver);
        EXPECT_TRUE(runEventLoopUntil([&] { return first.logged("Asked to clean /from/test"); }, processTimeout));
        first.kill();
    }
    // A crashed instance leaves its socket behind.
    ASSERT_TRUE(fileExists(socketPath()));

    TarnwickProcess second({"mine"}, m_workingFolder.path());
    ASSERT_TRUE(runEventLoopUntil([&] { return second.logged("Asked to clean " + ownPath); }, processTimeout))
        << second.errors();
    EXPECT_EQ(handOverFromAnotherStart({}), InstanceChannel::Outcome::handedOver);
    EXPECT_TRUE(runEventLoopUntil([&] { return second.logged("Asked to show the main window."); }, processTimeout));
}

TEST_F(InstanceChannelTest, OfTwoSimultaneousStartsOneBecomesTheInstance)
{
    std::filesystem::create_directories(m_workingFolder.file("one"));
    std::filesystem::create_directories(m_workingFolder.file("two"));
    TarnwickProcess one({"one"}, m_workingFolder.path());
    TarnwickProcess two({"two"}, m_workingFolder.path());
    ASSERT_TRUE(runEventLoopUntil([&] { return one.hasEnded() || two.hasEnded(); }, processTimeout));
    TarnwickProcess &handedOver = one.hasEnded() ? one : two;
    TarnwickProcess &instance = one.hasEnded() ? two : one;
    EXPECT_EQ(handedOver.exitCode(), 0) << handedOver.errors();
    EXPECT_TRUE(runEventLoopUntil([&] { return instance.logged("Asked to clean " + m_workingFolder.file("one"))
                                               && instance.logged("Asked to clean " + m_workingFolder.file("two")); },
                                  processTimeout))
        << instance.errors();
    EXPECT_FALSE(instance.hasEnded());
}

TEST_F(InstanceChannelTest, ACommandTravelsInTheNewMessageVersionAndPathsOnlyMessagesStayAsBefore)
{
    const std::string pathsOnly = InstanceChannel::encodeMessage({"/a"});
    EXPECT_EQ(pathsOnly[4], InstanceChannel::pathsMessageVersion) << "an older instance understands it";
    const std::string withCommand = InstanceChannel::encodeMessage({}, "show-window");
    EXPECT_EQ(withCommand[4], InstanceChannel::commandMessageVersion);

    InstanceChannel::Message decoded;
    std::string error;
    ASSERT_TRUE(InstanceChannel::decodeMessage(withCommand, decoded, error)) << error;
    EXPECT_EQ(decoded.command, "show-window");
    EXPECT_TRUE(decoded.paths.empty());
    ASSERT_TRUE(InstanceChannel::decodeMessage(InstanceChannel::encodeMessage({"/x", "/y z"}, "quit"), decoded, error));
    EXPECT_EQ(decoded.command, "quit");
    EXPECT_EQ(decoded.paths, (std::vector<std::string>{"/x", "/y z"}));

    // A version 1 message as an older start writes it, byte for byte.
    const std::string older("TWIC\x01\x00\x00\x00\x0a\x00\x00\x00\x01\x00\x00\x00\x02/a", 19);
    ASSERT_TRUE(InstanceChannel::decodeMessage(older, decoded, error)) << error;
    EXPECT_EQ(decoded.command, "");
    EXPECT_EQ(decoded.paths, std::vector<std::string>{"/a"});

    for (const std::string &bad : {std::string("Show"), std::string("a b"), std::string(65, 'a'), std::string("x\n")})
        EXPECT_THROW(InstanceChannel::encodeMessage({}, bad), Error) << bad;
    std::string badCommand = withCommand;
    badCommand[13] = 'S';
    std::string commandTooLong = withCommand;
    commandTooLong[12] = 99;
    for (const std::string &malformed : {badCommand, commandTooLong}) {
        EXPECT_FALSE(InstanceChannel::decodeMessage(malformed, decoded, error));
        EXPECT_TRUE(decoded.command.empty() && decoded.paths.empty());
    }
}

TEST_F(InstanceChannelTest, CommandsReachTheCommandHandlerAndAreRefusedWithoutOne)
{
    InstanceChannel instance;
    std::string error;
    ASSERT_EQ(instance.handOverOrBecomeInstance({}, handOverTimeout, error), InstanceChannel::Outcome::becameInstance);
    std::vector<std::string> commands;
    ASSERT_TRUE(instance.listen([this](const std::vector<std::string> &paths) { m_received.push_back(paths); },
                                [&commands](const std::string &command, const std::vector<std::string> &) {
                                    commands.push_back(command);
                                }));
    std::future<InstanceChannel::Outcome> outcome = std::async(std::launch::async, [] {
        InstanceChannel other;
        std::string otherError;
        return other.handOverOrBecomeInstance({}, handOverTimeout, otherError, "show-log");
    });
    EXPECT_EQ(waitServing(outcome), InstanceChannel::Outcome::handedOver);
    EXPECT_EQ(handOverFromAnotherStart({"/p"}), InstanceChannel::Outcome::handedOver);
    ASSERT_TRUE(runEventLoopUntil([&] { return commands.size() == 1 && m_received.size() == 1; }));
    EXPECT_EQ(commands[0], "show-log");
    EXPECT_EQ(m_received[0], std::vector<std::string>{"/p"});

    InstanceChannel pathsOnly(m_workingFolder.file("paths-only"));
    ASSERT_EQ(pathsOnly.handOverOrBecomeInstance({}, handOverTimeout, error), InstanceChannel::Outcome::becameInstance);
    ASSERT_TRUE(pathsOnly.listen([](const std::vector<std::string> &) {}));
    std::future<char> reply = std::async(std::launch::async, [this] {
        return sendRaw(m_workingFolder.file("paths-only"), InstanceChannel::encodeMessage({}, "quit"));
    });
    EXPECT_EQ(waitServing(reply), InstanceChannel::refusedReply);
}

#include "BenchSupport.h"

#include <algorithm>
#include <fcntl.h>
#include <fstream>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

extern char **environ;

double BenchSupport::median(std::vector<double> values)
{
    if (values.empty())
        return 0;
    std::sort(values.begin(), values.end());
    return values[values.size() / 2];
}

pid_t BenchSupport::spawnProgram(const std::vector<std::string> &arguments,
                                const std::optional<std::filesystem::path> &errors,
                                const std::optional<std::filesystem::path> &output)
{
    std::vector<char *> argv;
    for (const std::string &argument : arguments)
        argv.push_back(const_cast<char *>(argument.c_str()));
    argv.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (errors)
        posix_spawn_file_actions_addopen(&actions, STDERR_FILENO, errors->c_str(), O_WRONLY | O_CREAT | O_APPEND, 0644);
    if (output)
        posix_spawn_file_actions_addopen(&actions, STDOUT_FILENO, output->c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0644);
    pid_t child = 0;
    const int failed = posix_spawnp(&child, argv[0], &actions, nullptr, argv.data(), environ);
    posix_spawn_file_actions_destroy(&actions);
    return failed == 0 ? child : -1;
}

bool BenchSupport::runProgram(const std::vector<std::string> &arguments,
                              const std::optional<std::filesystem::path> &errors,
                              const std::optional<std::filesystem::path> &output)
{
    const pid_t child = spawnProgram(arguments, errors, output);
    int status = 0;
    return child > 0 && waitpid(child, &status, 0) == child && WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

long BenchSupport::statusKiB(const std::string &field, const std::string &process)
{
    std::ifstream status("/proc/" + process + "/status");
    std::string line;
    while (std::getline(status, line)) {
        if (line.rfind(field, 0) == 0)
            return std::stol(line.substr(field.size()));
    }
    return -1;
}

std::size_t BenchSupport::entryCount(const std::filesystem::path &root)
{
    std::size_t count = 0;
    for (auto it = std::filesystem::recursive_directory_iterator(root);
         it != std::filesystem::recursive_directory_iterator(); ++it)
        ++count;
    return count;
}

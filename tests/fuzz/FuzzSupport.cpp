#include "FuzzSupport.h"

#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <filesystem>
#include <fcntl.h>
#include <unistd.h>

// Damaged input makes the code under test write to the system log at every run; the
// fuzzers keep those lines out of the machine's journal.
extern "C" void syslog(int, const char *, ...) {}

namespace
{
struct Folder
{
    Folder()
    {
        // Memory-backed where there is one: the code under test syncs what it writes.
        std::error_code ignored;
        const std::filesystem::path base = std::filesystem::is_directory("/dev/shm", ignored)
            ? std::filesystem::path("/dev/shm")
            : std::filesystem::temp_directory_path();
        path = (base / "tarnwick-fuzz-XXXXXX").string();
        if (!mkdtemp(path.data()))
            fuzzFinding("cannot make a temporary folder");
    }
    ~Folder()
    {
        std::error_code ignored;
        std::filesystem::remove_all(path, ignored);
    }
    std::string path;
};
}

const std::string &fuzzFolder()
{
    static const Folder folder;
    return folder.path;
}

void writeWholeFile(const std::string &path, std::string_view bytes)
{
    const int descriptor = open(path.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
    if (descriptor < 0)
        fuzzFinding("cannot write " + path);
    std::size_t written = 0;
    while (written < bytes.size()) {
        const ssize_t count = write(descriptor, bytes.data() + written, bytes.size() - written);
        if (count <= 0)
            fuzzFinding("cannot write " + path);
        written += static_cast<std::size_t>(count);
    }
    close(descriptor);
}

void fuzzFinding(const std::string &what)
{
    std::fprintf(stderr, "Finding: %s\n", what.c_str());
    std::abort();
}

#include <gtest/gtest.h>

#include <cerrno>
#include <fcntl.h>
#include <string>
#include <unistd.h>

#include "FileDescriptor.h"
#include "TestSupport.h"

TEST(FileDescriptor, WritesEveryByteOrSaysWhyNot)
{
    TemporaryDirectory folder;
    const std::string path = folder.file("out");
    std::string bytes(3 * 1024 * 1024 + 7, '\0');
    for (std::size_t i = 0; i < bytes.size(); ++i)
        bytes[i] = static_cast<char>(i * 131);
    {
        const FileDescriptor fd(open(path.c_str(), O_WRONLY | O_CREAT | O_CLOEXEC, 0600));
        ASSERT_TRUE(fd.isValid());
        EXPECT_TRUE(writeFully(fd.get(), bytes.data(), bytes.size()));
    }
    EXPECT_TRUE(readFile(path) == bytes);

    if (access("/dev/full", W_OK) != 0)
        GTEST_SKIP() << "no /dev/full to stand for a full disk";
    const FileDescriptor full(open("/dev/full", O_WRONLY | O_CLOEXEC));
    ASSERT_TRUE(full.isValid());
    errno = 0;
    EXPECT_FALSE(writeFully(full.get(), bytes.data(), 10));
    EXPECT_EQ(errno, ENOSPC);
}

#include <dlfcn.h>
#include <gtest/gtest.h>

#include <cstring>

// The version globals are looked up by name in the loaded library, as any client would.
TEST(TallowVersion, GlobalsAreExportedWithExactBytes)
{
    void *library = dlopen("libTallow.so.1", RTLD_NOW);
    ASSERT_NE(library, nullptr) << dlerror();

    const auto *versionString = static_cast<const unsigned char *>(dlsym(library, "TallowVersionString"));
    ASSERT_NE(versionString, nullptr);
    const char expected[] = "@(#)PROGRAM:Tallow  PROJECT:Tallow-1\n";
    EXPECT_EQ(std::memcmp(versionString, expected, sizeof expected), 0) << "bytes including the final NUL";

    const auto *versionNumber = static_cast<const double *>(dlsym(library, "TallowVersionNumber"));
    ASSERT_NE(versionNumber, nullptr);
    EXPECT_EQ(*versionNumber, 1.0);
    dlclose(library);
}

TEST(TallowVersion, InternalSymbolsAreHidden)
{
    void *library = dlopen("libTallow.so.1", RTLD_NOW);
    ASSERT_NE(library, nullptr);
    // A file-local helper of the system log must not be visible.
    EXPECT_EQ(dlsym(library, "_ZN12_GLOBAL__N_19sinkTableEv"), nullptr);
    dlclose(library);
}

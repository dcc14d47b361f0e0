#pragma once

#include <QVersionNumber>

#include <optional>

// The version of the Mac system the program runs on. Linux is none, so the advice that
// only a Mac system needs is never given; tests pretend to run on one.
class SystemVersion
{
public:
    static std::optional<QVersionNumber> macOSVersion();
    // Every later call answers the version (nullopt: the real answer again).
    static void setMacOSVersionForTesting(std::optional<QVersionNumber> version);
};

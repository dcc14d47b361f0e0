#include "OpticalDrives.h"

#include "DeviceRoots.h"
#include "KernelRoots.h"

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <fcntl.h>
#include <filesystem>
#include <map>
#include <set>
#include <sstream>
#include <unistd.h>

namespace fs = std::filesystem;

namespace
{
// /proc and /sys files report no size; read until the end, a little at most.
std::string readSmallFile(const std::string &path)
{
    const int fd = ::open(path.c_str(), O_RDONLY | O_CLOEXEC | O_NOFOLLOW);
    if (fd < 0)
        return {};
    std::string text;
    char buffer[4096];
    while (text.size() < 256 * 1024) {
        const ssize_t count = ::read(fd, buffer, sizeof buffer);
        if (count < 0 && errno == EINTR)
            continue;
        if (count <= 0)
            break;
        text.append(buffer, size_t(count));
    }
    ::close(fd);
    return text;
}

std::string trimmed(const std::string &text)
{
    const auto first = text.find_first_not_of(" \t\n");
    if (first == std::string::npos)
        return {};
    return text.substr(first, text.find_last_not_of(" \t\n") - first + 1);
}

bool isAllDigits(const std::string &text)
{
    return !text.empty() && std::all_of(text.begin(), text.end(), [](char c) { return c >= '0' && c <= '9'; });
}

std::vector<std::string> directoryNames(const std::string &path)
{
    std::vector<std::string> names;
    std::error_code error;
    for (fs::directory_iterator it(path, error), end; !error && it != end; it.increment(error))
        names.push_back(it->path().filename().string());
    return names;
}

std::string canonicalOrEmpty(const std::string &path)
{
    std::error_code error;
    const fs::path resolved = fs::canonical(path, error);
    return error ? std::string() : resolved.string();
}

// The node name udev gives the device ("DEVNAME=" of its uevent), else the kernel's name.
std::string deviceNodeName(const std::string &sysDevice, const std::string &fallback)
{
    std::istringstream uevent(readSmallFile(sysDevice + "/uevent"));
    for (std::string line; std::getline(uevent, line);) {
        if (line.rfind("DEVNAME=", 0) == 0 && line.size() > 8)
            return line.substr(8);
    }
    return fallback;
}

std::vector<std::string> genericNodePaths(const std::string &sysBlock, const std::string &devRoot)
{
    std::vector<std::string> names = directoryNames(sysBlock + "/device/scsi_generic");
    if (names.empty()) {
        // Older kernels: match the SCSI device behind each generic node.
        const std::string device = canonicalOrEmpty(sysBlock + "/device");
        const std::string genericClass = KernelRoots::sysRoot() + "/class/scsi_generic";
        for (const std::string &generic : directoryNames(genericClass)) {
            if (!device.empty() && canonicalOrEmpty(genericClass + "/" + generic + "/device") == device)
                names.push_back(generic);
        }
    }
    std::sort(names.begin(), names.end());
    std::vector<std::string> paths;
    for (const std::string &name : names)
        paths.push_back(devRoot + "/" + deviceNodeName(KernelRoots::sysRoot() + "/class/scsi_generic/" + name, name));
    return paths;
}

unsigned long driveNumber(const std::string &name)
{
    return std::strtoul(name.c_str() + 2, nullptr, 10);
}

struct ProcessNames
{
    std::string comm;
    std::string program; // argv[0] without its folders
    std::vector<std::string> arguments;

    bool matches(bool (*test)(const std::string &)) const
    {
        return (!comm.empty() && test(comm)) || (!program.empty() && test(program));
    }
};

ProcessNames processNames(const std::string &processFolder)
{
    ProcessNames names;
    names.comm = trimmed(readSmallFile(processFolder + "/comm"));
    const std::string cmdline = readSmallFile(processFolder + "/cmdline");
    for (size_t start = 0; start < cmdline.size();) {
        const size_t end = std::min(cmdline.find('\0', start), cmdline.size());
        names.arguments.push_back(cmdline.substr(start, end - start));
        start = end + 1;
    }
    if (!names.arguments.empty())
        names.program = fs::path(names.arguments.front()).filename().string();
    return names;
}

// Finds the drives that node paths name, directly or through a link such as /dev/cdrom.
class NodeIndex
{
public:
    explicit NodeIndex(const std::vector<OpticalDrive> &drives)
    {
        for (size_t index = 0; index < drives.size(); ++index) {
            add(drives[index].devicePath, index);
            for (const std::string &generic : drives[index].genericPaths)
                add(generic, index);
        }
    }

    std::optional<size_t> driveAt(const std::string &path) const
    {
        if (const auto found = m_byPath.find(path); found != m_byPath.end())
            return found->second;
        return std::nullopt;
    }

    std::optional<size_t> driveNamedBy(const std::string &path) const
    {
        if (const auto direct = driveAt(path))
            return direct;
        const std::string canonical = canonicalOrEmpty(path);
        if (const auto found = m_byCanonicalPath.find(canonical); !canonical.empty() && found != m_byCanonicalPath.end())
            return found->second;
        return std::nullopt;
    }

private:
    void add(const std::string &path, size_t index)
    {
        m_byPath.emplace(path, index);
        if (const std::string canonical = canonicalOrEmpty(path); !canonical.empty())
            m_byCanonicalPath.emplace(canonical, index);
    }

    std::map<std::string, size_t> m_byPath;
    std::map<std::string, size_t> m_byCanonicalPath;
};

// The drives that a burner's arguments name: "dev=/dev/sr0", "-outdev stdio:/dev/sr0", "-Z /dev/dvd=image.iso".
void addDrivesNamedByArguments(const ProcessNames &names, const NodeIndex &index, const std::string &devRoot,
                               std::set<size_t> &drives)
{
    const std::string prefix = devRoot + "/";
    for (const std::string &argument : names.arguments) {
        for (size_t start = argument.find(prefix); start != std::string::npos; start = argument.find(prefix, start + 1)) {
            const size_t end = argument.find_first_of("=,:; \t", start);
            const std::string path = argument.substr(start, end == std::string::npos ? std::string::npos : end - start);
            if (const auto drive = index.driveNamedBy(path))
                drives.insert(*drive);
        }
    }
}

void addDrivesHeldForWriting(const std::string &processFolder, const NodeIndex &index, std::set<size_t> &drives)
{
    const std::string fdFolder = processFolder + "/fd";
    for (const std::string &fd : directoryNames(fdFolder)) {
        std::error_code error;
        const fs::path target = fs::read_symlink(fdFolder + "/" + fd, error);
        if (error)
            continue;
        const auto drive = index.driveAt(target.string());
        if (!drive)
            continue;
        const auto flags = OpticalDrives::openFlagsFromFdinfo(readSmallFile(processFolder + "/fdinfo/" + fd));
        if (flags && ((*flags & O_ACCMODE) == O_WRONLY || (*flags & O_ACCMODE) == O_RDWR))
            drives.insert(*drive);
    }
}
}

std::vector<OpticalDrive> OpticalDrives::listDrives()
{
    const std::string devRoot = DeviceRoots::devRoot();
    const std::string blockClass = KernelRoots::sysRoot() + "/class/block";
    std::vector<OpticalDrive> drives;
    for (const std::string &name : directoryNames(blockClass)) {
        if (name.size() < 3 || name.compare(0, 2, "sr") != 0 || !isAllDigits(name.substr(2)))
            continue;
        const std::string sysBlock = blockClass + "/" + name;
        OpticalDrive drive;
        drive.name = name;
        drive.devicePath = devRoot + "/" + deviceNodeName(sysBlock, name);
        drive.genericPaths = genericNodePaths(sysBlock, devRoot);
        drive.vendor = trimmed(readSmallFile(sysBlock + "/device/vendor"));
        drive.model = trimmed(readSmallFile(sysBlock + "/device/model"));
        drives.push_back(std::move(drive));
    }
    std::sort(drives.begin(), drives.end(),
              [](const OpticalDrive &a, const OpticalDrive &b) { return driveNumber(a.name) < driveNumber(b.name); });
    return drives;
}

DiscActivity OpticalDrives::scan()
{
    DiscActivity activity;
    activity.drives = listDrives();
    const NodeIndex index(activity.drives);
    const std::string devRoot = DeviceRoots::devRoot();
    const std::string procRoot = KernelRoots::procRoot();
    for (const std::string &pid : directoryNames(procRoot)) {
        if (!isAllDigits(pid))
            continue;
        const std::string processFolder = procRoot + "/" + pid;
        const ProcessNames names = processNames(processFolder);
        const bool isVirtualMachine = names.matches(&isVirtualMachineName);
        activity.virtualMachineRunning = activity.virtualMachineRunning || isVirtualMachine;
        if (activity.drives.empty())
            continue;
        std::set<size_t> written;
        if (names.matches(&isBurnerName))
            addDrivesNamedByArguments(names, index, devRoot, written);
        addDrivesHeldForWriting(processFolder, index, written);
        for (const size_t drive : written) {
            activity.drives[drive].writers.push_back(std::atoi(pid.c_str()));
            if (!isVirtualMachine)
                activity.drives[drive].writersOutsideVirtualMachines.push_back(std::atoi(pid.c_str()));
        }
    }
    return activity;
}

bool OpticalDrives::isVirtualMachineName(const std::string &processName)
{
    return processName.rfind("qemu-system-", 0) == 0 || processName == "VirtualBoxVM" ||
           processName == "VBoxHeadless" || processName == "vmware-vmx";
}

bool OpticalDrives::isBurnerName(const std::string &processName)
{
    static const std::set<std::string> burners = {"cdrecord", "wodim", "growisofs", "xorriso", "cdrskin"};
    return burners.count(processName) != 0;
}

std::optional<int> OpticalDrives::openFlagsFromFdinfo(const std::string &text)
{
    std::istringstream lines(text);
    for (std::string line; std::getline(lines, line);) {
        if (line.rfind("flags:", 0) != 0)
            continue;
        const std::string value = trimmed(line.substr(6));
        if (value.empty() || value.find_first_not_of("01234567") != std::string::npos || value.size() > 10)
            return std::nullopt;
        return int(std::strtol(value.c_str(), nullptr, 8));
    }
    return std::nullopt;
}

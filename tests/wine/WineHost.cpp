#include "tests/wine/WineHost.h"

#include <unistd.h>

#include <cerrno>
#include <cstdlib>
#include <stdexcept>

namespace {

std::string& Prefix()
{
    static std::string prefix = WineHost::DefaultPrefix();
    return prefix;
}

} // namespace

std::string WineHost::DefaultPrefix()
{
    return std::string(KVM_WINDOWS_BUILD_DIR) + "/wineprefix";
}

void WineHost::Prepare(const std::string& prefix)
{
    Prefix() = prefix;
    ::setenv("WINEPREFIX", Prefix().c_str(), 1);
    ::setenv("WINEDEBUG", "-all", 1);
    ::setenv("WINEDLLOVERRIDES", "mscoree,mshtml=", 1);
}

std::string WineHost::Program(const std::string& relativePath)
{
    return std::string(KVM_WINDOWS_BUILD_DIR) + "/" + relativePath;
}

std::vector<std::string> WineHost::Command(const std::string& program, const std::vector<std::string>& args)
{
    std::vector<std::string> command{KVM_WINE, program};
    command.insert(command.end(), args.begin(), args.end());
    return command;
}

ChildProcess::Result WineHost::Run(const std::string& program, const std::vector<std::string>& args)
{
    // Into files, not pipes: a process Wine starts on the side (its services,
    // when the server is new) may keep a pipe open long after the program
    // has ended.
    ChildProcess::Setup setup;
    setup.out = ChildProcess::Stream::File;
    setup.err = ChildProcess::Stream::File;
    ChildProcess child(Command(program, args), setup);
    return child.Wait(std::chrono::minutes(3));
}

std::string WineHost::WindowsPath(const std::string& linuxPath)
{
    std::string path = "Z:" + linuxPath;
    for (char& c : path) {
        if (c == '/')
            c = '\\';
    }
    return path;
}

std::string WineHost::Trace(const ChildProcess::Result& result)
{
    return "exit " + std::to_string(result.exitCode) + "\nstdout:\n" + result.out + "\nstderr:\n" + result.err;
}

WineComLink::WineComLink(const std::string& device, int first)
{
    const std::string folder = Prefix() + "/dosdevices/";
    for (int number = first; number < first + 200; ++number) {
        const std::string link = folder + "com" + std::to_string(number);
        if (::symlink(device.c_str(), link.c_str()) == 0) {
            m_number = number;
            m_link = link;
            return;
        }
        if (errno != EEXIST)
            throw std::runtime_error("cannot link " + link + " (is the Wine prefix made?)");
    }
    throw std::runtime_error("no free COM number from " + std::to_string(first));
}

WineComLink::~WineComLink()
{
    ::unlink(m_link.c_str());
}

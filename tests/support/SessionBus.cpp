#include "support/SessionBus.h"

#include "support/SoundServer.h"

#include <chrono>
#include <csignal>
#include <cstdio>
#include <filesystem>
#include <thread>

namespace testing_support {

namespace {

std::string quoted(const std::string& text) {
    std::string out = "'";
    for (const char c : text) {
        out += c == '\'' ? std::string("'\\''") : std::string(1, c);
    }
    return out + "'";
}

} // namespace

PrivateSessionBus::PrivateSessionBus() {
    const std::string socket = dir.file("bus");
    address = "unix:path=" + socket;
    daemon =
        spawnProgram({"dbus-daemon", "--session", "--nofork", "--nosyslog", "--address=" + address},
                     {}, dir.file("bus.log"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (daemon > 0 && !std::filesystem::exists(socket) &&
           std::chrono::steady_clock::now() < deadline) {
        std::this_thread::sleep_for(std::chrono::milliseconds(20));
    }
    started = daemon > 0 && std::filesystem::exists(socket);
}

PrivateSessionBus::~PrivateSessionBus() {
    stopProgram(daemon, SIGTERM);
}

std::string PrivateSessionBus::gdbus(const std::vector<std::string>& arguments) const {
    std::string command = "DBUS_SESSION_BUS_ADDRESS=" + quoted(address) + " gdbus";
    for (const std::string& argument : arguments) {
        command += " " + quoted(argument);
    }
    command += " 2>/dev/null";
    std::string out;
    FILE* pipe = ::popen(command.c_str(), "r");
    if (pipe == nullptr) {
        return out;
    }
    char chunk[4096];
    size_t n = 0;
    while ((n = std::fread(chunk, 1, sizeof chunk, pipe)) > 0) {
        out.append(chunk, n);
    }
    if (::pclose(pipe) != 0) {
        return {};
    }
    while (!out.empty() && out.back() == '\n') {
        out.pop_back();
    }
    return out;
}

std::string PrivateSessionBus::property(const std::string& service, const std::string& path,
                                        const std::string& interface,
                                        const std::string& name) const {
    return gdbus({"call", "--session", "--dest", service, "--object-path", path, "--method",
                  "org.freedesktop.DBus.Properties.Get", interface, name});
}

bool PrivateSessionBus::hasOwner(const std::string& name) const {
    return gdbus({"call", "--session", "--dest", "org.freedesktop.DBus", "--object-path",
                  "/org/freedesktop/DBus", "--method", "org.freedesktop.DBus.NameHasOwner",
                  name}) == "(true,)";
}

} // namespace testing_support

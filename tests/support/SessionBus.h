#pragma once
// A session bus of a test's own (dbus-daemon on a socket in a temporary
// folder), ended with the object, and gdbus as the desktop's client on it.

#include "support/TestSupport.h"

#include <sys/types.h>

#include <string>
#include <vector>

namespace testing_support {

class PrivateSessionBus {
  public:
    PrivateSessionBus();
    ~PrivateSessionBus();
    PrivateSessionBus(const PrivateSessionBus&) = delete;
    PrivateSessionBus& operator=(const PrivateSessionBus&) = delete;

    // Whether the bus answers (its socket is there).
    bool ok() const { return started; }
    // The bus's address, for a connection of the test's own.
    const std::string& busAddress() const { return address; }
    // DBUS_SESSION_BUS_ADDRESS=<the bus>, for a child's environment.
    std::string environmentEntry() const { return "DBUS_SESSION_BUS_ADDRESS=" + address; }

    // Runs `gdbus <arguments>` on this bus; its standard output without the
    // final newline, or "" when it failed.
    std::string gdbus(const std::vector<std::string>& arguments) const;
    // A property's value as gdbus prints it ("(<'Playing'>,)").
    std::string property(const std::string& service, const std::string& path,
                         const std::string& interface, const std::string& name) const;
    // Whether some connection owns name.
    bool hasOwner(const std::string& name) const;

  private:
    TempDir dir;
    std::string address;
    pid_t daemon = -1;
    bool started = false;
};

} // namespace testing_support

#pragma once
// Whether this process has a session bus to talk to.
//
// Any thread.

// True when DBUS_SESSION_BUS_ADDRESS is set, or when the usual socket in
// the runtime directory ($XDG_RUNTIME_DIR/bus) exists. Asking the bus
// library without either would start a bus of our own through the X server.
bool sessionBusConfigured();

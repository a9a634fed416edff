#pragma once
// A window that receives posted commands. The audio layer posts to it from any
// thread; the implementation queues the call so that the command is handled
// later on the user-interface thread, never inside postCommand.

enum CommandId : int {
    kNewItem = 32771,    // list view -> main window: a row was double-clicked
    kPlayOver = 32772,   // wave-out device -> main window: the output ran dry
    kEncodeOver = 32773, // conversion worker -> convert dialog: the file is complete
};

class CommandTarget {
  public:
    virtual ~CommandTarget() = default;
    // Any thread. Must return at once; the command is handled asynchronously.
    virtual void postCommand(int commandId) = 0;
};

#pragma once
// The one way the audio layer shows a message to the user.
//
// Whoever runs the program installs how a message is shown: the main window
// installs a Qt message box on the user-interface thread (a call from another
// thread waits for the answer), velumo-convert prints a line on standard error
// and asks on the terminal, tests install a hook that records the text and
// supplies the answer. With nothing installed the text goes to standard error
// and a question is answered No.
//
// Any thread may call showMessage; the handler is called on the caller's thread.

#include <functional>
#include <string>

enum class MessageButtons { Ok, YesNo };
enum class MessageAnswer { Ok, Yes, No };

struct MessageRequest {
    std::string text;
    std::string caption; // window title; "Velumo" unless the caller names one
    MessageButtons buttons = MessageButtons::Ok;
};

using MessageHandler = std::function<MessageAnswer(const MessageRequest&)>;

// Installs the handler and returns the one it replaces (empty for the default).
MessageHandler setMessageHandler(MessageHandler handler);

// Shows an OK message and waits until it is dismissed.
void showMessage(const std::string& text, const std::string& caption = "Velumo");

// Asks a Yes/No question; true when the answer is Yes.
bool askYesNo(const std::string& text, const std::string& caption = "Velumo");

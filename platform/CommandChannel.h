#pragma once

#include <QString>

#include <functional>
#include <memory>

class QObject;

// The automation command channel: command texts ("open:Notes", "close-all", ...) sent to the
// running Vantle by `vantlectl send` or any other program of the same user. Only the user who runs
// Vantle can send; the texts are delivered on the thread that created the listener (the main
// thread), in the order they were sent.
class CommandListener {
public:
    using Handler = std::function<void(const QString& command)>;
    virtual ~CommandListener() = default; // stops listening and removes the endpoint
};

struct CommandListening {
    std::unique_ptr<CommandListener> listener; // null when listening failed
    QString error;                             // why, for the log
};

// Starts listening. Fails when another Vantle already listens.
CommandListening listenForCommands(CommandListener::Handler handler);

enum class CommandDelivery { delivered, notRunning, failed };
// Sends one command to the running Vantle and waits (at most `timeoutMs`) until it was received.
CommandDelivery sendCommand(const QString& command, int timeoutMs = 3000);

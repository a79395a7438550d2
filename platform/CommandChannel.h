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

// What one listener holds at most. Senders deliver a command right after connecting, so a
// connection that stays silent is not one of ours: past the cap the oldest connection is dropped,
// and any connection is dropped once it has been silent for the idle time.
struct CommandListenerLimits {
    int maxConnections = 32;
    int idleTimeoutMs = 5000;
};

struct CommandListening {
    std::unique_ptr<CommandListener> listener; // null when listening failed
    QString error;                             // why, for the log
};

// Starts listening. Fails when another listener answers on the endpoint; an endpoint nobody
// listens on (left by a process that died) is replaced.
CommandListening listenForCommands(CommandListener::Handler handler, CommandListenerLimits limits = {});

enum class CommandDelivery {
    delivered,
    notRunning,   // no Vantle runs
    notAnswering, // Vantle runs, but did not take the command in time
    tooLong,      // over CommandFrame::maxTextBytes; not sent
};
// Sends one command to the running Vantle and waits (at most `timeoutMs`) until it was received.
CommandDelivery sendCommand(const QString& command, int timeoutMs = 3000);

#pragma once

#include <QHash>
#include <QString>

#include <functional>
#include <vector>

// Dispatches the texts of the automation command channel. Every command is logged as
// "command " + text; commands without a handler (unknown, or of a feature not built in) are
// logged and otherwise ignored. Main thread only.
class CommandRouter {
public:
    using Action = std::function<void()>;
    using ArgumentAction = std::function<void(const QString& argument)>;

    // An exact command ("close-all").
    void on(const QString& command, Action action);
    // A command made of a prefix and an argument ("open:" + name); the longest prefix wins.
    void onPrefix(const QString& prefix, ArgumentAction action);

    // Returns whether a handler ran.
    bool dispatch(const QString& text) const;

private:
    QHash<QString, Action> m_exact;
    std::vector<std::pair<QString, ArgumentAction>> m_prefixed; // longest prefix first
};

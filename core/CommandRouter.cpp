#include "core/CommandRouter.h"

#include "core/VantleLog.h"

#include <algorithm>

using namespace Qt::Literals::StringLiterals;

void CommandRouter::on(const QString& command, Action action) { m_exact.insert(command, std::move(action)); }

void CommandRouter::onPrefix(const QString& prefix, ArgumentAction action) {
    m_prefixed.emplace_back(prefix, std::move(action));
    std::stable_sort(m_prefixed.begin(), m_prefixed.end(),
                     [](const auto& a, const auto& b) { return a.first.size() > b.first.size(); });
}

bool CommandRouter::dispatch(const QString& text) const {
    VantleLog::main().write(u"command "_s + VantleLog::escaped(text));
    if (const auto exact = m_exact.constFind(text); exact != m_exact.cend()) {
        (*exact)();
        return true;
    }
    for (const auto& [prefix, action] : m_prefixed) {
        if (text.startsWith(prefix)) {
            action(text.mid(prefix.size()));
            return true;
        }
    }
    return false;
}

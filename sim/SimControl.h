#pragma once

#include <QJsonObject>
#include <QList>
#include <QString>

// The control tool's operations on a simulated device, for tests and demos (behind `vantlectl
// sim`). Each works on the device's state as Android's own services would change it; the device
// need not be running. Errors come back as text, empty on success.
class SimControl {
public:
    // The device of the managed runtime at `runtimeRoot` for `api`.
    SimControl(const QString& runtimeRoot, int api);

    QString dataRoot() const { return m_data; }
    bool exists() const;

    QString postNotification(const QString& package, int id, const QString& title, const QString& text,
                             int flags, bool media);
    QString cancelNotification(const QString& package, int id);
    // state: "playing", "paused" or "stopped"; "none" removes the package's session.
    QString setMediaSession(const QString& package, const QString& state, const QString& title,
                            const QString& artist, const QString& album);
    QString putDownload(const QString& hostFile, const QString& name = {});
    QString setClipboard(const QString& text);
    QString setFault(const QString& name, const QJsonValue& value);
    QString setServerFault(const QString& name, const QJsonValue& value);
    QString clearFaults();
    QList<QJsonObject> received() const;
    // The key codes among them in order: pressed as the code, released as its negative.
    QList<qint64> keysReceived() const;
    void clearReceived();
    QJsonObject state() const;

private:
    QString m_data;
};

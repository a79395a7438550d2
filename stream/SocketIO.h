#pragma once

#include "core/VantleError.h"

#include <QByteArray>
#include <QString>
#include <cstdint>
#include <optional>

// The connection error of the stream: one case, `failed`, with a detail text.
class SocketError final : public VantleError {
public:
    explicit SocketError(QString detail)
        : m_detail(std::move(detail)) {}
    void raise() const override { throw *this; }
    SocketError* clone() const override { return new SocketError(*this); }
    const QString& detail() const { return m_detail; }
    // failed("detail")
    QString description() const override;

private:
    QString m_detail;
};

// Exactly `count` bytes from a blocking socket, or nothing when the peer closed or a read failed.
std::optional<QByteArray> readExactly(int fd, qsizetype count);
// The four bytes at `offset` as a big-endian number. The caller guarantees offset + 4 <= size.
uint32_t readBE(const QByteArray& bytes, qsizetype offset);
uint64_t readBE64(const QByteArray& bytes, qsizetype offset);
// Writes all bytes with repeated writes; false as soon as one write returns 0 or less.
bool writeAll(int fd, const QByteArray& bytes);

// A listening TCP socket on 127.0.0.1 with a port the system chose. Closed on destruction.
class LocalListener {
public:
    LocalListener(); // throws SocketError: failed("socket") or failed("bind/listen")
    ~LocalListener();
    LocalListener(const LocalListener&) = delete;
    LocalListener& operator=(const LocalListener&) = delete;

    // One connection within `timeoutSeconds`, with no-delay set and no broken-pipe signal on
    // writes. Throws SocketError.
    int accept(double timeoutSeconds);

    int fd() const { return m_fd; }
    uint16_t port() const { return m_port; }

private:
    int m_fd = -1;
    uint16_t m_port = 0;
};

#include "external/AndroidMirrorModel.h"

#include "core/VantleError.h"
#include "platform/ChildProcess.h"
#include "runtime/AndroidRuntimeCLI.h"
#include "runtime/RuntimeBoot.h"

#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent>
#include <algorithm>

using namespace Qt::Literals::StringLiterals;

namespace {
constexpr int screencapTimeoutMs = 10'000;

bool isExecutable(const QString& path) {
    const QFileInfo info(path);
    return info.isFile() && info.isExecutable();
}

} // namespace

AndroidMirrorModel::AndroidMirrorModel(QObject* parent)
    : QObject(parent)
    , m_status(u"Connecting to Android…"_s) {}

AndroidMirrorModel::~AndroidMirrorModel() {
    stop();
}

void AndroidMirrorModel::setStatus(const QString& status) {
    if (std::exchange(m_status, status) != status) Q_EMIT statusChanged();
}

void AndroidMirrorModel::setRunning(bool running) {
    if (std::exchange(m_running, running) != running) Q_EMIT runningChanged();
}

void AndroidMirrorModel::start() {
    if (m_running) return;
    setStatus(u"Connecting to Android…"_s);
    const AndroidRuntimePaths paths = AndroidRuntimePaths::current();
    if (!isExecutable(paths.adb()) || !isExecutable(paths.emulator())) {
        setStatus(u"Android runtime unavailable"_s);
        return;
    }
    setRunning(true);
    connectToAndroid(++m_generation, paths.adb());
}

QCoro::Task<> AndroidMirrorModel::connectToAndroid(int generation, QString adb) {
    const QPointer<AndroidMirrorModel> alive(this); // the task may outlive the model
    bool booted = true;
    try {
        QCoro::Task<> booting = AndroidRuntimeCLI::ensureRuntime();
        co_await std::move(booting);
    } catch (const std::exception& error) {
        qWarning("mirror: Android did not start: %s", qPrintable(VantleError::describe(error)));
        booted = false;
    }
    if (!alive || generation != m_generation) co_return; // stopped meanwhile
    if (!booted) {
        setStatus(u"Could not start Vantle Android"_s);
        setRunning(false);
        co_return;
    }
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = false;
    }
    m_captureThread = std::thread([this, adb] { capture(adb); });
}

void AndroidMirrorModel::stop() {
    ++m_generation;
    {
        const std::lock_guard lock(m_mutex);
        m_stopping = true;
    }
    m_wake.notify_all();
    if (m_captureThread.joinable()) m_captureThread.join();
    setRunning(false);
}

std::optional<QImage> AndroidMirrorModel::cropped(const QImage& screenshot) {
    if (screenshot.isNull() || screenshot.height() <= deviceTopInset + deviceBottomInset) return std::nullopt;
    return screenshot.copy(0, deviceTopInset, screenshot.width(),
                           screenshot.height() - deviceTopInset - deviceBottomInset);
}

QPoint AndroidMirrorModel::devicePoint(QPointF at, QSizeF viewSize) {
    if (viewSize.isEmpty()) return {0, deviceTopInset};
    const int x =
        std::clamp(qRound(at.x() / viewSize.width() * deviceSize.width()), 0, deviceSize.width() - 1);
    const int y =
        std::clamp(qRound(at.y() / viewSize.height() * deviceSize.height()), 0, deviceSize.height() - 1);
    return {x, y + deviceTopInset};
}

void AndroidMirrorModel::capture(const QString& adb) {
    ChildProcess screencap;
    screencap.program = adb;
    screencap.arguments = {u"-s"_s, QString(AndroidRuntimeCLI::deviceSerial), u"exec-out"_s, u"screencap"_s,
                           u"-p"_s};
    screencap.timeoutMs = screencapTimeoutMs;
    std::unique_lock lock(m_mutex);
    while (!m_stopping) {
        lock.unlock();
        const ChildProcess::Result result = screencap.run();
        std::optional<QImage> frame = cropped(QImage::fromData(result.standardOutput, "PNG"));
        QMetaObject::invokeMethod(
            this, [this, frame = std::move(frame)] { publish(frame); }, Qt::QueuedConnection);
        lock.lock();
        m_wake.wait_for(lock, std::chrono::milliseconds(captureIntervalMs), [this] { return m_stopping; });
    }
}

void AndroidMirrorModel::publish(std::optional<QImage> frame) {
    if (!m_running) return; // stopped while the frame was on its way
    if (!frame) {
        setStatus(u"Waiting for Android display…"_s);
        return;
    }
    m_frame = std::move(frame);
    Q_EMIT frameChanged();
    setStatus(u"Android connected"_s);
}

void AndroidMirrorModel::input(const QStringList& arguments) {
    (void)QtConcurrent::run(&AndroidRuntimeCLI::pool(), [arguments] {
        AndroidRuntimeCLI::runADB(QStringList{u"shell"_s, u"input"_s} + arguments,
                                  AndroidRuntimeCLI::probeTimeoutMs);
    });
}

void AndroidMirrorModel::tap(QPointF at, QSizeF viewSize) {
    const QPoint point = devicePoint(at, viewSize);
    input({u"tap"_s, QString::number(point.x()), QString::number(point.y())});
}

void AndroidMirrorModel::swipe(QPointF from, QPointF to, QSizeF viewSize) {
    const QPoint start = devicePoint(from, viewSize), end = devicePoint(to, viewSize);
    input({u"swipe"_s, QString::number(start.x()), QString::number(start.y()), QString::number(end.x()),
           QString::number(end.y()), QString::number(swipeDurationMs)});
}

void AndroidMirrorModel::key(int code) {
    input({u"keyevent"_s, QString::number(code)});
}

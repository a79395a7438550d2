// The app window's screen recording: start, the stop at the next key frame, and the finished file.
// GUI thread, except where said.
#include "core/VantleLog.h"
#include "integrations/Notifier.h"
#include "stream/AndroidStreamClient.h"
#include "stream/StreamRecorder.h"
#include "windows/AndroidWindowSession.h"
#include "windows/CaptureFolders.h"
#include "windows/HeaderView.h"

#include <QCoreApplication>
#include <QFile>
#include <QFileInfo>
#include <QPointer>
#include <QtConcurrent/QtConcurrentRun>

using namespace Qt::StringLiterals;

namespace {

// What reporting a finished recording needs. The window may be gone by then (closed while
// recording); the log line and the notification are written all the same.
struct Report {
    QPointer<AndroidWindowSession> window;
    Notifier* notifier; // outlives every window
    QString title;
};

void finish(std::shared_ptr<StreamRecorder> recorder, Report report) {
    if (!recorder) {
        VantleLog::main().write(u"recording: failed"_s);
        return;
    }
    // Completing the file waits for the muxer: never on the GUI thread. The global pool is joined
    // when the application ends, so a file being completed at quit is completed.
    QtConcurrent::run([recorder] {
        return recorder->finish();
    }).then(qApp, [recorder, report](const std::optional<QString>& saved) {
        if (!saved) {
            // No key frame ever came: no file, and no empty name left behind.
            if (QFileInfo(recorder->path()).size() == 0) QFile::remove(recorder->path());
            VantleLog::main().write(u"recording: failed"_s);
            return;
        }
        VantleLog::main().write(u"recording: saved "_s + *saved);
        if (report.window) report.window->showInfo(u"Recording saved"_s, u"Videos › Vantle"_s);
        if (report.notifier)
            report.notifier->post(u"Recording saved"_s, report.title, QFileInfo(*saved).fileName(),
                                  std::nullopt, *saved);
    });
}

} // namespace

void AndroidWindowSession::toggleRecording() {
    switch (m_recording) {
    case Recording::idle:
        startRecording();
        break;
    case Recording::recording:
        stopRecording();
        break;
    // The last recording still holds the client's slot until its final frame: a new one now would
    // be taken for it.
    case Recording::stopping:
        break;
    }
}

void AndroidWindowSession::startRecording() {
    if (m_closing) return;
    const QString path = CaptureFolders::file(CaptureFolders::movies(), m_setup.title, u"mp4"_s);
    m_client->startRecording(std::make_shared<StreamRecorder>(path));
    m_recording = Recording::recording;
    m_header->setRecording(true);
    showInfo(u"Recording…"_s, u"Click the red button to stop"_s);
    VantleLog::main().write(u"recording: started "_s + QFileInfo(path).fileName());
}

void AndroidWindowSession::stopRecording() {
    m_recording = Recording::stopping;
    m_header->setRecording(false);
    // Called on the video reader or the client's timer thread, once. The recorder is finished even
    // when the window has gone meanwhile.
    m_client->stopRecordingWithFinalFrame(
        [report = Report{this, m_setup.notifier, m_setup.title}](std::shared_ptr<StreamRecorder> recorder) {
            QMetaObject::invokeMethod(
                qApp,
                [report, recorder] {
                    if (report.window) report.window->m_recording = Recording::idle;
                    finish(recorder, report);
                },
                Qt::QueuedConnection);
        });
}

void AndroidWindowSession::finishRecording(std::shared_ptr<StreamRecorder> recorder) {
    finish(std::move(recorder), {this, m_setup.notifier, m_setup.title});
}

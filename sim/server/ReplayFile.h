#pragma once

#include <QByteArray>
#include <QString>
#include <optional>
#include <vector>

// A prerecorded H.264 elementary stream (Annex B) for the display server's replay mode, so that
// client benchmarks measure the client, not the simulated encoder. Written by `create` from the
// simulated screen with the live encoder (parameter sets repeated before every key frame), read
// back with libavformat's H.264 demuxer, which splits it into access units.
struct ReplayFile {
    struct Frame {
        QByteArray data;
        bool key = false;
    };
    int width = 0, height = 0;
    QByteArray parameterSets; // SPS and PPS of the first key frame
    std::vector<Frame> frames;

    static std::optional<ReplayFile> load(const QString& path);
    // Records `frameCount` frames of an app screen with moving touch marks. Returns an error text.
    static QString create(const QString& path, int width, int height, int frameCount);
};

// The NAL units of type 7 (SPS) and 8 (PPS) in an Annex B buffer, each with its start code.
QByteArray parameterSetsOf(const QByteArray& annexB);

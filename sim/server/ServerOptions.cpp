#include "sim/server/ServerOptions.h"

#include <QRegularExpression>

using namespace Qt::Literals::StringLiterals;

namespace {

std::optional<bool> parseBool(const QString& value) {
    if (value == u"true"_s) return true;
    if (value == u"false"_s) return false;
    return std::nullopt;
}

} // namespace

QString ServerOptions::socketName() const {
    return u"scrcpy_%1"_s.arg(scid, 8, 16, QChar(u'0'));
}

std::optional<ServerOptions> ServerOptions::parse(const QStringList& arguments, QString& error) {
    ServerOptions options;
    if (arguments.isEmpty()) {
        error = u"java.lang.IllegalArgumentException: Missing client version"_s;
        return std::nullopt;
    }
    options.version = arguments.first();
    if (options.version != QLatin1StringView(serverVersion)) {
        error =
            u"java.lang.IllegalArgumentException: The server version (%1) does not match the client (%2)"_s
                .arg(QLatin1StringView(serverVersion), options.version);
        return std::nullopt;
    }
    static const QStringList ignored{
        u"log_level"_s,        u"flex_display"_s,    u"vd_system_decorations"_s, u"cleanup"_s,
        u"send_device_meta"_s, u"send_codec_meta"_s, u"send_frame_meta"_s,       u"send_dummy_byte"_s,
        u"stay_awake"_s,       u"show_touches"_s,    u"power_off_on_close"_s,    u"audio_bit_rate"_s,
        u"video_encoder"_s,    u"audio_encoder"_s,   u"audio_source"_s};
    static const QRegularExpression display(u"^(?:(\\d+)x(\\d+))?(?:/(\\d+))?$"_s);
    for (const QString& argument : arguments.mid(1)) {
        const qsizetype equals = argument.indexOf(u'=');
        if (equals <= 0) {
            error = u"java.lang.IllegalArgumentException: Invalid key=value pair: \"%1\""_s.arg(argument);
            return std::nullopt;
        }
        const QString key = argument.left(equals), value = argument.mid(equals + 1);
        bool ok = true;
        auto flag = [&](bool& target) {
            const std::optional<bool> parsed = parseBool(value);
            ok = parsed.has_value();
            if (parsed) target = *parsed;
        };
        if (key == u"scid"_s) {
            const qulonglong scid = value.toULongLong(&ok, 16);
            ok = ok && value.size() == 8 && scid < 0x80000000u;
            options.scid = uint32_t(scid);
        } else if (key == u"video"_s)
            flag(options.video);
        else if (key == u"audio"_s)
            flag(options.audio);
        else if (key == u"control"_s)
            flag(options.control);
        else if (key == u"clipboard_autosync"_s)
            flag(options.clipboardAutosync);
        else if (key == u"power_on"_s)
            flag(options.powerOn);
        else if (key == u"video_codec"_s) {
            ok = value == u"h264"_s || value == u"h265"_s || value == u"av1"_s;
            options.videoCodec = value;
        } else if (key == u"audio_codec"_s) {
            ok = value == u"raw"_s || value == u"opus"_s || value == u"aac"_s || value == u"flac"_s;
            options.audioCodec = value;
        } else if (key == u"video_bit_rate"_s) {
            options.bitRate = value.toInt(&ok);
            ok = ok && options.bitRate > 0;
        } else if (key == u"max_fps"_s) {
            options.maxFps = value.toDouble(&ok);
            ok = ok && options.maxFps >= 0;
        } else if (key == u"new_display"_s) {
            const QRegularExpressionMatch match = display.match(value);
            ok = match.hasMatch();
            options.newDisplay = true;
            options.width = match.captured(1).toInt();
            options.height = match.captured(2).toInt();
            options.dpi = match.captured(3).toInt();
            ok = ok && options.width <= 8192 && options.height <= 8192 && options.dpi <= 2000;
        } else if (!ignored.contains(key)) {
            error = u"java.lang.IllegalArgumentException: Unknown server option: "_s + key;
            return std::nullopt;
        }
        if (!ok) {
            error = u"java.lang.IllegalArgumentException: Invalid value for %1: \"%2\""_s.arg(key, value);
            return std::nullopt;
        }
    }
    return options;
}

#pragma once

#include <QString>
#include <QStringList>
#include <cstdint>
#include <optional>

// The display server's command line after "app_process / com.genymobile.scrcpy.Server": the
// version, then "key=value" options. Unknown keys and bad values are refused, as the real server
// refuses them, with the exception text it prints.
struct ServerOptions {
    QString version;
    uint32_t scid = 0;
    bool video = true, audio = true, control = true;
    QString videoCodec = QStringLiteral("h264");
    QString audioCodec = QStringLiteral("opus");
    int bitRate = 8000000;
    double maxFps = 0; // 0: no cap (the simulated server then runs at 60)
    bool newDisplay = false;
    int width = 0, height = 0, dpi = 0; // new_display=WxH/dpi, each part optional
    bool clipboardAutosync = true;
    bool powerOn = true;

    static std::optional<ServerOptions> parse(const QStringList& arguments, QString& error);
    QString socketName() const; // "scrcpy_%08x"
};

inline constexpr const char* serverVersion = "5.0.1";
inline constexpr const char* serverClass = "com.genymobile.scrcpy.Server";

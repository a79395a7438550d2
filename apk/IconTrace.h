#pragma once

#include "apk/APKIconExtractor.h"

// The diagnostic "icon trace" lines written to the main log when an icon cannot be resolved.
// They show what the manifest and the table hold, so a wrong or missing icon can be explained
// from a user's log alone.
namespace IconTrace {

// "icon trace <apk file name>: attrs=[...] icon=type1/0x7F0D0000 [640 res/...png root=?] ..."
QString iconLine(const QString& apkPath, const QMap<QString, APKIconExtractor::Attr>& attrs,
                 const QByteArray& arsc);

// "icon trace adaptive: bg=<bool> fg=<bool> BG <elements> FG <elements>"
QString adaptiveLine(bool hasBackground, bool hasForeground,
                     const QList<APKIconExtractor::Element>& background,
                     const QList<APKIconExtractor::Element>& foreground,
                     APKIconExtractor::IconSource& source);

} // namespace IconTrace

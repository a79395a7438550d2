#pragma once

#include <QStringList>

// One subcommand of vantlectl. `run` gets the arguments after the subcommand's name and returns
// the process exit status (0 success, 1 failure, 2 usage error).
struct CtlCommand {
    const char* name;
    const char* usage; // one or more lines, shown by "vantlectl help"
    int (*run)(const QStringList& arguments);
};

inline constexpr int exitSuccess = 0;
inline constexpr int exitFailure = 1;
inline constexpr int exitUsage = 2;

// Each subcommand lives in its own file under app/ctl/ and defines its CtlCommand.
extern const CtlCommand sendCtlCommand;
extern const CtlCommand simCtlCommand;
extern const CtlCommand apkInfoCtlCommand;
extern const CtlCommand launchApkCtlCommand;
extern const CtlCommand setupCtlCommand;

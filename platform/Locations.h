#pragma once

#include <QString>

// Every folder Vantle reads or writes, in one place. With the environment variable VANTLE_HOME set,
// all of them live below that folder (laid out as if it were the user's home), so tests and demos
// never touch the user's real files. Each call re-reads the environment; nothing is cached.
// Folders are not created here: whoever writes into one creates it.
namespace Locations {

QString home();               // VANTLE_HOME, or the user's home folder
QString applicationSupport(); // Vantle's own data
QString runtime();            // the managed Android SDK, virtual devices and install record
QString packages();           // APKs pulled out of Android
QString icons();              // cached icon images
QString logs();               // vantle.log and the per-window logs
QString config();             // the settings file
QString cache();              // Vantle's cache folder (nothing in it is needed to run)
QString state();              // Vantle's state folder: the logs and whatever else a run leaves behind
QString autostartEntry();     // the desktop entry that starts Vantle at login
QString pictures();           // screenshots
QString movies();             // screen recordings
QString downloads();          // files copied out of Android
QString backups();            // app data backups
QString runState();           // state of the running Vantle: a private per-user folder (0700)
QString commandSocket();      // the automation command channel's local socket, in runState()
QString instanceLock();       // held by the running Vantle for its whole life, in runState()
QString serverLedger();       // display-server processes this Vantle started, in runState()

} // namespace Locations

#pragma once

// Turns the system's polite termination requests (SIGTERM, SIGINT, SIGHUP on Linux) into an
// orderly QCoreApplication::quit(), so that quitting closes windows and stops Android as usual.
// Call once, on the main thread, after the application object exists.
void quitOnTerminationSignals();

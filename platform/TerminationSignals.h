#pragma once

// Quitting Vantle: the event loop ends and QCoreApplication::aboutToQuit closes windows and stops
// Android as usual. Main thread.
//
// The loop is ended with QCoreApplication::exit(), never quit(): Qt 6 turns quit() into a request
// that first sends every top-level window a close event, stops at the first that refuses and gives
// up the quit while any window is still visible; app windows refuse the close event to close
// themselves through their session, so the home panel stayed up and Vantle kept running.
void quitInOrder();

// Turns the system's polite termination requests (SIGTERM, SIGINT, SIGHUP on Linux) into
// quitInOrder(). Call once, on the main thread, after the application object exists.
void quitOnTerminationSignals();

#pragma once

// The body every test program's main() shares: a Qt application object (for event loops, timers and
// widgets on the offscreen platform) and a private VANTLE_HOME, so no test touches real files.
int runVantleTests(int argc, char** argv);

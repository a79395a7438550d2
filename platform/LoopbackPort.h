#pragma once

// Whether a program accepts TCP connections on 127.0.0.1 at `port` (a connection is made and
// closed at once).
bool loopbackPortAccepts(int port);

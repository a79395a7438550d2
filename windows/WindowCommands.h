#pragma once

class CommandRouter;

// The automation commands that act on "the app window", the registry's first open session; each
// does nothing while no app window is open: "back", "hide", "paste" and "copy" (the clipboard
// transfer of Ctrl+V and Ctrl+C), "drop:" + path (as if that file were dropped on the window), and
// "media" (play/pause) or "media:" + previous, play-pause or next (the media key in the app),
// "screenshot" and "record" (start or stop a recording). "capture:" + prefix saves images of all
// visible Vantle windows (WindowCapture), with or without an app window.
void registerWindowCommands(CommandRouter& commands);

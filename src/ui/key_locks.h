// The keyboard's lock state for the status bar's indicators, where the
// platform tells it: under X11 through the keyboard extension. Other
// platforms (Wayland, offscreen) do not say, and the indicators stay grey.
#pragma once

namespace lumadrift {

struct KeyLocks {
    bool known = false;  // the platform answered
    bool kana = false;
    bool caps = false;
    bool num = false;
    bool scroll = false;
};

// From the application's own display connection when it runs on X11.
KeyLocks ReadKeyLocks();
// From an X11 display connection (a Display*); unknown when the server has
// no keyboard extension or the build has no X11.
KeyLocks ReadX11KeyLocks(void* display);

}  // namespace lumadrift

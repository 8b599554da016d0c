// What stands between a running update and the ways the window can be closed: the window's
// close button, Close, Ctrl-Q, the window manager's quit and the session ending all come
// to one question, asked only while a run writes to the tool or uploads from it.
#pragma once

struct WindowSetup;

// Wires the guard into the window and the application; `setup` outlives the application's
// event loop.
void CloseGuard_install(WindowSetup& setup);

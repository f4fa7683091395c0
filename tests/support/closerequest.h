#pragma once

/// Asks an X11 top-level window to close, as a window manager does when its close box is
/// clicked (a WM_DELETE_WINDOW message). Uses the display named by DISPLAY.
bool sendCloseRequest(unsigned long window);

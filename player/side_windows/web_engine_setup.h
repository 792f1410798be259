#pragma once
// Settings the web engine reads once, before the application object exists.
// The request panel's program (request_panel_main.cpp) calls prepareWebEngine()
// first thing, before it creates its QApplication. The player never calls it:
// sharing OpenGL contexts would load the software OpenGL renderer at every
// player start on machines without a GPU.

namespace kirasol::side {

// Shares OpenGL contexts (the web engine requires it before QApplication) and,
// when the process runs as root, turns Chromium's sandbox off
// (QTWEBENGINE_DISABLE_SANDBOX=1) because Chromium refuses to start sandboxed
// as root. A value the user set already is left alone.
void prepareWebEngine();

}  // namespace kirasol::side

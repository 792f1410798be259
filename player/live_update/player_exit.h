#pragma once
// Ending the player from one of its exit paths (the exit button, the tray
// menu's exit item, the hand-over to the Update program).
//
// It ends this process and no other: every event loop of the UI thread is
// told to return with `exitCode`, so main() returns and the objects it owns
// are destroyed in order (recordings are closed and flushed by their owners'
// destructors). Called before the main loop runs, the exit happens as soon
// as it starts; called from another thread, it is handed to the UI thread.
// The call returns; the caller should do nothing afterwards that assumes the
// player goes on. Windows the caller wants unloaded are unloaded first.

namespace kirasol::live_update {

void endThisPlayer(int exitCode = 0);

}  // namespace kirasol::live_update

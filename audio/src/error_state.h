#pragma once
// The calling thread's last error code, as BASS_ErrorGetCode reports it.

namespace kirasol::audio {

void setError(int code);
int lastError();

// Marks the current thread as one of the engine's own (download, decoder,
// mixer, sync, capture, cleanup). Frees asked for on such a thread are
// deferred, since the thread may belong to the very thing being freed.
void markEngineThread();
bool onEngineThread();

}  // namespace kirasol::audio

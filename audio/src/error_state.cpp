#include "error_state.h"

namespace kirasol::audio {
namespace {
thread_local int tlError = 0;
thread_local bool tlEngineThread = false;
}  // namespace

void setError(int code) { tlError = code; }
int lastError() { return tlError; }
void markEngineThread() { tlEngineThread = true; }
bool onEngineThread() { return tlEngineThread; }

}  // namespace kirasol::audio

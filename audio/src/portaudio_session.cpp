#include "portaudio_session.h"

#include <portaudio.h>

namespace kirasol::audio {

PortAudioSession::PortAudioSession() : ok_(Pa_Initialize() == paNoError) {}

PortAudioSession::~PortAudioSession() {
  if (ok_) Pa_Terminate();
}

}  // namespace kirasol::audio

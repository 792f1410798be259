#pragma once
// One reference to the PortAudio library (Pa_Initialize / Pa_Terminate are
// counted by PortAudio itself), so output and capture can come and go
// independently.

namespace kirasol::audio {

class PortAudioSession {
 public:
  PortAudioSession();
  ~PortAudioSession();
  PortAudioSession(PortAudioSession &&other) noexcept : ok_(other.ok_) { other.ok_ = false; }
  PortAudioSession(const PortAudioSession &) = delete;
  PortAudioSession &operator=(const PortAudioSession &) = delete;
  PortAudioSession &operator=(PortAudioSession &&) = delete;

  bool ok() const { return ok_; }

 private:
  bool ok_;
};

}  // namespace kirasol::audio

#pragma once
// One connection to the desktop's sound server (libpulse, which PipeWire
// desktops serve too), shared by the output and the capture: a threaded main
// loop and a context named after the program. It never starts a server, so
// a desktop without one fails at once.

#include <pulse/pulseaudio.h>

#include <memory>
#include <mutex>
#include <optional>
#include <string>

namespace kirasol::audio {

class PulseConnection {
 public:
  // The connection, made on first use and kept while someone holds it. Null,
  // with `error` set to BASS_ERROR_DRIVER, when no server answers.
  static std::shared_ptr<PulseConnection> get(int &error);
  ~PulseConnection();
  PulseConnection(const PulseConnection &) = delete;
  PulseConnection &operator=(const PulseConnection &) = delete;

  pa_threaded_mainloop *loop() const { return loop_; }
  pa_context *context() const { return context_; }

  // Holds the main loop's lock (callbacks run under it, on its thread).
  class Lock {
   public:
    explicit Lock(const PulseConnection &c) : loop_(c.loop_) { pa_threaded_mainloop_lock(loop_); }
    ~Lock() { pa_threaded_mainloop_unlock(loop_); }
    Lock(const Lock &) = delete;
    Lock &operator=(const Lock &) = delete;

   private:
    pa_threaded_mainloop *loop_;
  };

  // With the lock held: waits until `op` is done, then releases it.
  void finish(pa_operation *op) const;
  // The server name of the n-th (from 1) sink or source, in the server's
  // order; nothing when there is no such device.
  std::optional<std::string> deviceName(bool sink, int n) const;
  // Properties every stream of the program carries (name, icon, role).
  static pa_proplist *streamProperties();

 private:
  PulseConnection() = default;
  bool connect();

  pa_threaded_mainloop *loop_ = nullptr;
  pa_context *context_ = nullptr;
  bool running_ = false;
};

}  // namespace kirasol::audio

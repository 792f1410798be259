#include "pulse_connection.h"

#include "bass.h"

namespace kirasol::audio {
namespace {

constexpr const char *kName = "Kirasol Radio";
constexpr const char *kIcon = "kirasol-radio";

void fillProgramProperties(pa_proplist *p) {
  pa_proplist_sets(p, PA_PROP_APPLICATION_NAME, kName);
  pa_proplist_sets(p, PA_PROP_APPLICATION_ICON_NAME, kIcon);
  pa_proplist_sets(p, PA_PROP_MEDIA_ROLE, "music");
}

}  // namespace

std::shared_ptr<PulseConnection> PulseConnection::get(int &error) {
  static std::mutex mutex;
  static std::weak_ptr<PulseConnection> shared;
  std::lock_guard lock(mutex);
  if (auto existing = shared.lock()) return existing;
  std::shared_ptr<PulseConnection> connection(new PulseConnection);
  if (!connection->connect()) {
    error = BASS_ERROR_DRIVER;
    return nullptr;
  }
  shared = connection;
  return connection;
}

bool PulseConnection::connect() {
  loop_ = pa_threaded_mainloop_new();
  if (!loop_) return false;
  pa_threaded_mainloop_set_name(loop_, "kirasol-sound");
  pa_proplist *props = pa_proplist_new();
  fillProgramProperties(props);
  context_ = pa_context_new_with_proplist(pa_threaded_mainloop_get_api(loop_), kName, props);
  pa_proplist_free(props);
  if (!context_) return false;
  pa_context_set_state_callback(
      context_, [](pa_context *, void *loop) { pa_threaded_mainloop_signal(static_cast<pa_threaded_mainloop *>(loop), 0); },
      loop_);
  // Never start a server: without one the caller hears about it at once.
  if (pa_context_connect(context_, nullptr, PA_CONTEXT_NOAUTOSPAWN, nullptr) < 0) return false;
  if (pa_threaded_mainloop_start(loop_) < 0) return false;
  running_ = true;
  Lock lock(*this);
  for (;;) {
    const pa_context_state_t state = pa_context_get_state(context_);
    if (state == PA_CONTEXT_READY) return true;
    if (!PA_CONTEXT_IS_GOOD(state)) return false;
    pa_threaded_mainloop_wait(loop_);
  }
}

PulseConnection::~PulseConnection() {
  if (running_) pa_threaded_mainloop_stop(loop_);
  if (context_) {
    pa_context_set_state_callback(context_, nullptr, nullptr);
    pa_context_disconnect(context_);
    pa_context_unref(context_);
  }
  if (loop_) pa_threaded_mainloop_free(loop_);
}

void PulseConnection::finish(pa_operation *op) const {
  if (!op) return;
  while (pa_operation_get_state(op) == PA_OPERATION_RUNNING) pa_threaded_mainloop_wait(loop_);
  pa_operation_unref(op);
}

std::optional<std::string> PulseConnection::deviceName(bool sink, int n) const {
  struct Search {
    pa_threaded_mainloop *loop;
    int left;
    std::optional<std::string> found;
  } search{loop_, n, std::nullopt};
  Lock lock(*this);
  pa_operation *op =
      sink ? pa_context_get_sink_info_list(
                 context_,
                 [](pa_context *, const pa_sink_info *info, int eol, void *s) {
                   auto &search = *static_cast<Search *>(s);
                   if (eol == 0 && info && --search.left == 0) search.found = info->name;
                   if (eol != 0) pa_threaded_mainloop_signal(search.loop, 0);
                 },
                 &search)
           : pa_context_get_source_info_list(
                 context_,
                 [](pa_context *, const pa_source_info *info, int eol, void *s) {
                   auto &search = *static_cast<Search *>(s);
                   if (eol == 0 && info && --search.left == 0) search.found = info->name;
                   if (eol != 0) pa_threaded_mainloop_signal(search.loop, 0);
                 },
                 &search);
  finish(op);
  return search.found;
}

pa_proplist *PulseConnection::streamProperties() {
  pa_proplist *p = pa_proplist_new();
  fillProgramProperties(p);
  pa_proplist_sets(p, PA_PROP_MEDIA_NAME, kName);
  return p;
}

}  // namespace kirasol::audio

// The player's reading of what the audio library hands over: the station
// header block (zero-terminated lines), zero-terminated texts, and the song
// title cut out of a metadata text, also the whole way through
// NetRadio::UpdateSongTitle to the window. The library's tag text is replaced
// right after the call, before the window is updated, so a title that still
// pointed into it would show the wrong text (or trip AddressSanitizer).

#include "fuzz/fuzz_input.h"
#include "player/playback/net_radio.h"
#include "player/playback/net_radio_rules.h"
#include "playback/fake_audio_library.h"
#include "playback/recording_view.h"
#include "support/scripted_dialogs.h"

#include <QCoreApplication>
#include <fuzzer/FuzzedDataProvider.h>

#include <cstring>
#include <memory>
#include <string>

using namespace kirasol;

namespace {

struct Player {
  test::FakeAudioLibrary audio;
  test::ScriptedDialogs dialogs;
  test::RecordingView view;
  NetRadio radio{audio, dialogs};
  Player() {
    radio.setView(&view);
    radio.CurrentChannel = 1;
  }
};

Player &player() {
  static Player p;
  return p;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***) {
  fuzz::ensureApplication();
  player();
  return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  // As the library gives it: the bytes, then the terminators its tag blocks
  // end with.
  std::string block(reinterpret_cast<const char *>(data), size);
  block.append(2, '\0');

  const QString text = StringFromAnsiPtr(block.c_str());
  FUZZ_CHECK(text.size() <= qsizetype(std::strlen(block.c_str())), "no more characters than bytes before the zero");
  FUZZ_CHECK(!text.contains(QChar(0)), "the text stops at the first zero");

  const StationHeaders headers = parseStationHeaders(block.c_str());
  if (headers.name) FUZZ_CHECK(block.find("icy-name:") != std::string::npos, "a name needs its line");
  if (headers.bitRate) FUZZ_CHECK(block.find("icy-br:") != std::string::npos, "a bit rate needs its line");

  const std::optional<QString> title = songTitleFromMeta(text);
  FUZZ_CHECK(title.has_value() == text.startsWith(QStringLiteral("StreamTitle='")), "a title only from a title block");
  if (title && !text.contains(QStringLiteral("&#"))) {
    FUZZ_CHECK(text.mid(13).startsWith(*title), "the title is the start of the value");
    FUZZ_CHECK(!text.mid(13).contains(QStringLiteral("';")) || text.mid(13 + title->size()).startsWith(QStringLiteral("';")),
               "the title ends at a closing \"';\"");
  }

  // Through the player: the title shown is the one of these bytes, or the
  // previous text stays when they hold no title.
  Player &p = player();
  const QString before = QStringLiteral("previous song");
  p.view.song = before;
  p.view.history.clear();
  p.audio.setTag(1, BASS_TAG_META, block);
  p.radio.UpdateSongTitle();
  p.audio.setTag(1, BASS_TAG_META, std::string(200, 'x'));
  QCoreApplication::processEvents();
  FUZZ_CHECK(p.view.song == (title ? *title : before), "the window shows the title of the metadata as it was");
  return 0;
}

// The recorder's reading of a station's answer: header acceptance as the
// bytes trickle in, icy-metaint, the station name and bit rate texts, and the
// title of a metadata block. Acceptance must not depend on how the answer was
// cut into reads, and what is accepted must be a complete header block.

#include "fuzz/fuzz_input.h"
#include "player/recorder/station_protocol.h"

#include <fuzzer/FuzzedDataProvider.h>

using namespace kirasol::recorder;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const std::uint8_t step = fdp.ConsumeIntegralInRange<std::uint8_t>(1, 64);
  const std::string bytes = fdp.ConsumeRemainingBytesAsString();
  const QByteArrayView answer(bytes.data(), qsizetype(bytes.size()));

  const std::optional<qsizetype> whole = acceptedHeaderLength(answer);

  // The window's way: append each read, test the whole buffer so far.
  QByteArray buffer;
  std::optional<qsizetype> trickled;
  for (qsizetype at = 0; at < answer.size() && !trickled;) {
    const qsizetype n = qMin<qsizetype>(step, answer.size() - at);
    buffer.append(answer.sliced(at, n));
    at += n;
    trickled = acceptedHeaderLength(buffer);
    if (trickled) {
      FUZZ_CHECK(*trickled <= buffer.size(), "accepted length within what was received");
      FUZZ_CHECK(*trickled > buffer.size() - n, "accepted as soon as the block was complete");
    }
  }
  FUZZ_CHECK(whole == trickled, "acceptance does not depend on how the answer was cut");

  if (whole) {
    const QByteArrayView headers = answer.first(*whole);
    FUZZ_CHECK(headers.endsWith("\r\n\r\n"), "the accepted block ends with the blank line");
    FUZZ_CHECK(headers.indexOf("\r\n\r\n") == headers.size() - 4, "the block holds one blank line, at its end");
    FUZZ_CHECK(headers.indexOf("ICY 200 OK") >= 0, "an accepted block carries the ICY status");
  }

  // A complete block that is not accepted is refused with a one-line text.
  const std::optional<qsizetype> block = headerBlockLength(answer);
  FUZZ_CHECK(!whole || block == whole, "an accepted block is the complete header block");
  if (block) {
    const QString refused = notIcyStationText(answer.first(*block));
    FUZZ_CHECK(!refused.contains(u'\r') && !refused.contains(u'\n'), "the refusal is one line");
  }

  // The header readers work on any text, accepted or not.
  const std::int32_t metaInt = metaIntFrom(answer);
  FUZZ_CHECK(metaInt >= 0, "icy-metaint is never negative");
  FUZZ_CHECK(metaInt == 0 || answer.indexOf("icy-metaint:") >= 0, "a metaint needs its header");
  const QString name = stationNameText(answer);
  FUZZ_CHECK(!name.contains(QStringLiteral("\r\n")), "a station name is one header line");
  FUZZ_CHECK(bitrateText(answer).startsWith(QStringLiteral("Bitrate: ")), "a bit rate text");

  // The same bytes as a metadata block.
  const std::optional<QByteArray> title = streamTitle(answer);
  FUZZ_CHECK(title.has_value() == (answer.indexOf("StreamTitle=") >= 0), "a title exactly when the key is there");
  if (title) {
    FUZZ_CHECK(!title->contains(';'), "a title stops at the first ';'");
    FUZZ_CHECK(answer.indexOf(*title) >= 0, "a title is a piece of the block");
  }
  FUZZ_CHECK(titleText(answer).startsWith(QStringLiteral("Title: ")), "a title text");
  return 0;
}

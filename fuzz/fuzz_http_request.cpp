// The demo station's HTTP request parser on arbitrary client bytes, with
// small and default limits. The verdict and the request must not depend on
// how TCP cut the bytes: fed whole, split at a fuzzer-chosen point, or a few
// bytes at a time, the parser ends in the same state with the same request.

#include "fuzz/fuzz_input.h"
#include "http_request.h"

#include <fuzzer/FuzzedDataProvider.h>

using kirasol::station::HttpRequest;
using kirasol::station::HttpRequestParser;
using State = HttpRequestParser::State;

namespace {

bool sameRequest(const HttpRequest &a, const HttpRequest &b) {
  return a.method == b.method && a.target == b.target && a.version == b.version && a.headers == b.headers &&
         a.body == b.body;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size) {
  FuzzedDataProvider fdp(data, size);
  const bool smallLimits = fdp.ConsumeBool();
  const qsizetype maxHead = smallLimits ? fdp.ConsumeIntegralInRange<qsizetype>(0, 256) : 16 * 1024;
  const qsizetype maxBody = smallLimits ? fdp.ConsumeIntegralInRange<qsizetype>(0, 256) : 64 * 1024;
  const std::size_t split = fdp.ConsumeIntegral<std::uint16_t>();
  const std::uint8_t step = fdp.ConsumeIntegralInRange<std::uint8_t>(1, 16);
  const std::string bytes = fdp.ConsumeRemainingBytesAsString();
  const QByteArrayView input(bytes.data(), qsizetype(bytes.size()));

  HttpRequestParser whole(maxHead, maxBody);
  const State state = whole.feed(input);
  FUZZ_CHECK(state == whole.state(), "feed returns the state");

  HttpRequestParser halves(maxHead, maxBody);
  const qsizetype cut = qsizetype(split % (bytes.size() + 1));
  halves.feed(input.first(cut));
  halves.feed(input.sliced(cut));

  HttpRequestParser pieces(maxHead, maxBody);
  for (qsizetype at = 0; at < input.size(); at += step) pieces.feed(input.sliced(at, qMin<qsizetype>(step, input.size() - at)));

  for (const HttpRequestParser *other : {&halves, &pieces}) {
    FUZZ_CHECK(other->state() == state, "same verdict however the request is cut");
    if (state == State::Complete) FUZZ_CHECK(sameRequest(other->request(), whole.request()), "same request however it is cut");
  }

  if (state == State::Complete) {
    const HttpRequest &r = whole.request();
    FUZZ_CHECK(!r.method.isEmpty() && !r.target.isEmpty(), "a request line has a method and a target");
    for (char c : r.method) FUZZ_CHECK(c >= 'A' && c <= 'Z', "a method is upper-case letters");
    FUZZ_CHECK(r.version.isEmpty() || r.version.startsWith("HTTP/"), "a version is HTTP/...");
    FUZZ_CHECK(!r.hasHeader("Transfer-Encoding"), "no chunked bodies");
    FUZZ_CHECK(r.body.size() <= maxBody, "the body within its limit");
    if (r.hasHeader("Content-Length")) {
      FUZZ_CHECK(r.body.size() == r.header("Content-Length").toLongLong(), "the body is Content-Length bytes");
    } else {
      FUZZ_CHECK(r.body.isEmpty(), "no body without Content-Length");
    }
    const QByteArray path = r.path();
    FUZZ_CHECK(path.size() <= r.target.size(), "the path is no longer than the target");
  }
  return 0;
}

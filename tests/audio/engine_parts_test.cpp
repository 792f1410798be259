// The engine's building blocks on their own: ICY demultiplexing, MP3 frame
// headers, playlists, header blocks, resampling, the FFT and the download
// buffer's markers and back-pressure, the lock-free ring.

#include "download_buffer.h"
#include "fft2048.h"
#include "http_headers.h"
#include "icy_demuxer.h"
#include "mp3_frame.h"
#include "station_playlist.h"
#include "resampler.h"
#include "spsc_ring.h"
#include "test_server.h"

#include <gtest/gtest.h>

#include <atomic>
#include <cmath>
#include <numbers>
#include <thread>

namespace kirasol::audio::test {
namespace {

// ---- ICY demultiplexer ---------------------------------------------------------

struct Demuxed {
  std::string audio;
  std::vector<std::pair<uint64_t, std::string>> meta;
};

Demuxed demux(const std::string &stream, uint32_t metaint, size_t piece) {
  Demuxed out;
  IcyDemuxer d(
      metaint, [&](const uint8_t *p, size_t n) { out.audio.append(reinterpret_cast<const char *>(p), n); },
      [&](uint64_t pos, std::string text) { out.meta.emplace_back(pos, std::move(text)); });
  for (size_t i = 0; i < stream.size(); i += piece)
    d.feed(reinterpret_cast<const uint8_t *>(stream.data() + i), std::min(piece, stream.size() - i));
  return out;
}

TEST(IcyDemuxer, SeparatesAudioAndMetadataWhateverTheReadSizes) {
  std::string audio;
  for (int i = 0; i < 1000; ++i) audio += char('a' + i % 26);
  const std::vector<std::string> titles = {"StreamTitle='One';", "", "StreamTitle='A longer title, over 16';", ""};
  const std::string stream = withIcyMetadata(audio, 100, [&](size_t i) { return titles[i % titles.size()]; });
  for (size_t piece : {size_t(1), size_t(7), size_t(100), size_t(101), size_t(4096)}) {
    const Demuxed d = demux(stream, 100, piece);
    EXPECT_EQ(d.audio, audio) << "piece " << piece;
    ASSERT_EQ(d.meta.size(), 5u) << "piece " << piece;  // blocks 0, 2, 4, 6, 8 carry text
    EXPECT_EQ(d.meta[0], (std::pair<uint64_t, std::string>{100, "StreamTitle='One';"}));
    EXPECT_EQ(d.meta[1], (std::pair<uint64_t, std::string>{300, "StreamTitle='A longer title, over 16';"}));
    EXPECT_EQ(d.meta[4].first, 900u);
  }
}

TEST(IcyDemuxer, WithoutMetaintEverythingIsAudio) {
  const std::string bytes("\x01\x02StreamTitle='x';\0\0", 20);
  const Demuxed d = demux(bytes, 0, 3);
  EXPECT_EQ(d.audio, bytes);
  EXPECT_TRUE(d.meta.empty());
}

// ---- MP3 frame headers ------------------------------------------------------------

TEST(Mp3Frame, HeadersGiveRateBitrateAndLength) {
  const struct {
    uint8_t header[4];
    bool valid;
    int version, layer, kbps, rate, channels;
    size_t bytes;
  } cases[] = {
      {{0xFF, 0xFB, 0x90, 0x64}, true, 1, 3, 128, 44100, 2, 417},
      {{0xFF, 0xFB, 0x92, 0x64}, true, 1, 3, 128, 44100, 2, 418},  // padded
      {{0xFF, 0xFB, 0x94, 0xC4}, true, 1, 3, 128, 48000, 1, 384},
      {{0xFF, 0xF3, 0x80, 0xC4}, true, 2, 3, 64, 22050, 1, 208},
      {{0xFF, 0xE3, 0x80, 0xC4}, true, 25, 3, 64, 11025, 1, 417},
      {{0xFF, 0xFD, 0x90, 0x64}, true, 1, 2, 160, 44100, 2, 522},
      {{0xFF, 0xFB, 0xF0, 0x64}, false, 0, 0, 0, 0, 0, 0},  // bitrate index 15
      {{0xFF, 0xFB, 0x00, 0x64}, false, 0, 0, 0, 0, 0, 0},  // free format
      {{0xFF, 0xFB, 0x9C, 0x64}, false, 0, 0, 0, 0, 0, 0},  // sample rate index 3
      {{0xFF, 0xEB, 0x90, 0x64}, false, 0, 0, 0, 0, 0, 0},  // reserved version
      {{0xFF, 0xF9, 0x90, 0x64}, false, 0, 0, 0, 0, 0, 0},  // reserved layer
      {{0xFE, 0xFB, 0x90, 0x64}, false, 0, 0, 0, 0, 0, 0},  // no sync
      {{'<', 'h', 't', 'm'}, false, 0, 0, 0, 0, 0, 0},
  };
  for (const auto &c : cases) {
    const auto info = parseMp3Header(c.header);
    ASSERT_EQ(info.has_value(), c.valid) << std::hex << int(c.header[1]) << int(c.header[2]);
    if (!info) continue;
    EXPECT_EQ(info->version, c.version);
    EXPECT_EQ(info->layer, c.layer);
    EXPECT_EQ(info->bitrateKbps, c.kbps);
    EXPECT_EQ(info->sampleRate, c.rate);
    EXPECT_EQ(info->channels, c.channels);
    EXPECT_EQ(info->frameBytes, c.bytes);
  }
}

TEST(Mp3Frame, FirstFrameNeedsAConfirmingSecondHeader) {
  const std::string mp3 = readFixture("tone1k.mp3");
  const auto *p = reinterpret_cast<const uint8_t *>(mp3.data());
  std::string noise = "\xFF\xFB\x90\x64 looks like a header but is not followed by one";
  noise += std::string(500, 'x');
  const std::string mixed = noise + mp3;

  auto found = findFirstMp3Frame(reinterpret_cast<const uint8_t *>(mixed.data()), mixed.size(), false);
  ASSERT_TRUE(found);
  EXPECT_EQ(found->offset, noise.size());
  EXPECT_EQ(found->info.bitrateKbps, 128);
  // One frame and a bit: wait for the next header unless the data is complete.
  EXPECT_FALSE(findFirstMp3Frame(p, 420, false));
  EXPECT_FALSE(findFirstMp3Frame(p, 420, true));
  const size_t first = parseMp3Header(p)->frameBytes;
  EXPECT_TRUE(findFirstMp3Frame(p, first, true));
  const std::string html = "<html><body>" + std::string(5000, ' ') + "</body></html>";
  EXPECT_FALSE(findFirstMp3Frame(reinterpret_cast<const uint8_t *>(html.data()), html.size(), true));
}

// ---- playlists and header blocks ---------------------------------------------------

TEST(Playlist, RecognisedByTypeAddressOrContent) {
  const struct {
    const char *url, *type, *body;
    bool playlist;
  } cases[] = {
      {"http://h/listen", "audio/x-scpls", "", true},
      {"http://h/listen", "audio/x-mpegurl", "", true},
      {"http://h/listen", "application/vnd.apple.mpegurl; charset=utf-8", "", true},
      {"http://h/radio.PLS?x=1", "", "", true},
      {"http://h/radio.m3u", "text/plain", "", true},
      {"http://h/", "text/plain", "  [playlist]\nFile1=", true},
      {"http://h/", "", "#EXTM3U\n", true},
      {"http://h/", "audio/mpeg", "\xFF\xFB\x90\x64", false},
      {"http://h/stream.mp3", "", "ICY", false},
      {"http://h/", "text/plain", "\xEF\xBB\xBF[playlist]\r\n", true},
      {"http://h/listen", "application/xspf+xml", "", true},
      {"http://h/live.xspf", "", "", true},
      {"http://h/", "", "<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist xmlns=", true},
      {"http://h/", "text/html", "<?xml version=\"1.0\"?><html>", false},
  };
  for (const auto &c : cases) EXPECT_EQ(looksLikePlaylist(c.url, c.type, c.body), c.playlist) << c.url << " " << c.type;
}

TEST(Playlist, EntriesInOrderAndResolved) {
  const struct {
    const char *body;
    std::vector<std::string> entries;
  } cases[] = {
      {"[playlist]\r\nNumberOfEntries=3\r\nFile2=http://b:8000/\r\nFile1=http://a:8000/\r\nTitle1=A\r\n"
       "File10=https://c/s\r\nVersion=2\r\n",
       {"http://a:8000/", "http://b:8000/", "https://c/s"}},
      {"[Playlist]\nfile1 = http://a/\nFileX=http://bad/\nFile2=ftp://skip/\n", {"http://a/"}},
      {"#EXTM3U\n#EXTINF:-1,Station\nhttp://a/live\n\n  http://b/live  \n", {"http://a/live", "http://b/live"}},
      {"relative/stream\n/absolute\n", {"http://host:8000/lists/relative/stream", "http://host:8000/absolute"}},
      {"", {}},
      // An empty FileN= names no stream; it must not turn into the playlist's
      // own folder.
      {"[playlist]\nFile1=\nFile2=  \nFile3=http://c/\n", {"http://c/"}},
      // A byte-order mark before "[playlist]" still makes it a .pls.
      {"\xEF\xBB\xBF[playlist]\r\nNumberOfEntries=1\r\nFile1=http://a/\r\n", {"http://a/"}},
      // XSPF as Icecast serves it: each track's location, references decoded.
      {"\xEF\xBB\xBF<?xml version=\"1.0\" encoding=\"UTF-8\"?>\n<playlist xmlns=\"http://xspf.org/ns/0/\" version=\"1\">"
       "<title/><trackList><track><location>http://a:8000/live?x=1&amp;y=&#50;</location><title>T</title></track>"
       "<track><LOCATION> /other.mp3 </LOCATION></track><track><locationx>http://no/</locationx></track>"
       "</trackList></playlist>",
       {"http://a:8000/live?x=1&y=2", "http://host:8000/other.mp3"}},
      {"<html><body>http://a/</body></html>\n", {}},
  };
  for (const auto &c : cases) EXPECT_EQ(parsePlaylist(c.body, "http://host:8000/lists/radio.m3u"), c.entries) << c.body;
}

TEST(HttpHeaders, KindCodeBlockAndValues) {
  EXPECT_EQ(headerKindOf("ICY 200 OK"), HeaderKind::Icy);
  EXPECT_EQ(headerKindOf("HTTP/1.0 200 OK"), HeaderKind::Http);
  EXPECT_EQ(headerKindOf("icy-name:x"), HeaderKind::None);
  EXPECT_EQ(statusCodeOf("HTTP/1.1 404 Not Found"), 404);
  EXPECT_EQ(statusCodeOf("ICY 200 OK"), 200);
  EXPECT_EQ(statusCodeOf("HTTP/1.1 20"), std::nullopt);
  EXPECT_EQ(statusCodeOf("garbage"), std::nullopt);
  const std::vector<std::string> lines = {"ICY 200 OK", "icy-name: My Station ", "ICY-BR:128", "icy-metaint:8192"};
  EXPECT_EQ(tagBlock(lines), std::string("ICY 200 OK\0icy-name: My Station \0ICY-BR:128\0icy-metaint:8192\0\0", 62));
  EXPECT_EQ(headerValue(lines, "icy-name"), "My Station");
  EXPECT_EQ(headerValue(lines, "icy-br"), "128");
  EXPECT_EQ(headerValue(lines, "icy"), std::nullopt);
  EXPECT_EQ(trimLineEnd("icy-br:128\r\n"), "icy-br:128");
}

// ---- signal processing -------------------------------------------------------------

std::vector<float> sine(double frequency, int rate, size_t frames, int channels, double amplitude = 1.0) {
  std::vector<float> out(frames * size_t(channels));
  for (size_t i = 0; i < frames; ++i)
    for (int c = 0; c < channels; ++c)
      out[i * size_t(channels) + size_t(c)] = float(amplitude * std::sin(2 * std::numbers::pi * frequency * double(i) / rate));
  return out;
}

int peak(const float *bins) { return int(std::max_element(bins + 1, bins + 1024) - bins); }

TEST(Fft2048, ToneOnABinCentreReadsAboutHalf) {
  Fft2048 fft;
  float bins[1024];
  const struct {
    int bin;
    double amplitude;
  } cases[] = {{46, 1.0}, {464, 1.0}, {100, 0.5}, {1000, 1.0}};
  for (const auto &c : cases) {
    const auto samples = sine(c.bin * 44100.0 / 2048, 44100, 2048, 1, c.amplitude);
    fft.magnitudes(samples.data(), samples.size(), bins);
    EXPECT_EQ(peak(bins), c.bin);
    EXPECT_NEAR(bins[c.bin], 0.5 * c.amplitude, 0.01);
    EXPECT_LT(bins[c.bin + 5], 0.001);
  }
  const std::vector<float> silence(2048, 0.0f);
  fft.magnitudes(silence.data(), silence.size(), bins);
  EXPECT_EQ(*std::max_element(bins, bins + 1024), 0.0f);
  // Fewer samples are padded with zeros: same peak, less energy.
  const auto half = sine(46 * 44100.0 / 2048, 44100, 1024, 1);
  fft.magnitudes(half.data(), half.size(), bins);
  EXPECT_EQ(peak(bins), 46);
}

TEST(StereoResampler, KeepsTheFrequencyAcrossRatesAndChunks) {
  Fft2048 fft;
  float bins[1024];
  for (int inRate : {22050, 32000, 44100, 48000}) {
    StereoResampler r(inRate, 44100);
    const auto in = sine(1000, inRate, size_t(inRate), 2);  // one second
    std::vector<float> out;
    for (size_t pos = 0; pos < size_t(inRate); pos += 999)
      r.process(in.data() + pos * 2, std::min<size_t>(999, size_t(inRate) - pos), out);
    EXPECT_NEAR(double(out.size() / 2), 44100.0, 2.0) << inRate;
    std::vector<float> left(2048);
    for (size_t i = 0; i < 2048; ++i) left[i] = out[(10000 + i) * 2];
    fft.magnitudes(left.data(), left.size(), bins);
    EXPECT_EQ(peak(bins), 46) << inRate;
    EXPECT_GT(bins[46], 0.4) << inRate;
  }
}

// ---- download buffer -----------------------------------------------------------------

TEST(DownloadBuffer, ReadsStopAtMarkersAndWritersWaitForRoom) {
  DownloadBuffer buffer(10);
  std::atomic<bool> secondDone{false};
  const std::string first = "0123456789";
  ASSERT_TRUE(buffer.write(reinterpret_cast<const uint8_t *>(first.data()), first.size()));
  buffer.addMarker({4, "four"});
  buffer.addMarker({12, "twelve"});
  std::thread writer([&] {
    const std::string more = "abcdef";
    buffer.write(reinterpret_cast<const uint8_t *>(more.data()), more.size());
    secondDone = true;
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(secondDone.load()) << "a full buffer took more";
  EXPECT_EQ(buffer.held(), 10u);

  uint8_t out[64];
  std::string got;
  std::vector<std::pair<uint64_t, std::string>> reached;
  while (got.size() < 16) {
    const size_t n = buffer.take(out, sizeof out);  // waits for the writer
    ASSERT_GT(n, 0u);
    got.append(reinterpret_cast<char *>(out), n);
    for (auto &m : buffer.markersUpTo(buffer.read())) reached.emplace_back(buffer.read(), m.text);
  }
  writer.join();
  buffer.finish();
  EXPECT_EQ(got, "0123456789abcdef");
  EXPECT_EQ(reached, (std::vector<std::pair<uint64_t, std::string>>{{4, "four"}, {12, "twelve"}}));
  EXPECT_EQ(buffer.take(out, sizeof out), 0u);
}

TEST(DownloadBuffer, MarkerAddedWhileTheReaderWaitsSitsWhereTheNextBytesBegin) {
  DownloadBuffer buffer(100);
  uint8_t out[64];
  ASSERT_TRUE(buffer.write(reinterpret_cast<const uint8_t *>("abcd"), 4));
  ASSERT_EQ(buffer.take(out, sizeof out), 4u);
  std::thread writer([&] {
    std::this_thread::sleep_for(std::chrono::milliseconds(30));
    buffer.addMarker({4, "StreamTitle='Next';"});
    buffer.write(reinterpret_cast<const uint8_t *>("efgh"), 4);
  });
  const uint64_t start = buffer.read();
  EXPECT_EQ(buffer.take(out, sizeof out), 4u);  // waited for "efgh"
  writer.join();
  const auto before = buffer.markersUpTo(start);
  ASSERT_EQ(before.size(), 1u);
  EXPECT_EQ(before[0].text, "StreamTitle='Next';");
  EXPECT_TRUE(buffer.markersUpTo(buffer.read()).empty());
}

TEST(DownloadBuffer, CancelReleasesAWaitingWriter) {
  DownloadBuffer buffer(4);
  std::thread writer([&] {
    const uint8_t bytes[8] = {};
    EXPECT_FALSE(buffer.write(bytes, sizeof bytes));
  });
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  buffer.cancel();
  writer.join();
}

// ---- lock-free ring ------------------------------------------------------------

TEST(SpscRing, KeepsOrderAcrossTheWrapWhateverTheChunkSizes) {
  struct Case {
    size_t capacity, writeChunk, readChunk;
  };
  for (const Case c : {Case{8, 3, 5}, Case{8, 8, 8}, Case{7, 5, 2}, Case{16, 1, 16}, Case{5, 13, 4}}) {
    SCOPED_TRACE(testing::Message() << c.capacity << "/" << c.writeChunk << "/" << c.readChunk);
    SpscRing<int16_t> ring(c.capacity);
    std::vector<int16_t> in(c.writeChunk), out(c.readChunk);
    int16_t nextIn = 0, nextOut = 0;
    for (int round = 0; round < 50; ++round) {
      for (size_t i = 0; i < in.size(); ++i) in[i] = int16_t(nextIn + int16_t(i));
      const size_t free = ring.writable();
      const size_t wrote = ring.write(in.data(), in.size());
      ASSERT_EQ(wrote, std::min(free, in.size()));
      nextIn = int16_t(nextIn + int16_t(wrote));
      const size_t got = ring.read(out.data(), out.size());
      ASSERT_EQ(got, std::min(c.readChunk, size_t(nextIn - nextOut)));
      for (size_t i = 0; i < got; ++i) ASSERT_EQ(out[i], nextOut++);
    }
    // Reading into nothing discards exactly what is held.
    ring.write(in.data(), in.size());
    const size_t held = ring.readable();
    EXPECT_EQ(ring.read(nullptr, c.capacity), held);
    EXPECT_EQ(ring.readable(), 0u);
  }
}

}  // namespace
}  // namespace kirasol::audio::test

#pragma once
// Builds ICY streams for tests and benchmarks: audio runs of a fixed length
// with metadata blocks between them, and the bytes and blocks a correct
// demultiplexer must give back.

#include <QByteArray>
#include <random>
#include <vector>

namespace kirasol::test {

struct IcyStream {
  int metaInt = 0;
  QByteArray wire;                      // what the station sends after its headers
  QByteArray audio;                     // the audio bytes alone, in order
  std::vector<QByteArray> blocks;       // texts of the non-empty metadata blocks
  std::vector<qsizetype> lengthBytes;   // offsets of the length bytes in wire
};

// A metadata block (length byte + text padded with zero bytes to 16 bytes).
inline QByteArray metadataBlock(const QByteArray &text) {
  const qsizetype padded = (text.size() + 15) / 16 * 16;
  QByteArray block(1, char(padded / 16));
  block += text;
  block += QByteArray(padded - text.size(), '\0');
  return block;
}

inline QByteArray titleField(const QByteArray &title) { return "StreamTitle='" + title + "';"; }

// `runs` audio runs, each followed by a block that is empty, a title of
// random length (0 included; bytes of any value but ';' and zero), or a block
// without a title.
inline IcyStream buildIcyStream(std::mt19937 &rng, int metaInt, int runs, int maxTitle = 200) {
  IcyStream s;
  s.metaInt = metaInt;
  std::uniform_int_distribution<int> byte(0, 255);
  std::uniform_int_distribution<int> kind(0, 5);
  std::uniform_int_distribution<int> titleLength(0, maxTitle);
  for (int r = 0; r < runs; ++r) {
    QByteArray run(metaInt, Qt::Uninitialized);
    for (char &c : run) c = char(byte(rng));
    s.wire += run;
    s.audio += run;
    QByteArray text;
    switch (kind(rng)) {
      case 0: break;  // length byte 0
      case 1: text = "StreamUrl='http://example.invalid/';"; break;
      default: {
        QByteArray title(titleLength(rng), Qt::Uninitialized);
        for (char &c : title) {
          do c = char(byte(rng));
          while (c == ';' || c == '\0');
        }
        text = titleField(title) + "StreamUrl='';";
      }
    }
    s.lengthBytes.push_back(s.wire.size());
    const QByteArray block = metadataBlock(text);
    s.wire += block;
    if (!text.isEmpty()) s.blocks.push_back(block.mid(1));
  }
  return s;
}

}  // namespace kirasol::test

#include "player/spectrum/bass_fft_fetcher.h"

#include <bass.h>

namespace kirasol::spectrum {

FftFetcher bassFftFetcher(std::function<std::uint32_t()> currentChannel) {
  return [currentChannel = std::move(currentChannel)](std::span<float, kFftBins> magnitudes) {
    BASS_ChannelGetData(currentChannel(), magnitudes.data(), BASS_DATA_FFT2048);
  };
}

}  // namespace kirasol::spectrum

#pragma once
// The FFT source of the running player: BASS_DATA_FFT2048 of whatever
// channel `currentChannel` returns at each tick (CurrentChannel, owned by the
// playback module). Its result is not examined: a freed or zero channel leaves
// the magnitudes zero and the tick draws black.
//
// Kept apart from live_spectrum.cpp so that only programs that use it need
// the audio engine linked.

#include "player/spectrum/live_spectrum.h"

#include <cstdint>
#include <functional>

namespace kirasol::spectrum {

FftFetcher bassFftFetcher(std::function<std::uint32_t()> currentChannel);

}  // namespace kirasol::spectrum

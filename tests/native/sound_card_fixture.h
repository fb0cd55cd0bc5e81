#pragma once
// A host plays through the real driver to an in-process tavro-sink that
// plays to our test card, which takes its samples at the pace of the clock
// and keeps every byte; optionally through a relay that does to the
// driver's datagrams what a network does. What the card must have been
// given is computed from the test signal itself.
#include <algorithm>
#include <optional>
#include <vector>

#include "signal/test_signal.h"
#include "sink/format/stream_format.h"
#include "sink/output/device_output.h"
#include "stream_fixture.h"
#include "support/fault_relay.h"
#include "support/loopback_address.h"
#include "support/temp_dir.h"
#include "support/test_sound_card.h"

namespace tavro::testing {

using sink::DeviceSample;
using sink::DsdOutput;
using Bytes = std::vector<uint8_t>;

inline constexpr const char* kCard = "tavro_dac";
inline constexpr uint32_t kBufferIndex = 3;  // 192 frames at 44.1 kHz, 768 DoP frames at DSD64
inline constexpr double kDsd64 = 2822400;

// A PCM word as the card's container holds it: `left` is the sample moved
// to the top of 32 bits, as the wire's truncation left it.
inline void putContainer(uint32_t left, DeviceSample sample, Bytes& out) {
  uint32_t value = left;
  uint32_t bytes = 4;
  if (sample == DeviceSample::kS16Le) {
    value = left >> 16;
    bytes = 2;
  } else if (sample == DeviceSample::kS24_3Le) {
    value = left >> 8;
    bytes = 3;
  } else if (sample == DeviceSample::kS24Le) {
    value = static_cast<uint32_t>(static_cast<int32_t>(left) >> 8);
  }
  for (uint32_t i = 0; i < bytes; ++i) out.push_back(static_cast<uint8_t>(value >> (8 * i)));
}

// What the card must have been given for the first `frames` frames of the
// test signal (DoP frames for DSD).
inline Bytes expectedBytes(uint32_t wireBits, bool dsd, DeviceSample sample, uint64_t frames) {
  Bytes out;
  if (!dsd) {
    for (uint64_t f = 0; f < frames; ++f) {
      for (uint32_t c = 0; c < 2; ++c) {
        const auto word = static_cast<uint32_t>(signal::pcmSample(c, f));
        putContainer(word & (~0u << (32 - wireBits)), sample, out);
      }
    }
    return out;
  }
  if (!sink::isNativeDsd(sample)) {
    for (uint64_t m = 0; m < frames; ++m) {
      for (uint32_t c = 0; c < 2; ++c) {
        const uint32_t dop = uint32_t{sink::dopMarker(m)} << 24 |
                             uint32_t{signal::dsdByte(c, 2 * m)} << 16 |
                             uint32_t{signal::dsdByte(c, 2 * m + 1)} << 8;
        putContainer(dop, sample, out);
      }
    }
    return out;
  }
  // Native: each sample holds the channel's next bytes, the oldest in the
  // most significant place.
  const uint32_t width = sink::sampleBytes(sample);
  const bool littleEndian = sample == DeviceSample::kDsdU16Le || sample == DeviceSample::kDsdU32Le;
  for (uint64_t k = 0; k < frames * 2 / width; ++k) {
    for (uint32_t c = 0; c < 2; ++c) {
      for (uint32_t i = 0; i < width; ++i) {
        out.push_back(signal::dsdByte(c, k * width + (littleEndian ? width - 1 - i : i)));
      }
    }
  }
  return out;
}

// The card's capture slot by slot, a packet to a slot: each holds its own
// part of the signal, or silence standing in for it, whose every byte is
// silence's or the signal's (DoP's markers and a container's padding go on).
struct Slots {
  uint64_t silent = 0;
  uint64_t silentAtTheEnd = 0;
};

inline Slots checkSlots(const Bytes& captured, const Bytes& expected, uint64_t slots, bool dsd) {
  Slots found;
  if (slots == 0 || captured.size() != expected.size()) {
    ADD_FAILURE() << captured.size() << " bytes captured, " << expected.size() << " expected";
    return found;
  }
  const size_t slotBytes = expected.size() / slots;
  const uint8_t silence = dsd ? sink::kDsdSilence : 0;
  for (uint64_t slot = 0; slot < slots; ++slot) {
    const size_t at = slot * slotBytes;
    if (std::equal(captured.begin() + at, captured.begin() + at + slotBytes,
                   expected.begin() + at)) {
      found.silentAtTheEnd = 0;
      continue;
    }
    ++found.silent;
    ++found.silentAtTheEnd;
    for (size_t i = at; i < at + slotBytes; ++i) {
      if (captured[i] != expected[i] && captured[i] != silence) {
        ADD_FAILURE() << "packet " << slot << " byte " << i - at
                      << " is neither the signal's nor silence";
        return found;
      }
    }
  }
  return found;
}

class SoundCardStreamTest : public StreamTest {
 protected:
  void plugCard(const char* formats, const char* rates) {
    card_.emplace(cardDir_.path(), std::vector<TestPcm>{{kCard, formats, rates, "TAVRO test DAC"}});
  }

  HostileOptions cardOptions(uint32_t wordLength, DsdOutput dsd = DsdOutput::kDop) const {
    HostileOptions options = sinkOptions(wordLength, 0, kBufferIndex);
    options.device = kCard;
    options.dsd = dsd;
    // 70 ms: room for a loaded test machine, where 4 packets of 4.4 ms run
    // dry now and then.
    options.bufferPackets = 16;
    return options;
  }

  // The driver talks to a relay at the test's address; the sink listens
  // behind it, at an address of its own.
  void initThroughRelay(HostileOptions options, RelayFaults faults) {
    options.address = uniqueLoopbackAddress();
    sinkOptions_ = options;
    relay_.emplace(address, options.address, sink::kStreamerPort, faults);
    ASSERT_TRUE(relay_->start());
    startPeer(std::move(options), false);
    setSetting(control::kSinglePcValue, "0");
    setSetting(control::kHostValue, address);
    ASSERT_EQ(driver->init(nullptr), asio::kAsioTrue) << errorText();
  }

  void TearDown() override {
    if (relay_) relay_->stop();
    StreamTest::TearDown();
  }

  TempDir cardDir_;
  std::optional<TestSoundCard> card_;
  std::optional<FaultRelay> relay_;
  HostileOptions sinkOptions_;  // the sink's behind the relay
};

}  // namespace tavro::testing

#pragma once
// What tavro-play plays: the shared test signal, a WAV file or a DSF file.
// Files are read whole before the stream starts, so that filling a buffer on
// the driver's streaming thread never waits for the disk.
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace tavro::play {

class AudioSource {
 public:
  virtual ~AudioSource() = default;
  // DSD sources fill one-bit samples, 32 per word, earliest in the lowest
  // byte's top bit; PCM sources one left-justified sample per word.
  virtual bool isDsd() const = 0;
  // The file's own rate; 0 for the signal, which plays at any rate.
  virtual double nativeRate() const = 0;
  // Fills the next `words` words of both channels.
  virtual void fill(uint32_t* left, uint32_t* right, int32_t words) = 0;
  // True once a file has played to its end (the rest is silence).
  virtual bool finished() const = 0;
  virtual std::string describe() const = 0;
};

// The test signal that tavro-sink checks sample by sample.
std::unique_ptr<AudioSource> makeTestSignal(bool dsd);
// Null with `error` set when the file cannot be read or is not supported.
std::unique_ptr<AudioSource> loadWav(const std::string& path, std::string& error);
std::unique_ptr<AudioSource> loadDsf(const std::string& path, std::string& error);

}  // namespace tavro::play

#pragma once
// What a test DAC takes, read from the file its TAVRO_TEST_DAC_CONFIG names:
// one setting a line, "key value...".
//
//   type Int24LSB                  the PCM sample type of its outputs
//   rates 44100 48000 96000        the PCM rates it takes
//   dsd 2822400 5644800            the DSD rates it takes natively (none: no DSD)
//   buffer 512                     frames per half in PCM, one-bit samples x 16 in DSD
//   capture Z:\tmp\played.raw      every byte it is given, frame by frame
//   control Z:\tmp\control         the folder of its control files
//
// Control files, looked at as the clock runs: "stall" (milliseconds, taken
// once: the clock stops, then catches up as a real DAC that kept playing),
// "vanish" (the device is gone: a reset request and no more buffer switches),
// "refuse-init" and "refuse-buffers".
#include <cstdint>
#include <string>
#include <vector>

namespace tavro::testing {

struct TestDacConfig {
  int32_t type = 18;  // Int32LSB
  std::vector<double> rates;
  std::vector<double> dsdRates;
  int32_t bufferFrames = 512;
  std::string capture;
  std::string control;
};

// False, with `error`, when the file cannot be read or a line is not understood.
bool readTestDacConfig(const std::string& path, TestDacConfig& config, std::string& error);

// The bytes one sample of `type` takes in a buffer, 0 for a type the test DAC
// does not know.
int bytesPerSample(int32_t type);

}  // namespace tavro::testing

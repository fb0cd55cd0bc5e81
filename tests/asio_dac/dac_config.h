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
//   starts Z:\tmp\starts           a line a half it plays: "<ns> <index>", the
//                                  steady clock (QueryPerformanceCounter, as
//                                  std::chrono::steady_clock is under MinGW)
//                                  when it took the half, after the host's
//                                  bufferSwitch returned, and the capture index
//                                  of the half's first sample (PCM frames, DSD
//                                  one-bit samples per channel), from which on
//                                  a sample plays every 1/rate seconds
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
  std::string starts;
};

// False, with `error`, when the file cannot be read or a line is not understood.
bool readTestDacConfig(const std::string& path, TestDacConfig& config, std::string& error);

// The bytes one sample of `type` takes in a buffer, 0 for a type the test DAC
// does not know.
int bytesPerSample(int32_t type);

}  // namespace tavro::testing

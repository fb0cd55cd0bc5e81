#pragma once
// When the stand-in DAC began playing each half, for measuring the latency
// from a player to it. The clock thread writes a line a half; the file is
// buffered in memory made when the log opens, so a line costs no allocation
// and rarely a write to disk.
#include <cstdint>
#include <cstdio>
#include <string>
#include <vector>

namespace tavro::testing {

class StartsLog {
 public:
  StartsLog() = default;
  StartsLog(const StartsLog&) = delete;
  StartsLog& operator=(const StartsLog&) = delete;
  ~StartsLog() { close(); }

  // An empty path keeps no log. False when the file cannot be opened.
  bool open(const std::string& path);
  // "<ns> <index>": the half whose first sample is `index` in the capture began
  // playing at steady-clock `ns`.
  void note(uint64_t ns, uint64_t index);
  void close();

 private:
  std::FILE* file_ = nullptr;
  std::vector<char> buffer_;
};

}  // namespace tavro::testing

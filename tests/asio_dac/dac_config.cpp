#include "asio_dac/dac_config.h"

#include <fstream>
#include <sstream>
#include <utility>

#include "asio/asio.h"

namespace tavro::testing {
namespace {

constexpr std::pair<const char*, int32_t> kTypeNames[] = {
    {"Int16LSB", asio::kInt16Lsb},
    {"Int24LSB", asio::kInt24Lsb},
    {"Int32LSB", asio::kInt32Lsb},
};

bool readRates(std::istringstream& words, std::vector<double>& rates) {
  double rate = 0;
  while (words >> rate) rates.push_back(rate);
  return words.eof();
}

std::string rest(std::istringstream& words) {
  std::string text;
  std::getline(words >> std::ws, text);
  return text;
}

}  // namespace

bool readTestDacConfig(const std::string& path, TestDacConfig& config, std::string& error) {
  std::ifstream file(path);
  if (!file) {
    error = "cannot read the test DAC's configuration " + path;
    return false;
  }
  std::string line;
  while (std::getline(file, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    std::istringstream words(line);
    std::string key;
    if (!(words >> key) || key[0] == '#') continue;
    bool understood = true;
    if (key == "type") {
      const std::string name = rest(words);
      understood = false;
      for (const auto& [known, type] : kTypeNames) {
        if (name == known) {
          config.type = type;
          understood = true;
        }
      }
    } else if (key == "rates") {
      understood = readRates(words, config.rates);
    } else if (key == "dsd") {
      understood = readRates(words, config.dsdRates);
    } else if (key == "buffer") {
      understood = static_cast<bool>(words >> config.bufferFrames) && config.bufferFrames > 0;
    } else if (key == "capture") {
      config.capture = rest(words);
    } else if (key == "control") {
      config.control = rest(words);
    } else if (key == "starts") {
      config.starts = rest(words);
    } else {
      understood = false;
    }
    if (!understood) {
      error = "the test DAC's configuration has a line it does not understand: " + line;
      return false;
    }
  }
  return true;
}

int bytesPerSample(int32_t type) {
  switch (type) {
    case asio::kInt16Lsb: return 2;
    case asio::kInt24Lsb: return 3;
    case asio::kInt32Lsb: return 4;
    default: return 0;
  }
}

}  // namespace tavro::testing

#pragma once
// The files in a test DAC's control directory by which a test unplugs, stalls
// or occupies the device while another thread plays to it. Each question is
// one system call, cheap enough to ask on every callback.
#include <string>

namespace tavro::testing {

class ControlFiles {
 public:
  explicit ControlFiles(const std::string& dir)
      : vanish_(dir + "/vanish"), busy_(dir + "/busy"), stall_(dir + "/stall") {}

  // "vanish" exists: the device is unplugged until the file goes.
  bool vanished() const;
  // "busy" exists: another program holds the device.
  bool busy() const;
  // The milliseconds "stall" asks for, once: the file is removed. 0 without one.
  int takeStall() const;

 private:
  std::string vanish_;
  std::string busy_;
  std::string stall_;
};

}  // namespace tavro::testing

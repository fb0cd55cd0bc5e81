#include "control_files.h"

#include <fcntl.h>
#include <unistd.h>

#include <charconv>

namespace tavro::testing {

bool ControlFiles::vanished() const { return access(vanish_.c_str(), F_OK) == 0; }

bool ControlFiles::busy() const { return access(busy_.c_str(), F_OK) == 0; }

int ControlFiles::takeStall() const {
  const int fd = open(stall_.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) return 0;
  char text[32];
  const ssize_t got = read(fd, text, sizeof text);
  close(fd);
  unlink(stall_.c_str());
  int ms = 0;
  if (got > 0) std::from_chars(text, text + got, ms);
  return ms > 0 ? ms : 0;
}

}  // namespace tavro::testing

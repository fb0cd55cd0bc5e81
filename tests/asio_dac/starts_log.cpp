#include "asio_dac/starts_log.h"

namespace tavro::testing {

bool StartsLog::open(const std::string& path) {
  close();
  if (path.empty()) return true;
  file_ = std::fopen(path.c_str(), "a");
  if (file_ == nullptr) return false;
  // Room for some thousand lines: a flush every few seconds at the smallest halves.
  buffer_.assign(size_t{1} << 16, '\0');
  std::setvbuf(file_, buffer_.data(), _IOFBF, buffer_.size());
  return true;
}

void StartsLog::note(uint64_t ns, uint64_t index) {
  if (file_ == nullptr) return;
  std::fprintf(file_, "%llu %llu\n", static_cast<unsigned long long>(ns),
               static_cast<unsigned long long>(index));
}

void StartsLog::close() {
  if (file_ == nullptr) return;
  std::fclose(file_);  // before the buffer it writes from goes
  file_ = nullptr;
  std::vector<char>().swap(buffer_);
}

}  // namespace tavro::testing

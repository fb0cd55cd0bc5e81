#pragma once
// A fresh directory per test, removed afterwards, and small file helpers.
#include <filesystem>
#include <string>
#include <vector>

namespace tavro::testing {

class TempDir {
 public:
  TempDir();
  ~TempDir();
  TempDir(const TempDir&) = delete;
  TempDir& operator=(const TempDir&) = delete;

  const std::filesystem::path& path() const { return path_; }
  std::filesystem::path operator/(const std::string& name) const { return path_ / name; }

 private:
  std::filesystem::path path_;
};

std::vector<std::string> readLines(const std::filesystem::path& file);
void setEnv(const char* name, const std::string& value);
void unsetEnv(const char* name);

}  // namespace tavro::testing

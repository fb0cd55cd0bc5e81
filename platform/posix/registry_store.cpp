#include "platform/posix/registry_store.h"

#include <fcntl.h>
#include <sys/file.h>
#include <sys/stat.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <cstdio>
#include <cstdlib>
#include <cstring>

namespace tavro::platform::posixreg {
namespace {

const char* hiveFileName(RegRoot root) {
  switch (root) {
    case RegRoot::kClassesRoot:
      return "HKEY_CLASSES_ROOT";
    case RegRoot::kCurrentUser:
      return "HKEY_CURRENT_USER";
    case RegRoot::kLocalMachine:
      return "HKEY_LOCAL_MACHINE";
  }
  return "HKEY_UNKNOWN";
}

std::string hivePath(RegRoot root) { return storeDirectory() + "/" + hiveFileName(root) + ".reg"; }

// Everything that could confuse the line format is escaped, and so is every
// byte that is not printable ASCII, so any data survives a round trip.
std::string escape(std::string_view raw) {
  static constexpr char kHex[] = "0123456789abcdef";
  std::string out;
  out.reserve(raw.size());
  for (const char c : raw) {
    const auto byte = static_cast<unsigned char>(c);
    if (byte < 0x20 || byte >= 0x7f || c == '%' || c == '"' || c == '[' || c == ']' || c == '=' ||
        c == '@') {
      out += '%';
      out += kHex[byte >> 4];
      out += kHex[byte & 0xf];
    } else {
      out += c;
    }
  }
  return out;
}

int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::string unescape(std::string_view text) {
  std::string out;
  out.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 &&
        hexDigit(text[i + 2]) >= 0) {
      out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
      i += 2;
    } else {
      out += text[i];
    }
  }
  return out;
}

std::string encodeData(const Value& value) {
  char buffer[16];
  if (value.type == kRegSz) return "sz:" + escape(value.data);
  if (value.type == kRegDword && value.data.size() == 4) {
    uint32_t number = 0;
    for (int i = 3; i >= 0; --i) number = number << 8 | static_cast<unsigned char>(value.data[i]);
    std::snprintf(buffer, sizeof buffer, "%08x", number);
    return std::string("dword:") + buffer;
  }
  std::snprintf(buffer, sizeof buffer, "%u", value.type);
  std::string out = std::string("hex(") + buffer + "):";
  for (size_t i = 0; i < value.data.size(); ++i) {
    std::snprintf(buffer, sizeof buffer, i == 0 ? "%02x" : ",%02x",
                  static_cast<unsigned char>(value.data[i]));
    out += buffer;
  }
  return out;
}

bool decodeData(std::string_view text, Value& value) {
  if (text.starts_with("sz:")) {
    value.type = kRegSz;
    value.data = unescape(text.substr(3));
    return true;
  }
  if (text.starts_with("dword:")) {
    const std::string digits(text.substr(6));
    char* end = nullptr;
    const unsigned long number = std::strtoul(digits.c_str(), &end, 16);
    if (digits.empty() || *end != '\0') return false;
    value.type = kRegDword;
    value.data.clear();
    for (int i = 0; i < 4; ++i) value.data += static_cast<char>((number >> (8 * i)) & 0xff);
    return true;
  }
  if (text.starts_with("hex(")) {
    const size_t close = text.find("):");
    if (close == std::string_view::npos) return false;
    const std::string type(text.substr(4, close - 4));
    char* end = nullptr;
    value.type = static_cast<uint32_t>(std::strtoul(type.c_str(), &end, 10));
    if (type.empty() || *end != '\0') return false;
    value.data.clear();
    std::string_view bytes = text.substr(close + 2);
    while (bytes.size() >= 2) {
      const int high = hexDigit(bytes[0]);
      const int low = hexDigit(bytes[1]);
      if (high < 0 || low < 0) return false;
      value.data += static_cast<char>(high * 16 + low);
      bytes.remove_prefix(bytes.size() > 2 ? 3 : 2);
    }
    return bytes.empty();
  }
  return false;
}

void serializeNode(const Node& node, const std::string& path, std::string& out) {
  if (!path.empty()) {
    out += '[' + path + "]\n";
    for (const auto& [folded, value] : node.values) {
      out += value.name.empty() ? std::string("@") : '"' + escape(value.name) + '"';
      out += '=' + encodeData(value) + '\n';
    }
  }
  for (const auto& [folded, child] : node.children) {
    serializeNode(*child, path.empty() ? escape(child->name) : path + '\\' + escape(child->name),
                  out);
  }
}

Node& createPath(Node& root, std::string_view escapedPath) {
  Node* node = &root;
  while (!escapedPath.empty()) {
    const size_t slash = escapedPath.find('\\');
    const std::string name = unescape(escapedPath.substr(0, slash));
    escapedPath =
        slash == std::string_view::npos ? std::string_view{} : escapedPath.substr(slash + 1);
    if (name.empty()) continue;
    auto& slot = node->children[fold(name)];
    if (!slot) {
      slot = std::make_unique<Node>();
      slot->name = name;
    }
    node = slot.get();
  }
  return *node;
}

bool readWhole(int fd, std::string& out) {
  char buffer[8192];
  for (;;) {
    const ssize_t n = read(fd, buffer, sizeof buffer);
    if (n == 0) return true;
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    out.append(buffer, static_cast<size_t>(n));
  }
}

bool writeWhole(int fd, const std::string& text) {
  size_t done = 0;
  while (done < text.size()) {
    const ssize_t n = write(fd, text.data() + done, text.size() - done);
    if (n < 0) {
      if (errno == EINTR) continue;
      return false;
    }
    done += static_cast<size_t>(n);
  }
  return true;
}

bool makeDirectories(const std::string& path) {
  for (size_t slash = path.find('/', 1);; slash = path.find('/', slash + 1)) {
    const std::string prefix = path.substr(0, slash);
    if (mkdir(prefix.c_str(), 0700) != 0 && errno != EEXIST) return false;
    if (slash == std::string::npos) return true;
  }
}

// Keys every Windows installation has, so a fresh store behaves like one: a
// program may create keys under them without creating them first.
void addStandardKeys(RegRoot root, Node& hive) {
  switch (root) {
    case RegRoot::kClassesRoot:
      createPath(hive, "CLSID");
      break;
    case RegRoot::kCurrentUser:
      createPath(hive, "Software");
      break;
    case RegRoot::kLocalMachine:
      createPath(hive, "SOFTWARE");
      break;
  }
}

bool loadFile(RegRoot root, const std::string& path, Node& hive) {
  const int fd = open(path.c_str(), O_RDONLY | O_CLOEXEC);
  if (fd < 0) {
    if (errno != ENOENT) return false;
    addStandardKeys(root, hive);
    return true;
  }
  std::string text;
  const bool ok = readWhole(fd, text);
  close(fd);
  if (ok) parse(text, hive);
  return ok;
}

// Writes beside the hive and renames over it: readers see the old or the new
// file, never a half-written one.
bool storeFile(const std::string& path, const Node& hive) {
  static std::atomic<uint32_t> counter{0};
  const std::string temporary = path + ".tmp." + std::to_string(getpid()) + "." +
                                std::to_string(counter.fetch_add(1, std::memory_order_relaxed));
  const int fd = open(temporary.c_str(), O_WRONLY | O_CREAT | O_TRUNC | O_CLOEXEC, 0600);
  if (fd < 0) return false;
  const bool written = writeWhole(fd, serialize(hive)) && fsync(fd) == 0;
  const bool closed = close(fd) == 0;
  if (!written || !closed || rename(temporary.c_str(), path.c_str()) != 0) {
    unlink(temporary.c_str());
    return false;
  }
  return true;
}

}  // namespace

std::string fold(std::string_view name) {
  std::string out(name);
  for (char& c : out) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return out;
}

std::vector<std::string> splitPath(const char* path) {
  std::vector<std::string> parts;
  if (path == nullptr) return parts;
  std::string_view rest(path);
  while (!rest.empty()) {
    const size_t slash = rest.find('\\');
    if (slash != 0) parts.push_back(fold(rest.substr(0, slash)));
    if (slash == std::string_view::npos) break;
    rest.remove_prefix(slash + 1);
  }
  return parts;
}

Node* find(Node& root, const std::vector<std::string>& path) {
  Node* node = &root;
  for (const std::string& part : path) {
    const auto it = node->children.find(part);
    if (it == node->children.end()) return nullptr;
    node = it->second.get();
  }
  return node;
}

std::string storeDirectory() {
  if (const char* dir = std::getenv("TAVRO_REGISTRY_DIR"); dir != nullptr && *dir != '\0') {
    return dir;
  }
  if (const char* config = std::getenv("XDG_CONFIG_HOME"); config != nullptr && *config != '\0') {
    return std::string(config) + "/tavro/registry";
  }
  const char* home = std::getenv("HOME");
  return std::string(home != nullptr && *home != '\0' ? home : "/tmp") + "/.config/tavro/registry";
}

std::string serialize(const Node& hive) {
  std::string out = "TAVRO registry 1\n";
  serializeNode(hive, "", out);
  return out;
}

void parse(std::string_view text, Node& hive) {
  Node* current = nullptr;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    if (!line.empty() && line.back() == '\r') line.remove_suffix(1);
    if (line.size() >= 2 && line.front() == '[' && line.back() == ']') {
      current = &createPath(hive, line.substr(1, line.size() - 2));
      continue;
    }
    if (current == nullptr) continue;  // the header line, or a value outside any key
    Value value;
    std::string_view data;
    if (line.starts_with("@=")) {
      data = line.substr(2);
    } else if (line.starts_with('"')) {
      const size_t quote = line.find('"', 1);
      if (quote == std::string_view::npos || quote + 1 >= line.size() || line[quote + 1] != '=') {
        continue;
      }
      value.name = unescape(line.substr(1, quote - 1));
      data = line.substr(quote + 2);
    } else {
      continue;
    }
    if (decodeData(data, value)) current->values[fold(value.name)] = std::move(value);
  }
}

bool load(RegRoot root, Node& hive) { return loadFile(root, hivePath(root), hive); }

int32_t update(RegRoot root, const std::function<int32_t(Node&)>& change) {
  const std::string directory = storeDirectory();
  if (!makeDirectories(directory)) return kRegCantWrite;
  const std::string path = hivePath(root);
  const int lock = open((path + ".lock").c_str(), O_RDWR | O_CREAT | O_CLOEXEC, 0600);
  if (lock < 0) return kRegCantWrite;
  while (flock(lock, LOCK_EX) != 0) {
    if (errno != EINTR) {
      close(lock);
      return kRegCantWrite;
    }
  }
  Node hive;
  int32_t result = loadFile(root, path, hive) ? change(hive) : kRegCantRead;
  if (result == kRegOk && !storeFile(path, hive)) result = kRegCantWrite;
  close(lock);  // releases the flock
  return result;
}

}  // namespace tavro::platform::posixreg

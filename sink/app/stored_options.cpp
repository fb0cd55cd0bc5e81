#include "sink/app/stored_options.h"

#include <optional>

namespace tavro::sink {
namespace {

using Kind = os::StoredValue::Kind;

const char* kindName(Kind kind) {
  switch (kind) {
    case Kind::kNumber:
      return "a number";
    case Kind::kText:
      return "text";
    default:
      break;
  }
  return "neither a number (REG_DWORD) nor text (REG_SZ)";
}

class Merge {
 public:
  Merge(const os::StoredSettings& store, std::vector<std::string>& ignored)
      : store_(store), ignored_(ignored) {}

  // The stored number when it is in [low, high] and, if given, `fits` it.
  std::optional<uint32_t> number(const char* name, uint32_t low, uint32_t high,
                                 const char* expected, bool (*fits)(uint32_t) = nullptr) {
    const os::StoredValue value = store_.read(name);
    if (value.kind == Kind::kAbsent) return std::nullopt;
    if (value.kind != Kind::kNumber) {
      ignore(name, std::string("is ") + kindName(value.kind) + ", not a number", expected);
      return std::nullopt;
    }
    if (value.number < low || value.number > high || (fits != nullptr && !fits(value.number))) {
      ignore(name, "is " + std::to_string(value.number), expected);
      return std::nullopt;
    }
    note(std::string(name) + " " + std::to_string(value.number));
    return value.number;
  }

  std::optional<std::string> text(const char* name, const char* expected) {
    const os::StoredValue value = store_.read(name);
    if (value.kind == Kind::kAbsent) return std::nullopt;
    if (value.kind != Kind::kText) {
      ignore(name, std::string("is ") + kindName(value.kind) + ", not text", expected);
      return std::nullopt;
    }
    return value.text;
  }

  void ignore(const char* name, const std::string& why, const char* expected) {
    ignored_.push_back(std::string("ignoring the stored setting ") + name + ": it " + why +
                       ", where " + expected + " is wanted");
  }
  void note(const std::string& applied) { applied_ += (applied_.empty() ? "" : ", ") + applied; }
  const std::string& applied() const { return applied_; }

 private:
  const os::StoredSettings& store_;
  std::vector<std::string>& ignored_;
  std::string applied_;
};

bool isWordLength(uint32_t bits) { return bits == 16 || bits == 24 || bits == 32; }

std::optional<DsdOutput> dsdMode(const std::string& text) {
  if (text == "dop") return DsdOutput::kDop;
  if (text == "native") return DsdOutput::kNative;
  if (text == "auto") return DsdOutput::kAuto;
  return std::nullopt;
}

SinkOptions merge(const SinkOptions& given, const CommandLineChoices& chosen,
                  const os::StoredSettings& store, std::vector<std::string>& ignored,
                  std::string* applied) {
  SinkOptions options = given;
  Merge m(store, ignored);
  if (!chosen.device) {
    // An empty name is TAVRO Settings' "no device of its own": the sink's
    // own clock paces the stream, as without the setting.
    if (const auto device = m.text("Device", "a device name")) {
      if (!device->empty()) {
        options.device = *device;
        m.note("Device \"" + *device + "\"");
      }
    }
  }
  if (!chosen.transport) {
    if (const auto transport = m.number("Transport", 1, 2, "1 or 2"))
      options.transport = *transport;
  }
  if (!chosen.wordLength) {
    if (const auto bits = m.number("WordLength", 16, 32, "16, 24 or 32", isWordLength)) {
      options.wordLength = *bits;
    }
  }
  if (!chosen.bufferIndex) {
    if (const auto index = m.number("BufferIndex", 0, 9, "0 to 9")) options.bufferIndex = *index;
  }
  if (!chosen.bufferPackets) {
    if (const auto packets = m.number("BufferPackets", 2, 32, "2 to 32")) {
      options.bufferPackets = *packets;
    }
  }
  if (!chosen.dsd) {
    if (const auto text = m.text("DsdMode", "dop, native or auto")) {
      if (const auto mode = dsdMode(*text)) {
        options.dsd = *mode;
        m.note("DsdMode " + *text);
      } else {
        m.ignore("DsdMode", "is \"" + *text + "\"", "dop, native or auto");
      }
    }
  }
  if (applied != nullptr) *applied = m.applied();
  return options;
}

}  // namespace

SinkOptions withStoredSettings(const SinkOptions& given, const CommandLineChoices& chosen,
                               const os::StoredSettings& store, std::vector<std::string>& ignored) {
  return merge(given, chosen, store, ignored, nullptr);
}

SinkOptions StoredOptions::next(const SinkOptions& given, const SinkPeer::LineSink& print) {
  std::vector<std::string> ignored;
  std::string applied;
  SinkOptions options = merge(given, chosen_, *store_, ignored, &applied);
  if (ignored != ignored_ && print) {
    for (const std::string& line : ignored) print(line);
  }
  if (applied != applied_ && print) {
    print(std::string("stored settings (") + os::kStoredSettingsPlace +
          "): " + (applied.empty() ? "none" : applied));
  }
  ignored_ = std::move(ignored);
  applied_ = std::move(applied);
  return options;
}

}  // namespace tavro::sink

#include "control/settings_reply.h"

#include <new>

namespace tavro::control {
namespace {

bool isWhiteSpace(char16_t unit) noexcept {
  return unit == u' ' || (unit >= u'\t' && unit <= u'\r');
}

// Reads the reply the way a wide scanf with "%s" and "%u" would, but keeps no
// copy of a word, so no word is too long.
class ReplyScanner {
 public:
  explicit ReplyScanner(std::u16string_view text) noexcept : text_(text) {}

  bool skipWord() noexcept {
    skipWhiteSpace();
    if (position_ == text_.size()) return false;
    while (position_ < text_.size() && !isWhiteSpace(text_[position_])) ++position_;
    return true;
  }

  bool readNumber(uint32_t& number) noexcept {
    skipWhiteSpace();
    size_t at = position_;
    bool negative = false;
    if (at < text_.size() && (text_[at] == u'+' || text_[at] == u'-')) {
      negative = text_[at] == u'-';
      ++at;
    }
    if (at == text_.size() || !isDigit(text_[at])) return false;
    uint32_t value = 0;
    while (at < text_.size() && isDigit(text_[at])) {
      value = value * 10u + static_cast<uint32_t>(text_[at] - u'0');
      ++at;
    }
    position_ = at;
    number = negative ? 0u - value : value;
    return true;
  }

 private:
  static bool isDigit(char16_t unit) noexcept { return unit >= u'0' && unit <= u'9'; }
  void skipWhiteSpace() noexcept {
    while (position_ < text_.size() && isWhiteSpace(text_[position_])) ++position_;
  }

  std::u16string_view text_;
  size_t position_ = 0;
};

void readFields(ReplyScanner& scanner, uint32_t& bufferSizeIndex,
                StreamerSettings& settings) noexcept {
  for (int word = 0; word < 5; ++word) {
    if (!scanner.skipWord()) return;
  }
  if (!scanner.readNumber(bufferSizeIndex)) return;
  uint32_t* const pairs[] = {&settings.transportMode, &settings.interfaceIndex,
                             &settings.wordLength,    &settings.sampleShift,
                             &settings.spareSetting,  &settings.invertPolarity,
                             &settings.driveMode};
  for (uint32_t* field : pairs) {
    if (!scanner.skipWord() || !scanner.readNumber(*field)) return;
  }
}

}  // namespace

void applySettingsReply(std::u16string_view text, uint32_t& bufferSizeIndex,
                        StreamerSettings& settings) noexcept {
  ReplyScanner scanner(text);
  readFields(scanner, bufferSizeIndex, settings);
  settings.invertPolarity = 0;
  if (bufferSizeIndex >= kBufferSizeIndexCount) bufferSizeIndex = kFallbackBufferSizeIndex;
}

bool applyInterfaceReply(std::u16string_view text, StreamerSettings& settings) noexcept {
  auto& names = settings.interfaces;
  names.clear();
  try {
    while (!text.empty()) {
      const size_t newline = text.find(u'\n');
      if (newline == std::u16string_view::npos) break;
      names.emplace_back(text.substr(0, newline));
      text.remove_prefix(newline + 1);
    }
  } catch (const std::bad_alloc&) {
    names.clear();
    return false;
  }
  if (settings.interfaceIndex >= names.size()) settings.interfaceIndex = 0;
  if (!names.empty() && names[settings.interfaceIndex].find(u"ASIO:") != std::u16string::npos) {
    settings.wordLength = 32;
  }
  return true;
}

}  // namespace tavro::control

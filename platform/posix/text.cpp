#include "platform/text.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

#include "platform/fault.h"

namespace tavro::platform {
namespace {

constexpr int32_t kEOutOfMemory = static_cast<int32_t>(0x8007000Eu);
constexpr int32_t kEPointer = static_cast<int32_t>(0x80004003u);

struct GuidBytes {
  uint32_t data1;
  uint16_t data2;
  uint16_t data3;
  uint8_t data4[8];
};
static_assert(sizeof(GuidBytes) == 16);

}  // namespace

void lowerCaseInPlace(char* text) noexcept {
  if (injected(Call::CharLowerA) || text == nullptr) return;
  for (; *text != '\0'; ++text) {
    if (*text >= 'A' && *text <= 'Z') *text = static_cast<char>(*text - 'A' + 'a');
  }
}

int32_t classIdToText(const void* clsid, char16_t** text) noexcept {
  if (text == nullptr || clsid == nullptr) return kEPointer;
  *text = nullptr;
  if (injected(Call::StringFromCLSID)) return kEOutOfMemory;
  GuidBytes id;
  std::memcpy(&id, clsid, sizeof id);
  char narrow[40];
  const int length =
      std::snprintf(narrow, sizeof narrow, "{%08X-%04X-%04X-%02X%02X-%02X%02X%02X%02X%02X%02X}",
                    id.data1, id.data2, id.data3, id.data4[0], id.data4[1], id.data4[2],
                    id.data4[3], id.data4[4], id.data4[5], id.data4[6], id.data4[7]);
  if (length != 38) return kEOutOfMemory;
  auto* wide = static_cast<char16_t*>(std::malloc((length + 1) * sizeof(char16_t)));
  if (wide == nullptr) return kEOutOfMemory;
  for (int i = 0; i <= length; ++i) wide[i] = static_cast<unsigned char>(narrow[i]);
  *text = wide;
  return 0;
}

void freeClassIdText(char16_t* text) noexcept { std::free(text); }

int32_t wideToAnsi(const char16_t* text, char* out, int32_t size) noexcept {
  if (injected(Call::WideCharToMultiByte) || text == nullptr || out == nullptr) return 0;
  for (int32_t i = 0; i < size; ++i) {
    const char16_t unit = text[i];
    out[i] = unit < 0x80 ? static_cast<char>(unit) : '?';
    if (unit == u'\0') return i + 1;
  }
  return 0;  // ERROR_INSUFFICIENT_BUFFER
}

}  // namespace tavro::platform

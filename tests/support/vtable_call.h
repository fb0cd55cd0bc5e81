#pragma once
// Calls an object's virtual slots by number, as code built by another
// compiler does, so that the slot order and the calling conventions of our
// declarations are checked against the binary interface, not against the
// same declarations compiled twice.
//
// 32-bit Windows: the call is made by hand the way Microsoft's compiler makes
// it. A member slot (thiscall) gets `this` in ECX; a COM slot (stdcall) gets it
// as the first stack argument and ECX holds garbage. Arguments are pushed
// right to left, the callee pops them, and the stack pointer is compared
// before and after. Elsewhere there is one convention, `this` comes first, and
// the call goes through a plain function pointer.
#include <array>
#include <cstddef>
#include <cstdint>
#include <cstring>
#include <type_traits>

namespace tavro::testing {

enum class SlotKind { kMember, kCom };

// Stack pointer after the call minus before it: a callee that pops less than
// it was given leaves it negative. Always 0 where nothing is checked.
template <typename R>
struct SlotCall {
  R value;
  std::ptrdiff_t stackDrift;
};
template <>
struct SlotCall<void> {
  std::ptrdiff_t stackDrift;
};

inline void* vtableSlot(const void* object, size_t slot) {
  return (*static_cast<void* const* const*>(object))[slot];
}

#if defined(_WIN32) && defined(__i386__)
inline constexpr bool kStackDriftIsChecked = true;

// Pushes `count` words so that words[0] lies lowest, loads ECX, calls
// `function`, and returns EAX with the stack drift in `*drift`.
uint32_t callWithStackWords(const void* function, uint32_t ecx, const uint32_t* words,
                            uint32_t count, std::ptrdiff_t* drift);

template <typename R, typename... Args>
SlotCall<R> callSlot(SlotKind kind, void* object, size_t slot, Args... args) {
  static_assert(((sizeof(Args) % 4 == 0 && std::is_trivially_copyable_v<Args>)&&...));
  if constexpr (!std::is_void_v<R>) {
    static_assert(std::is_integral_v<R> && sizeof(R) <= 4, "only EAX is read back");
  }
  constexpr size_t kArgumentWords = (size_t{0} + ... + (sizeof(Args) / 4));
  std::array<uint32_t, kArgumentWords + 1> words{};
  size_t next = 0;
  if (kind == SlotKind::kCom) words[next++] = reinterpret_cast<uintptr_t>(object);
  [[maybe_unused]] auto pack = [&](const auto& argument) {
    std::memcpy(&words[next], &argument, sizeof argument);
    next += sizeof argument / 4;
  };
  (pack(args), ...);
  const uint32_t ecx = kind == SlotKind::kMember
                           ? static_cast<uint32_t>(reinterpret_cast<uintptr_t>(object))
                           : 0xBAADF00Du;
  std::ptrdiff_t drift = 0;
  const uint32_t eax = callWithStackWords(vtableSlot(object, slot), ecx, words.data(),
                                          static_cast<uint32_t>(next), &drift);
  if constexpr (std::is_void_v<R>) {
    return {drift};
  } else {
    return {static_cast<R>(eax), drift};
  }
}

#else
inline constexpr bool kStackDriftIsChecked = false;

template <typename R, typename... Args>
SlotCall<R> callSlot(SlotKind /*kind*/, void* object, size_t slot, Args... args) {
  using Function = R (*)(void*, Args...);
  const auto function = reinterpret_cast<Function>(vtableSlot(object, slot));
  if constexpr (std::is_void_v<R>) {
    function(object, args...);
    return {0};
  } else {
    return {function(object, args...), 0};
  }
}
#endif

}  // namespace tavro::testing

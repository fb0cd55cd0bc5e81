#include "support/vtable_call.h"

#if defined(_WIN32) && defined(__i386__)

namespace tavro::testing {

// noipa: the caller must not assume anything about which registers this
// function leaves alone beyond what the convention promises.
__attribute__((noipa)) uint32_t callWithStackWords(const void* function, uint32_t ecx,
                                                   const uint32_t* words, uint32_t count,
                                                   std::ptrdiff_t* drift) {
  uint32_t eax = reinterpret_cast<uintptr_t>(function);
  uint32_t edx = count;
  // ESI keeps the stack pointer across the call; the callee must preserve it,
  // like EBX, EDI and EBP. ESP is put back afterwards whatever the callee did,
  // so that a wrong convention fails the test instead of crashing it.
  __asm__ volatile(
      "movl %%esp, %%esi\n\t"
      "testl %%edx, %%edx\n\t"
      "jz 2f\n"
      "1:\n\t"
      "pushl -4(%%edi,%%edx,4)\n\t"
      "decl %%edx\n\t"
      "jnz 1b\n"
      "2:\n\t"
      "call *%%eax\n\t"
      "movl %%esp, %%edx\n\t"
      "subl %%esi, %%edx\n\t"
      "movl %%esi, %%esp\n\t"
      : "+a"(eax), "+d"(edx), "+c"(ecx)
      : "D"(words)
      : "esi", "memory", "cc");
  *drift = static_cast<int32_t>(edx);
  return eax;
}

}  // namespace tavro::testing

#endif

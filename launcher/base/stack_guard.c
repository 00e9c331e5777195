/* The stack protector's support code, in place of libssp's. libssp draws the
 * canary from CryptAcquireContextA and CryptGenRandom, which load a whole
 * cryptographic provider at every process start (about 30 ms under Wine, a
 * DLL load and its registry look-ups on Windows). RtlGenRandom gives the
 * same cryptographic randomness without one. Defining every symbol libssp's
 * ssp.o defines keeps the linker from taking that member at all. */
#include <windows.h>


/* Read by every protected function's prologue and epilogue. */
void *__stack_chk_guard = 0;

/* RtlGenRandom's exported name. */
BOOLEAN WINAPI SystemFunction036(PVOID buffer, ULONG length);

/* Runs before any protected function of the program. It must carry no
 * canary of its own: the one it read on entry would not match on return. */
static void __attribute__((constructor, no_stack_protector)) SetUpStackGuard(void) {
  void *guard = 0;
  if (!SystemFunction036(&guard, sizeof guard) || guard == 0) {
    /* Never a zero canary: the address of a local and the counters differ
     * from run to run even so. */
    LARGE_INTEGER counter;
    QueryPerformanceCounter(&counter);
    guard = (void *)((UINT_PTR)counter.QuadPart ^ (UINT_PTR)GetCurrentProcessId() << 16 ^
                     (UINT_PTR)&counter ^ 0x2B992DDFu);
  }
  __stack_chk_guard = guard;
}

/* A smashed canary or an overrun that a checked call caught: the process
 * ends at once, as Windows' own /GS check ends it. */
void __attribute__((noreturn)) __stack_chk_fail(void) {
  TerminateProcess(GetCurrentProcess(), STATUS_STACK_BUFFER_OVERRUN);
  for (;;) {
  }
}

void __attribute__((noreturn)) __chk_fail(void) { __stack_chk_fail(); }

void __attribute__((noreturn)) __stack_chk_fail_local(void) { __stack_chk_fail(); }

// What a stack buffer overrun that a protected function detects does: the linker hands every call
// of libssp's __stack_chk_fail here (--wrap), while libssp keeps the guard and seeds it at start.
// libssp's own routine ends in a trap, an illegal-instruction exception that a handler in the
// process could intercept and error reporting takes for a crash; this ends the process at once as
// Visual C++'s /GS does, with __fastfail(FAST_FAIL_STACK_COOKIE_CHECK_FAILURE): status
// 0xC0000409, which no handler in the process sees and which error reporting and security tools
// know as a stack buffer overrun. Nothing is printed, written or undone on the way.

namespace {

// FAST_FAIL_STACK_COOKIE_CHECK_FAILURE
constexpr unsigned kFastFailStackCookieCheckFailure = 2;

}  // namespace

// Its name is the linker's: --wrap=__stack_chk_fail sends calls to __wrap___stack_chk_fail.
extern "C" [[noreturn]] void __wrap___stack_chk_fail() {
  // __fastfail: mingw-w64 10 has no intrinsic for it, but it is one instruction, the code in ECX.
  asm volatile("int $0x29" : : "c"(kFastFailStackCookieCheckFailure) : "memory");
  __builtin_unreachable();
}

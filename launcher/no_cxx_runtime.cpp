// orvane.exe is linked without the C++ runtime library, which would make it thirty times its
// size. The few pieces of it that the standard containers' inline code still calls are here,
// on the C runtime that every Windows has. Failures that would have thrown end the process, as
// an exception escaping the launcher would have.
#include <cstdarg>
#include <cstdlib>
#include <new>

void* operator new(std::size_t size) {
  void* block = std::malloc(size != 0 ? size : 1);
  if (!block) std::abort();
  return block;
}
void operator delete(void* block) noexcept { std::free(block); }
void operator delete(void* block, std::size_t) noexcept { std::free(block); }

namespace std {
void __throw_bad_alloc() { std::abort(); }
void __throw_bad_array_new_length() { std::abort(); }
void __throw_length_error(const char*) { std::abort(); }
void __throw_logic_error(const char*) { std::abort(); }
void __throw_out_of_range_fmt(const char*, ...) { std::abort(); }
}  // namespace std

// The C++ runtime's default answer to an exception that nothing catches prints the exception's
// type, demangled, to the standard error before it aborts. The library runs in a windowed
// program, which has no standard error to print to, and the demangler it needs would be a tenth
// of the library. This handler aborts alone, as the runtime's does after its message.
#include <cstdlib>

namespace __gnu_cxx {
void __verbose_terminate_handler() { std::abort(); }
}  // namespace __gnu_cxx

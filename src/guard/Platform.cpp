#include "guard/Platform.h"

#include <sys/utsname.h>

namespace busweave {

int OSPlatform() {
  // The answer cannot change while the process runs.
  static const int platform = [] {
    utsname name{};
    return ::uname(&name) == 0 ? 2 : 0;
  }();
  return platform;
}

}  // namespace busweave

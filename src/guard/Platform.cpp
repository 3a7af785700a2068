#include "guard/Platform.h"

#include <sys/utsname.h>

namespace busweave {

TPlatform OSPlatform() {
  // The answer cannot change while the process runs.
  static const TPlatform platform = [] {
    utsname name{};
    return ::uname(&name) == 0 ? TPlatform::MultiUser : TPlatform::Unknown;
  }();
  return platform;
}

}  // namespace busweave

#pragma once

namespace busweave {

// Without XDG_RUNTIME_DIR (cron, CI, sudo) Qt warns on standard error and then uses
// "runtime-USER" in the temporary folder. This makes that same folder (private to the user) and
// names it in XDG_RUNTIME_DIR, so every start finds the same lock and no warning breaks the
// one-line messages. A folder that is not the user's own is left alone. Call it before the
// application object is made; false when XDG_RUNTIME_DIR stays unset.
bool ProvideRuntimeFolder();

}  // namespace busweave

#pragma once

// The platform the program runs on, as the start-up sequence and the hint colour need it.

namespace busweave {

// 2 (a multi-user system: the single-instance guard runs, hints take the system colour) when
// the kernel answers the platform query; 0 when the query fails.
int OSPlatform();

}  // namespace busweave

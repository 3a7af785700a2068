#pragma once

// The platform the program runs on, as the start-up sequence and the hint colour need it.

namespace busweave {

// What the platform query tells of the system; the values are those the query has always given.
enum class TPlatform : int {
  Unknown = 0,    // the query failed: no single-instance guard, hints are yellow
  MultiUser = 2,  // the single-instance guard runs, hints take the system colour
};

// MultiUser when the kernel answers the platform query, Unknown when the query fails.
TPlatform OSPlatform();

}  // namespace busweave

// The admin daemon's run function, the same in service and console mode.
#pragma once

namespace trivane {

// Opens the trace file, serves the daemon's pipe until the service
// framework reports a stop request, tears down and returns 1.
int service(int argc, char** argv);

}  // namespace trivane

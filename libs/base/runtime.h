// Builds the process-wide objects (the console first) before any static
// object of a file that includes this header, and tears them down after the
// last such object is gone.
#pragma once

namespace trivane::detail {

struct RuntimeInit {
    RuntimeInit();
    ~RuntimeInit();
    RuntimeInit(const RuntimeInit&) = delete;
    RuntimeInit& operator=(const RuntimeInit&) = delete;
};

static RuntimeInit s_runtimeInit;

}  // namespace trivane::detail

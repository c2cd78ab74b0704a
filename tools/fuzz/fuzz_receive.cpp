// libFuzzer target: raw bytes from the serial line through the receive buffer.
// The first bytes of an input choose how it is cut into arrivals.

#include "tools/fuzz/receive_harness.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    ReceiveHarness::run(data, size);
    return 0;
}

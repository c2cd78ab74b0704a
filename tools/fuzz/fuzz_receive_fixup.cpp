// libFuzzer target: like fuzz_receive, but the input is first patched so that
// it holds many frames whose checksum holds. Random bytes almost never carry a
// correct checksum, so without this the scanner's accepting side would hardly
// be reached.
//
// Input: control bytes (arrival sizes, see receive_harness.h), then the
// stream. Bit 0 of the first control byte picks the patching:
//   0: every header 0x55 that has a trailer 0xAA 19 bytes on gets its
//      checksum byte put right;
//   1: every 0x55 is made the start of a frame (trailer and checksum
//      written), so frames overlap and hide inside each other.
// In both modes a candidate whose checksum byte is below 0x20 is left alone,
// so that false candidates (header and trailer, wrong checksum) stay in the
// mix, with real frames starting inside them.
// The patching runs front to back, so a later frame may overwrite the tail
// of an earlier one; either way the harness checks the scanner against a
// plain scan of the patched bytes.

#include "tools/fuzz/receive_harness.h"

#include <vector>

namespace {

void patch(unsigned char *p, size_t size, bool plantTrailers)
{
    for (size_t i = 0; i + 20 <= size; ++i) {
        if (p[i] != 0x55)
            continue;
        if (p[i + 19] != 0xAA) {
            if (!plantTrailers)
                continue;
            p[i + 19] = 0xAA;
        }
        if (p[i + 18] < 0x20)
            continue;
        unsigned sum = 0;
        for (size_t k = 1; k <= 17; ++k)
            sum += p[i + k];
        p[i + 18] = static_cast<unsigned char>(sum & 0xFF);
    }
}

} // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    std::vector<unsigned char> input(data, data + size);
    const size_t control = std::min(size, ReceiveHarness::ControlSize);
    const bool plantTrailers = size > 0 && (data[0] & 1) != 0;
    patch(input.data() + control, size - control, plantTrailers);
    ReceiveHarness::run(input.data(), input.size());
    return 0;
}

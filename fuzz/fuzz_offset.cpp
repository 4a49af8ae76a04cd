// The offset update mode's conversion and arithmetic.
//
// Input: six MAC bytes, four bytes of a raw 32-bit offset (big-endian),
// then the offset text as it follows "U=" (NUL-terminated copy).
// Checked, besides ASan/UBSan:
// - ParseOffset accepts exactly the texts whose strtol(text, 0) value lies
//   in 1..0xFFFFF, and yields that value;
// - AddOffsetToMac, for the parsed offset and for the raw 32-bit one, keeps
//   bytes 0 and 1 and gives bytes 2..5 = (bytes 2..5 of the MAC as one
//   big-endian number) + offset, computed in 64 bits; it refuses exactly
//   the sums that do not fit in 32 bits and then leaves the output alone.
#include <cerrno>
#include <climits>
#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "fuzz_support.h"
#include "run/update_mode.h"

static void CheckSum(const uint8_t mac[6], uint32_t offset)
{
    uint8_t out[6];
    memset(out, 0x5A, sizeof(out));
    int rc = AddOffsetToMac(mac, offset, out);

    uint64_t low = (uint64_t{mac[2]} << 24) | (uint64_t{mac[3]} << 16) | (uint64_t{mac[4]} << 8) |
                   uint64_t{mac[5]};
    uint64_t sum = low + offset;
    if (sum > 0xFFFFFFFFull) {
        FUZZ_CHECK(rc == 1);
        for (uint8_t b : out)
            FUZZ_CHECK(b == 0x5A);
        return;
    }
    FUZZ_CHECK(rc == 0);
    FUZZ_CHECK(out[0] == mac[0] && out[1] == mac[1]);
    uint64_t got = (uint64_t{out[2]} << 24) | (uint64_t{out[3]} << 16) | (uint64_t{out[4]} << 8) |
                   uint64_t{out[5]};
    FUZZ_CHECK(got == sum);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    if (size < 10)
        return 0;
    const uint8_t *mac = data;
    uint32_t raw = (uint32_t{data[6]} << 24) | (uint32_t{data[7]} << 16) |
                   (uint32_t{data[8]} << 8) | uint32_t{data[9]};
    size_t text_len = size - 10;
    char *text = new char[text_len + 1];
    memcpy(text, data + 10, text_len);
    text[text_len] = '\0';

    uint32_t offset = 0xDEADBEEF;
    int rc = ParseOffset(text, &offset);
    long value = strtol(text, nullptr, 0);
    bool in_range = value >= 1 && value <= static_cast<long>(kMaxOffset);
    FUZZ_CHECK(rc == (in_range ? 0 : 1));
    if (rc == 0) {
        FUZZ_CHECK(offset == static_cast<uint32_t>(value));
        CheckSum(mac, offset);
    } else {
        FUZZ_CHECK(offset == 0xDEADBEEF);
    }
    CheckSum(mac, raw);

    delete[] text;
    return 0;
}

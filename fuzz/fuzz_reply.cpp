// The runner's reply parsing: any bytes as the last line the tool printed.
//
// ParseReplyLine is run on a NUL-terminated copy of the input (a line read
// by fgets holds no NUL of its own before its end; an embedded NUL simply
// ends the text early, as it does in the runner). Checked:
// - nothing is read or written outside the line and ResponseData (ASan);
// - at most kResponseSize values are stored, each 0..255, and the entries
//   behind the stored ones keep their earlier values;
// - the values are those of the token rule: blanks separate, every other
//   character starts a two-character token read as hexadecimal behind "0x",
//   and the character behind a token is passed over.
#include <cstdint>
#include <cstring>
#include <vector>

#include "fuzz_support.h"
#include "transport/execmd.h"

FUZZ_ORACLE static int HexValue(unsigned char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// The token rule written out independently of the runner.
FUZZ_ORACLE static std::vector<int> ExpectedValues(const char *line)
{
    std::vector<int> values;
    size_t n = strlen(line);
    size_t i = 0;
    while (i < n && values.size() < kResponseSize) {
        if (line[i] == ' ') {
            i++;
            continue;
        }
        int high = HexValue(static_cast<unsigned char>(line[i]));
        int low = i + 1 < n ? HexValue(static_cast<unsigned char>(line[i + 1])) : -1;
        values.push_back(high < 0 ? 0 : low < 0 ? high : high * 16 + low);
        i += 3;  // the token's two characters and the one passed over
    }
    return values;
}

FUZZ_ORACLE static void Check(const char *line, size_t stored, int untouched)
{
    std::vector<int> expected = ExpectedValues(line);
    FUZZ_CHECK(stored == expected.size());
    for (size_t k = 0; k < stored; k++) {
        FUZZ_CHECK(ResponseData[k] >= 0 && ResponseData[k] <= 255);
        FUZZ_CHECK(ResponseData[k] == expected[k]);
    }
    for (size_t k = stored; k < kResponseSize; k++)
        FUZZ_CHECK(ResponseData[k] == untouched);
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    // An exact-size heap copy, so that ASan sees any read behind the NUL.
    char *line = new char[size + 1];
    memcpy(line, data, size);
    line[size] = '\0';

    const int kUntouched = -1;
    for (size_t k = 0; k < kResponseSize; k++)
        ResponseData[k] = kUntouched;

    size_t stored = ParseReplyLine(line);
    FUZZ_CHECK(stored <= kResponseSize);

    Check(line, stored, kUntouched);

    delete[] line;
    return 0;
}

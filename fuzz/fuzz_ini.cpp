// The INI loader: any bytes as "TALVEK.ini".
//
// The input is written to TALVEK.ini in a private working directory and
// loaded with GetSetingFromIni, exactly as a run loads it. Checked:
// - nothing is read or written outside the line buffer and the table (ASan),
//   nothing leaks (LSan);
// - the load succeeds and holds at most kMaxAvailabelMac entries;
// - the entries are exactly those of the file format: lines end at "\n" or
//   NUL and keep their first 255 characters, ";" first makes a comment, and
//   a line yields an entry when the first "AVL_MASK=" and the first
//   "AVL_VALUE=" in it are each followed by 12 hexadecimal digits.
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TALVEK.h"
#include "fuzz_support.h"
#include "sources/ini.h"

namespace {

struct Entry {
    uint8_t mask[6];
    uint8_t value[6];
};

FUZZ_ORACLE int Nibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

FUZZ_ORACLE bool KeyBytes(const std::string &line, const std::string &key, uint8_t out[6])
{
    size_t at = line.find(key);
    if (at == std::string::npos)
        return false;
    std::string digits = line.substr(at + key.size(), 12);
    if (digits.size() < 12)
        return false;
    for (int k = 0; k < 6; k++) {
        int hi = Nibble(digits[2 * k]), lo = Nibble(digits[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return false;
        out[k] = static_cast<uint8_t>(hi * 16 + lo);
    }
    return true;
}

FUZZ_ORACLE std::vector<Entry> ExpectedEntries(const uint8_t *data, size_t size)
{
    std::vector<std::string> lines(1);
    for (size_t i = 0; i < size; i++) {
        char c = static_cast<char>(data[i]);
        if (c == '\n' || c == '\0')
            lines.emplace_back();
        else if (lines.back().size() < static_cast<size_t>(kIniLineSize - 1))
            lines.back().push_back(c);
    }
    std::vector<Entry> entries;
    for (const std::string &line : lines) {
        if (line.empty() || line[0] == ';')
            continue;
        Entry e;
        if (KeyBytes(line, "AVL_MASK=", e.mask) && KeyBytes(line, "AVL_VALUE=", e.value) &&
            entries.size() < static_cast<size_t>(kMaxAvailabelMac))
            entries.push_back(e);
    }
    return entries;
}

TALVEK_DATA g_data;

FUZZ_ORACLE void Check(const uint8_t *data, size_t size, const TALVEK_DATA &d)
{
    std::vector<Entry> expected = ExpectedEntries(data, size);
    FUZZ_CHECK(static_cast<size_t>(d.AvailabelMacCount) == expected.size());
    for (size_t e = 0; e < expected.size(); e++) {
        FUZZ_CHECK(memcmp(d.AvailabelMac[e].Mask, expected[e].mask, 6) == 0);
        FUZZ_CHECK(memcmp(d.AvailabelMac[e].Value, expected[e].value, 6) == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::EnterScratchDirAndSilence();
    return 0;
}

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    fuzz::WriteFile("TALVEK.ini", data, size);
    memset(&g_data, 0xA5, sizeof(g_data));

    FUZZ_CHECK(GetSetingFromIni(&g_data) == 0);
    FUZZ_CHECK(g_data.AvailabelMacCount >= 0 && g_data.AvailabelMacCount <= kMaxAvailabelMac);

    Check(data, size, g_data);
    fflush(stdout);
    return 0;
}

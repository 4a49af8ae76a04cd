// Argument parsing together with the data files: any argv and any content
// of "TALVEK1.DAT" and "TALVEK2.DAT".
//
// Input layout (so that seeds can be written by hand):
//   byte 0      bit 0: TALVEK1.DAT exists, bit 1: TALVEK2.DAT exists
//   byte 1, 2   lengths of the two files' contents
//   then        TALVEK1.DAT's bytes, TALVEK2.DAT's bytes (cut to what is there)
//   the rest    the arguments after the program name, separated by NUL
//               bytes (a NUL at the very end closes the last one; nothing
//               left means no arguments); at most 64.
//
// GetDataFromParameter runs on a zero-initialised record, as the driver
// calls it. Checked, besides ASan/UBSan/LSan:
// - it fails exactly when a data-file import was asked for ("T" as argument
//   2 of 2 or argument 3 of 3) and a needed file is missing or does not
//   begin with 12 hexadecimal digits;
// - after success, the record invariants: MacParam agrees with ProgramMac;
//   GetMacFromKb[p] implies ProgramMac[p] and not MacIsImported[p];
//   ProgramMac[p] exactly when some argument begins with the position's
//   digit; every flag is 0 or 1; the settle time is 3 or 70;
//   ReadbackAndCheck and DelayAfterMacProgramming are 1; ShowUsage only
//   without arguments;
// - no MAC out of thin air: an imported MAC is the conversion of a MAC
//   assignment for its position or of its data file's text; a position
//   not imported holds 00-00-00-00-00-00.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <string>
#include <vector>

#include "TALVEK.h"
#include "fuzz_support.h"
#include "run/parameters.h"

namespace {

TALVEK_DATA g_data;

FUZZ_ORACLE bool IsHex(char c)
{
    return (c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F');
}

FUZZ_ORACLE bool Starts12Hex(const std::string &s)
{
    if (s.size() < 12)
        return false;
    for (int i = 0; i < 12; i++) {
        if (!IsHex(s[i]))
            return false;
    }
    return true;
}

FUZZ_ORACLE int Nibble(char c)
{
    return c <= '9' ? c - '0' : (c | 0x20) - 'a' + 10;
}

// Twelve hexadecimal digits to six bytes.
FUZZ_ORACLE std::vector<uint8_t> Convert(const std::string &digits)
{
    std::vector<uint8_t> mac(6);
    for (int k = 0; k < 6; k++)
        mac[k] = static_cast<uint8_t>(Nibble(digits[2 * k]) * 16 + Nibble(digits[2 * k + 1]));
    return mac;
}

FUZZ_ORACLE bool IsFlag(int32_t v)
{
    return v == 0 || v == 1;
}

}  // namespace

extern "C" int LLVMFuzzerInitialize(int *, char ***)
{
    fuzz::EnterScratchDirAndSilence();
    return 0;
}

namespace {

struct Case {
    bool have[2] = {false, false};  // which data files exist
    std::string dat[2];             // their contents
    std::vector<std::string> args;  // argv[1..]
};

FUZZ_ORACLE bool Decode(const uint8_t *data, size_t size, Case *c)
{
    if (size < 3)
        return false;
    c->have[0] = (data[0] & 1) != 0;
    c->have[1] = (data[0] & 2) != 0;
    size_t pos = 3;
    for (int f = 0; f < 2; f++) {
        size_t len = std::min<size_t>(data[1 + f], size - pos);
        c->dat[f].assign(reinterpret_cast<const char *>(data + pos), len);
        pos += len;
    }
    if (pos == size)
        return true;
    std::string rest(reinterpret_cast<const char *>(data + pos), size - pos);
    if (rest.back() == '\0')
        rest.pop_back();
    size_t start = 0;
    for (;;) {
        size_t nul = rest.find('\0', start);
        c->args.push_back(rest.substr(start, nul == std::string::npos ? nul : nul - start));
        if (nul == std::string::npos || c->args.size() == 64)
            break;
        start = nul + 1;
    }
    return true;
}

FUZZ_ORACLE void Check(const Case &c, int rc, const TALVEK_DATA &d)
{
    // seen[i] is argv[i] as the parser sees it; seen[0] the program name.
    std::vector<std::string> seen = {"TALVEK"};
    seen.insert(seen.end(), c.args.begin(), c.args.end());
    const int op = static_cast<int>(seen.size());

    // Which files the import needs, and whether they are usable.
    int files_needed = 0;
    if (op == 3 && (seen[2] == "T" || seen[2] == "t"))
        files_needed = 1;
    else if (op == 4 && (seen[3] == "T" || seen[3] == "t"))
        files_needed = 2;
    bool import_fails = false;
    for (int f = 0; f < files_needed; f++)
        import_fails |= !c.have[f] || !Starts12Hex(c.dat[f]);

    FUZZ_CHECK(rc == 0 || rc == 1);
    FUZZ_CHECK((rc == 1) == import_fails);
    if (rc != 0)
        return;

    const int32_t mp = d.FastSetGetMacOemCmd.MacParam;
    FUZZ_CHECK(IsFlag(d.ProgramMac[0]) && IsFlag(d.ProgramMac[1]));
    FUZZ_CHECK(mp == (d.ProgramMac[0] && d.ProgramMac[1] ? kMacParamBoth
                      : d.ProgramMac[0]                  ? kMacParamEth0
                      : d.ProgramMac[1]                  ? kMacParamEth1
                                                         : kMacParamNone));
    for (int p = 0; p < kMacPositions; p++) {
        FUZZ_CHECK(IsFlag(d.GetMacFromKb[p]) && IsFlag(d.MacIsImported[p]));
        if (d.GetMacFromKb[p])
            FUZZ_CHECK(d.ProgramMac[p] == 1 && d.MacIsImported[p] == 0);
        bool named = false;
        for (int i = 1; i < op; i++)
            named |= !seen[i].empty() && seen[i][0] == static_cast<char>('1' + p);
        FUZZ_CHECK(d.ProgramMac[p] == (named ? 1 : 0));

        std::vector<uint8_t> mac(d.Mac[p], d.Mac[p] + 6);
        if (!d.MacIsImported[p]) {
            FUZZ_CHECK(mac == std::vector<uint8_t>(6, 0));
            continue;
        }
        bool from_source = files_needed > p && Starts12Hex(c.dat[p]) && Convert(c.dat[p]) == mac;
        for (int i = 1; i < op && !from_source; i++) {
            const std::string &a = seen[i];
            from_source = a.size() >= 14 && a[0] == static_cast<char>('1' + p) && a[1] == '=' &&
                          Starts12Hex(a.substr(2)) && Convert(a.substr(2)) == mac;
        }
        FUZZ_CHECK(from_source);
    }
    FUZZ_CHECK(d.ReadbackAndCheck == 1 && d.DelayAfterMacProgramming == 1);
    FUZZ_CHECK(d.ShowUsage == (op == 1 ? 1 : 0));
    FUZZ_CHECK(d.SecondDelayTimeAfterMacProgramming == 3 ||
               d.SecondDelayTimeAfterMacProgramming == 70);
    FUZZ_CHECK(IsFlag(d.BMCReboot) && IsFlag(d.CheckMacOrder) && IsFlag(d.WriteDelay) &&
               IsFlag(d.NeedFailLog));
    if (d.BMCReboot)
        FUZZ_CHECK(d.SecondDelayTimeAfterMacProgramming == 70);
    FUZZ_CHECK(d.CheckMacOrder == (op >= 4 && seen[3] == "V" ? 1 : 0));
    FUZZ_CHECK(d.AvailabelMacCount == 0);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t *data, size_t size)
{
    Case c;
    if (!Decode(data, size, &c))
        return 0;
    const char *names[2] = {"TALVEK1.DAT", "TALVEK2.DAT"};
    for (int f = 0; f < 2; f++) {
        if (c.have[f])
            fuzz::WriteFile(names[f], reinterpret_cast<const uint8_t *>(c.dat[f].data()),
                            c.dat[f].size());
        else
            unlink(names[f]);
    }
    // Each argument in its own exact-size allocation, as ASan should see it.
    std::vector<char *> argv;
    argv.push_back(strdup("TALVEK"));
    for (const std::string &a : c.args)
        argv.push_back(strdup(a.c_str()));
    const int op = static_cast<int>(argv.size());
    argv.push_back(nullptr);

    memset(&g_data, 0, sizeof(g_data));
    int rc = GetDataFromParameter(op, argv.data(), &g_data);
    Check(c, rc, g_data);

    for (char *a : argv)
        free(a);
    return 0;
}

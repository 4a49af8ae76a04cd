// OEM extension module for OpenIPMI's BMC simulator (ipmi_sim).
//
// It turns the stock simulator into a BMC that TALVEK can program:
//   NetFn 0x3a cmd 0xa1  Fast Get MAC  data: position (0 = eth0, 1 = eth1)
//                                       reply: the port's six MAC bytes
//   NetFn 0x3a cmd 0xa0  Fast Set MAC  data: position 0 or 1 and six MAC bytes,
//                                       or position 2 and twelve bytes
//                                       (eth0's six, then eth1's six)
//   NetFn 0x06 cmd 0x02  Cold Reset    answered with success (the stock
//                                       simulator refuses it with 0xC1)
//
// Loaded from the LAN config with
//   loadlib "/path/kovr_oem.so" "log=/path/requests.log"
// The options string may be empty ("").  With log=FILE every request the
// module answers is appended to FILE as one line, so a test can tell which
// requests reached the BMC (for instance that nothing was written).  With
// no_oem the MAC commands are left out, so that the simulator refuses them
// (0xC1) as the firmware of a board without them does.
//
// Two commands are added to the simulator's command-file language, so that
// a test can set up the board before the first request arrives:
//   kovr_mac <mc-addr> <position> <12 hex digits>   initial MAC of a port
//   kovr_aux_rev <mc-addr> <b0> <b1> <b2> <b3>      auxiliary firmware
//        revision bytes (Get Device ID reply bytes 11..14, b0 first)

#include <cerrno>
#include <cstdarg>
#include <cstdio>
#include <cstdlib>
#include <cstring>

// The OpenIPMI server headers carry no C++ linkage guard of their own.
extern "C" {
#include <OpenIPMI/ipmi_err.h>
#include <OpenIPMI/ipmi_msgbits.h>
#include <OpenIPMI/mcserv.h>
#include <OpenIPMI/serv.h>
}

namespace {

const unsigned char kOemNetFn = 0x3a;
const unsigned char kFastSetMacCmd = 0xa0;
const unsigned char kFastGetMacCmd = 0xa1;
const int kMacLen = 6;

// The MACs the simulated BMC holds, row 0 for eth0 and row 1 for eth1.
unsigned char gMac[2][kMacLen] = {
    {0x02, 0x00, 0x00, 0x00, 0x00, 0x01},
    {0x02, 0x00, 0x00, 0x00, 0x00, 0x02},
};

char gLogPath[1024];
bool gNoOem = false;

void LogRequest(const char *fmt, ...) __attribute__((format(printf, 1, 2)));

void LogRequest(const char *fmt, ...)
{
    if (gLogPath[0] == '\0')
        return;
    FILE *fp = fopen(gLogPath, "a");
    if (fp == nullptr)
        return;
    va_list ap;
    va_start(ap, fmt);
    vfprintf(fp, fmt, ap);
    va_end(ap);
    fputc('\n', fp);
    fclose(fp);
}

void FormatMac(const unsigned char *mac, char out[2 * kMacLen + 1])
{
    for (int k = 0; k < kMacLen; k++)
        snprintf(out + 2 * k, 3, "%02X", mac[k]);
}

int HexNibble(char c)
{
    if (c >= '0' && c <= '9')
        return c - '0';
    if (c >= 'a' && c <= 'f')
        return c - 'a' + 10;
    if (c >= 'A' && c <= 'F')
        return c - 'A' + 10;
    return -1;
}

// Twelve hex digits and nothing else -> six bytes. 0 on success, 1 otherwise.
int ParseMacText(const char *text, unsigned char mac[kMacLen])
{
    if (text == nullptr || strlen(text) != 2 * kMacLen)
        return 1;
    for (int k = 0; k < kMacLen; k++) {
        int hi = HexNibble(text[2 * k]);
        int lo = HexNibble(text[2 * k + 1]);
        if (hi < 0 || lo < 0)
            return 1;
        mac[k] = static_cast<unsigned char>(hi * 16 + lo);
    }
    return 0;
}

// A C-style number (0x.., 0.., decimal) of 0..max. 0 on success, 1 otherwise.
int ParseNumber(const char *text, unsigned long max, unsigned long *value)
{
    if (text == nullptr || *text == '\0')
        return 1;
    char *end = nullptr;
    errno = 0;
    unsigned long v = strtoul(text, &end, 0);
    if (errno != 0 || *end != '\0' || v > max || text[0] == '-')
        return 1;
    *value = v;
    return 0;
}

void FastGetMac(lmc_data_t *, msg_t *msg, unsigned char *rdata, unsigned int *rdata_len, void *)
{
    if (msg->len != 1) {
        LogRequest("get len=%u refused", msg->len);
        rdata[0] = IPMI_REQUEST_DATA_LENGTH_INVALID_CC;
        *rdata_len = 1;
        return;
    }
    unsigned int pos = msg->data[0];
    if (pos > 1) {
        LogRequest("get %u refused", pos);
        rdata[0] = IPMI_INVALID_DATA_FIELD_CC;
        *rdata_len = 1;
        return;
    }
    char text[2 * kMacLen + 1];
    FormatMac(gMac[pos], text);
    LogRequest("get %u %s", pos, text);
    rdata[0] = 0;
    memcpy(rdata + 1, gMac[pos], kMacLen);
    *rdata_len = 1 + kMacLen;
}

void FastSetMac(lmc_data_t *, msg_t *msg, unsigned char *rdata, unsigned int *rdata_len, void *)
{
    *rdata_len = 1;
    if (msg->len < 1) {
        LogRequest("set len=0 refused");
        rdata[0] = IPMI_REQUEST_DATA_LENGTH_INVALID_CC;
        return;
    }
    unsigned int pos = msg->data[0];
    if (pos > 2) {
        LogRequest("set %u refused", pos);
        rdata[0] = IPMI_INVALID_DATA_FIELD_CC;
        return;
    }
    unsigned int want = 1 + (pos == 2 ? 2 * kMacLen : kMacLen);
    if (msg->len != want) {
        LogRequest("set %u len=%u refused", pos, msg->len);
        rdata[0] = IPMI_REQUEST_DATA_LENGTH_INVALID_CC;
        return;
    }
    char text[2 * kMacLen + 1];
    if (pos == 2) {
        memcpy(gMac[0], msg->data + 1, kMacLen);
        memcpy(gMac[1], msg->data + 1 + kMacLen, kMacLen);
        char text1[2 * kMacLen + 1];
        FormatMac(gMac[0], text);
        FormatMac(gMac[1], text1);
        LogRequest("set 2 %s %s", text, text1);
    } else {
        memcpy(gMac[pos], msg->data + 1, kMacLen);
        FormatMac(gMac[pos], text);
        LogRequest("set %u %s", pos, text);
    }
    rdata[0] = 0;
}

void ColdReset(lmc_data_t *, msg_t *, unsigned char *rdata, unsigned int *rdata_len, void *)
{
    LogRequest("cold_reset");
    rdata[0] = 0;
    *rdata_len = 1;
}

// kovr_mac <mc-addr> <position> <12 hex digits>
int CmdSetMac(emu_out_t *out, emu_data_t *, lmc_data_t *, char **toks)
{
    const char *pos_text = mystrtok(nullptr, " \t\n", toks);
    const char *mac_text = mystrtok(nullptr, " \t\n", toks);
    unsigned long pos;
    unsigned char mac[kMacLen];
    if (ParseNumber(pos_text, 1, &pos) != 0) {
        out->eprintf(out, (char *)"kovr_mac: position must be 0 or 1\n");
        return EINVAL;
    }
    if (ParseMacText(mac_text, mac) != 0) {
        out->eprintf(out, (char *)"kovr_mac: MAC must be 12 hex digits\n");
        return EINVAL;
    }
    memcpy(gMac[pos], mac, kMacLen);
    return 0;
}

// kovr_aux_rev <mc-addr> <b0> <b1> <b2> <b3>
int CmdSetAuxRev(emu_out_t *out, emu_data_t *, lmc_data_t *mc, char **toks)
{
    unsigned char aux[4];
    for (int k = 0; k < 4; k++) {
        unsigned long v;
        if (ParseNumber(mystrtok(nullptr, " \t\n", toks), 0xff, &v) != 0) {
            out->eprintf(out, (char *)"kovr_aux_rev: four bytes expected\n");
            return EINVAL;
        }
        aux[k] = static_cast<unsigned char>(v);
    }
    ipmi_mc_set_aux_fw_revision(mc, aux);
    return 0;
}

// Options: blank-separated words "log=FILE" and "no_oem".
int ParseOptions(const char *options)
{
    if (options == nullptr)
        return 0;
    const char *p = options;
    while (*p != '\0') {
        while (*p == ' ' || *p == '\t')
            p++;
        const char *start = p;
        while (*p != '\0' && *p != ' ' && *p != '\t')
            p++;
        size_t len = static_cast<size_t>(p - start);
        if (len == 0)
            break;
        if (len > 4 && strncmp(start, "log=", 4) == 0) {
            if (len - 4 >= sizeof(gLogPath))
                return ENAMETOOLONG;
            memcpy(gLogPath, start + 4, len - 4);
            gLogPath[len - 4] = '\0';
        } else if (len == 6 && strncmp(start, "no_oem", 6) == 0) {
            gNoOem = true;
        } else {
            return EINVAL;
        }
    }
    return 0;
}

}  // namespace

extern "C" {

int ipmi_sim_module_print_version(sys_data_t *, char *)
{
    printf("kovr_oem module: Fast Get/Set MAC (NetFn 0x3a), Cold Reset\n");
    return 0;
}

int ipmi_sim_module_init(sys_data_t *sys, const char *options)
{
    int rv = ParseOptions(options);
    if (rv != 0) {
        sys->log(sys, SETUP_ERROR, nullptr, "kovr_oem: bad options '%s' (known: log=FILE, no_oem)",
                 options);
        return rv;
    }
    if (!gNoOem)
        rv = ipmi_emu_register_cmd_handler(kOemNetFn, kFastGetMacCmd, FastGetMac, nullptr);
    if (rv == 0 && !gNoOem)
        rv = ipmi_emu_register_cmd_handler(kOemNetFn, kFastSetMacCmd, FastSetMac, nullptr);
    if (rv == 0)
        rv = ipmi_emu_register_cmd_handler(IPMI_APP_NETFN, IPMI_COLD_RESET_CMD, ColdReset, nullptr);
    if (rv == 0)
        rv = ipmi_emu_add_cmd("kovr_mac", MC, CmdSetMac);
    if (rv == 0)
        rv = ipmi_emu_add_cmd("kovr_aux_rev", MC, CmdSetAuxRev);
    if (rv != 0)
        sys->log(sys, SETUP_ERROR, nullptr, "kovr_oem: setup failed: %s", strerror(rv));
    return rv;
}

}  // extern "C"

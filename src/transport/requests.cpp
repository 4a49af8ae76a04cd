#include "transport/requests.h"

#include <cstdarg>
#include <cstdio>
#include <cstring>

#include "transport/execmd.h"

static const char kPrefix[] = "./kovripmi raw ";

void BuildFixedRequest(const char *args)
{
    snprintf(gCmd, sizeof(gCmd), "%s%s", kPrefix, args);
}

void BuildFormattedRequest(const char *format, ...)
{
    snprintf(gCmd, sizeof(gCmd), "%s", kPrefix);
    va_list ap;
    va_start(ap, format);
    vsnprintf(SNgCmd, sizeof(SNgCmd), format, ap);
    va_end(ap);
    strncat(gCmd, SNgCmd, sizeof(gCmd) - strlen(gCmd) - 1);
    memset(SNgCmd, 0, sizeof(SNgCmd));
}

void BuildGetDeviceId()
{
    BuildFixedRequest("0x06 0x01");
}

void BuildColdReset()
{
    BuildFixedRequest("0x06 0x02");
}

void BuildGetSystemGuid()
{
    BuildFixedRequest("0x06 0x37");
}

void BuildFastGetMacFixed(int position)
{
    BuildFixedRequest(position == 0 ? "0x3a 0xa1 0x00" : "0x3a 0xa1 0x01");
}

void BuildFastGetMac(int position)
{
    BuildFormattedRequest("0x3a 0xa1 %d", position);
}

void BuildFastSetMac(int position, const uint8_t mac[6])
{
    BuildFormattedRequest("0x3a 0xa0 %d %d %d %d %d %d %d", position, mac[0], mac[1], mac[2],
                          mac[3], mac[4], mac[5]);
}

void BuildFastSetMacFixed(int position, const uint8_t mac[6])
{
    BuildFormattedRequest(position == 0 ? "0x3a 0xa0 0x00 %d %d %d %d %d %d"
                                        : "0x3a 0xa0 0x01 %d %d %d %d %d %d",
                          mac[0], mac[1], mac[2], mac[3], mac[4], mac[5]);
}

void BuildFastSetMacBoth(const uint8_t mac0[6], const uint8_t mac1[6])
{
    BuildFormattedRequest("0x3a 0xa0 0x02 %d %d %d %d %d %d %d %d %d %d %d %d", mac0[0], mac0[1],
                          mac0[2], mac0[3], mac0[4], mac0[5], mac1[0], mac1[1], mac1[2], mac1[3],
                          mac1[4], mac1[5]);
}

void TakeReplyMac(uint8_t mac[6])
{
    for (int k = 0; k < 6; k++)
        mac[k] = static_cast<uint8_t>(ResponseData[k]);
}

int FastGetMac(int position, uint8_t mac[6])
{
    BuildFastGetMac(position);
    int rc = Execmd(gCmd);
    TakeReplyMac(mac);
    return rc;
}

int GetSystemGuid(uint8_t guid[16])
{
    BuildGetSystemGuid();
    size_t parsed = 0;
    if (Execmd(gCmd, &parsed) != 0 || parsed < 16)
        return 1;
    for (int k = 0; k < 16; k++)
        guid[k] = static_cast<uint8_t>(ResponseData[k]);
    return 0;
}

int ShowBmcVersion()
{
    BuildGetDeviceId();
    if (Execmd(gCmd) != 0) {
        puts("BMC Revision = ?.?.?\r");
        return 1;
    }
    unsigned major = static_cast<unsigned>(ResponseData[2]) & 0x7F;
    unsigned minor = static_cast<unsigned>(ResponseData[3]);
    uint32_t aux = static_cast<uint32_t>(ResponseData[11]) |
                   static_cast<uint32_t>(ResponseData[12]) << 8 |
                   static_cast<uint32_t>(ResponseData[13]) << 16 |
                   static_cast<uint32_t>(ResponseData[14]) << 24;
    printf("BMC Revision = %x.%x.%u\r\n", major, minor, static_cast<unsigned>(aux));
    return 0;
}

int ColdReset()
{
    puts("Cold Reset...\r");
    BuildColdReset();
    return Execmd(gCmd);
}

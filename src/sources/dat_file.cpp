#include "sources/dat_file.h"

#include <cstdio>

#include "mac.h"

// Reads the start of the first line: at most 12 characters, fewer when a
// line end comes first. A file that does not begin with 12 hexadecimal
// digits is refused: converting it anyway would burn a wrong MAC.
static int ReadOneDat(const char *name, char *text)
{
    FILE *fp = fopen(name, "r");
    if (fp == nullptr)
        return 1;
    if (fgets(text, kDatTextSize, fp) == nullptr)
        text[0] = '\0';
    fclose(fp);
    if (StrMacIsValid(text) != 0) {
        printf("Error! File %s does not hold a valid MAC.\n", name);
        return 2;
    }
    return 0;
}

int ReadDat_eth0(char *datmac1)
{
    return ReadOneDat("TALVEK1.DAT", datmac1);
}

int ReadDat(char *datmac1, char *datmac2)
{
    int rc = ReadOneDat("TALVEK1.DAT", datmac1);
    if (rc != 0)
        return rc;
    return ReadOneDat("TALVEK2.DAT", datmac2);
}

// MAC data files "TALVEK1.DAT" (eth0) and "TALVEK2.DAT" (eth1): the first
// 12 characters of each file are the MAC as hexadecimal digits.
#ifndef TALVEK_SOURCES_DAT_FILE_H
#define TALVEK_SOURCES_DAT_FILE_H

constexpr int kDatTextSize = 13;  // 12 digits and a terminator

// Read "TALVEK1.DAT" (and "TALVEK2.DAT") into 13-byte buffers. 0 on success;
// 1, silently, when a file cannot be opened (the second file is not tried
// after the first failed); 2 when a file does not start with 12 hexadecimal
// digits, after "Error! File %s does not hold a valid MAC.\n".
int ReadDat_eth0(char *datmac1);
int ReadDat(char *datmac1, char *datmac2);

#endif

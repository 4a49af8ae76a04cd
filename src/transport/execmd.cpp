#include "transport/execmd.h"

#include <cstdio>
#include <cstdlib>
#include <cstring>

char gCmd[kCmdSize];
char SNgCmd[kCmdSize];
int ResponseData[kResponseSize];
void (*RequestCheckpoint)() = nullptr;

// Standard error of the tool is discarded; the reply is its standard output.
static const char kSuffix[] = " 2>/dev/null";

size_t ParseReplyLine(const char *buf)
{
    size_t i = 0;
    size_t k = 0;
    char temp[5] = {'0', 'x', 0, 0, 0};

    // Blanks separate tokens; every other character starts a two-character
    // token whose second character may be anything (the newline behind the
    // last byte falls on the skipped position after a token).
    while (buf[i] != '\0' && k < kResponseSize) {
        if (buf[i] == ' ') {
            i++;
            continue;
        }
        temp[2] = buf[i];
        temp[3] = buf[i + 1];
        temp[4] = '\0';
        ResponseData[k++] = static_cast<int>(strtol(temp, nullptr, 16) & 0xFF);
        if (buf[i + 1] == '\0')
            break;
        i += 2;
        // The character behind the token is passed over unread, unless it
        // is the end of the text.
        if (buf[i] == '\0')
            break;
        i++;
    }
    return k;
}

int Execmd(char *cmd)
{
    if (RequestCheckpoint != nullptr)
        RequestCheckpoint();
    char buf[kReplyLineSize];
    memset(buf, 0, sizeof(buf));

    // Refuse a line that would not fit with its suffix rather than cut it.
    size_t len = strnlen(cmd, kCmdSize);
    if (len + sizeof(kSuffix) > kCmdSize)
        return 1;
    memcpy(cmd + len, kSuffix, sizeof(kSuffix));

    FILE *fp = popen(cmd, "r");
    if (fp == nullptr) {
        puts("Error opening pipe!");
        return 1;
    }
    // Only the last line counts: each line is read to the start of buf. A
    // line longer than the buffer arrives in pieces and the last piece counts.
    char line[kReplyLineSize];
    while (fgets(line, sizeof(line), fp) != nullptr)
        strcpy(buf, line);
    int status = pclose(fp);
    if (RequestCheckpoint != nullptr)
        RequestCheckpoint();
    if (status != 0)
        return 1;
    if (strncmp(buf, "Error", 5) == 0) {
        puts("Command execute error");
        return 1;
    }
    ParseReplyLine(buf);
    return 0;
}

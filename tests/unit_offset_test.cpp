// The offset update mode's arithmetic: the offset text and the sum of a
// MAC and an offset with its carries.
#include <gtest/gtest.h>

#include <cstdio>
#include <string>

#include "run/update_mode.h"

namespace {

TEST(Offset, TextIsConvertedWholeWithAutomaticBase)
{
    struct {
        const char *text;
        int result;
        uint32_t value;  // 77: left alone
    } rows[] = {
        {"16", 0, 16},
        {"0x10", 0, 16},
        {"0X10", 0, 16},
        {"020", 0, 16},
        {"5z", 0, 5},
        {" 7", 0, 7},
        {"+3", 0, 3},
        {"1", 0, 1},
        {"0x00001", 0, 1},
        {"0xfffff", 0, 0xFFFFF},
        {"1048575", 0, 0xFFFFF},
        {"0", 1, 77},
        {"-1", 1, 77},
        {"", 1, 77},
        {"z", 1, 77},
        {"0x", 1, 77},
        {"0x100000", 1, 77},
        {"1048576", 1, 77},
        // Values that would land in range if narrowed to 32 bits.
        {"0x100000001", 1, 77},
        {"4294967297", 1, 77},
        {"-4294967295", 1, 77},
        {"99999999999999999999999999", 1, 77},
        {"-99999999999999999999999999", 1, 77},
    };
    for (const auto &row : rows) {
        uint32_t value = 77;
        EXPECT_EQ(ParseOffset(row.text, &value), row.result) << '"' << row.text << '"';
        EXPECT_EQ(value, row.value) << '"' << row.text << '"';
    }
}

std::string Hex(const uint8_t m[6])
{
    char text[13];
    snprintf(text, sizeof(text), "%02X%02X%02X%02X%02X%02X", m[0], m[1], m[2], m[3], m[4], m[5]);
    return text;
}

TEST(Offset, SumCarriesThroughBytes5To2)
{
    struct {
        const char *mac;
        uint32_t offset;
        const char *sum;  // nullptr: overflow
    } rows[] = {
        {"02AB3C5601A1", 1, "02AB3C5601A2"},
        {"02AB3C000000", 0x12345, "02AB3C012345"},
        // Byte 5 carries into byte 4.
        {"02AB3C5601FF", 1, "02AB3C560200"},
        {"02AB3C56FF80", 0x80, "02AB3C570000"},
        // Byte 4 carries into byte 3, alone or only with byte 5's carry.
        {"02AB3C56F000", 0x1000, "02AB3C570000"},
        {"02AB3C00FFFF", 1, "02AB3C010000"},
        {"02AB3C00FEFF", 0x101, "02AB3C010000"},
        // Byte 3 carries into byte 2, without any complaint.
        {"02AB3CFF0000", 0x10000, "02AB3D000000"},
        {"02AB3CFFFFFF", 1, "02AB3D000000"},
        {"02AB3CF00001", 0xFFFFF, "02AB3D000000"},
        {"02ABFEFFFFFF", 1, "02ABFF000000"},
        {"000000000000", 0xFFFFF, "0000000FFFFF"},
        // Bytes 0 and 1 never change.
        {"FFFF00FFFFFF", 1, "FFFF01000000"},
        // The largest sum that fits, and the smallest that does not.
        {"02ABFFF00000", 0xFFFFF, "02ABFFFFFFFF"},
        {"02ABFFF00001", 0xFFFFF, nullptr},
        {"02ABFFFFFFFF", 1, nullptr},
        {"FFFFFFFFFFFF", 0xFFFFF, nullptr},
    };
    for (const auto &row : rows) {
        SCOPED_TRACE(std::string(row.mac) + " + " + std::to_string(row.offset));
        uint8_t mac[6];
        for (int k = 0; k < 6; k++)
            mac[k] = static_cast<uint8_t>(std::stoi(std::string(row.mac + 2 * k, 2), nullptr, 16));
        uint8_t sum[6] = {};
        int rc = AddOffsetToMac(mac, row.offset, sum);
        if (row.sum == nullptr) {
            EXPECT_EQ(rc, 1);
        } else {
            EXPECT_EQ(rc, 0);
            EXPECT_EQ(Hex(sum), row.sum);
        }
        EXPECT_EQ(Hex(mac), row.mac);  // the input is left as read
    }
}

}  // namespace

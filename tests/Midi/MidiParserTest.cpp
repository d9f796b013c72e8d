#include "Midi/MidiParser.h"

#include <gtest/gtest.h>

#include <string>
#include <vector>

namespace {

// Every message the bytes give, as "kind channel number value" separated by "; ".
std::string Parse(const std::vector<unsigned char> &bytes)
{
    const char *kinds[] = {"off", "on", "cc", "pc"};
    MidiParser parser;
    std::string text;
    for (unsigned char byte : bytes) {
        MidiMessage m;
        if (!parser.Feed(byte, m)) continue;
        if (!text.empty()) text += "; ";
        text += std::string(kinds[m.m_Kind]) + " " + std::to_string(m.m_Channel) + " " +
                std::to_string(m.m_Number) + " " + std::to_string(m.m_Value);
    }
    return text;
}

} // namespace

TEST(MidiParserTest, ByteStreamsGiveTheirMessages)
{
    struct Case
    {
        const char *what;
        std::vector<unsigned char> bytes;
        const char *messages;
    } cases[] = {
        {"note on and off", {0x90, 36, 100, 0x80, 36, 64}, "on 0 36 100; off 0 36 64"},
        {"running status, velocity 0 is off",
         {0x91, 36, 100, 36, 0, 38, 90},
         "on 1 36 100; off 1 36 0; on 1 38 90"},
        {"real-time bytes inside messages",
         {0xB0, 0xF8, 64, 0xFE, 127, 0xFA, 64, 0xFC, 0},
         "cc 0 64 127; cc 0 64 0"},
        {"program change keeps running status", {0xC5, 3, 4}, "pc 5 3 0; pc 5 4 0"},
        {"system exclusive skipped", {0xF0, 0x7E, 36, 100, 0xF7, 0x90, 36, 1}, "on 0 36 1"},
        {"system exclusive ended by a status byte", {0xF0, 1, 2, 0x9F, 40, 50}, "on 15 40 50"},
        {"no running status after a system exclusive", {0x90, 36, 1, 0xF0, 0xF7, 36, 1}, "on 0 36 1"},
        {"system common cancels running status", {0x90, 36, 1, 0xF2, 0, 0, 36, 1, 0xF6, 36, 1}, "on 0 36 1"},
        {"leading data bytes dropped", {36, 100, 0x90, 36, 100}, "on 0 36 100"},
        {"a status byte cuts a message short", {0x90, 36, 0xB0, 7, 99}, "cc 0 7 99"},
        {"other channel messages read and dropped",
         {0xD0, 5, 0xE0, 0, 64, 0xA0, 1, 2, 0xB0, 1, 2},
         "cc 0 1 2"},
    };
    for (const Case &c : cases)
        EXPECT_EQ(Parse(c.bytes), c.messages) << c.what;
}

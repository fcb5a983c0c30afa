#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <vector>

#include "platform/knx/DefaultGroupAddressMap.h"
#include "platform/knx/GroupAddressMap.h"

using namespace Oru::Knx;

namespace {

TEST(KnxGroupAddress, ThreeLevelTwoLevelAndFree)
{
    const std::pair<const char*, int> rows[] = {
        {"1/0/2", 0x0802},   {"31/7/255", 0xFFFF}, {"0/0/1", 1},      {"1/2", 0x0802},   {"31/2047", 0xFFFF},
        {"2050", 2050},      {"65535", 0xFFFF},    {"32/0/0", -1},    {"1/8/0", -1},     {"1/0/256", -1},
        {"32/0", -1},        {"1/2048", -1},       {"65536", -1},     {"0/0/0", -1},     {"0", -1},
        {"1//2", -1},        {"1/0/2/3", -1},      {"a/0/1", -1},     {"", -1},          {"-1", -1},
    };
    for (const auto& [text, raw] : rows) {
        const auto address = ParseGroupAddress(text);
        EXPECT_EQ(address ? *address : -1, raw) << text;
    }
    EXPECT_EQ(FormatGroupAddress(0x0802), "1/0/2");
}

TEST(KnxGroupAddressMap, ReadsEveryForm)
{
    std::istringstream input("# thermostat 1 of station 1\n"
                             "2 = 1/0/2 9.001\n"
                             "\n"
                             "  3=1/1/3   DPT9.001   # status\r\n"
                             "102 = 2050 9.1\n"
                             "37 = 1/37 5.010\n"
                             "137 = 1/37 5.010\n"  // inputs of one type may share an address
                             "6 = 1/1/3 9.001\n"   // and statuses, with each other and with inputs
                             "1 = 1/0/2 9.001\n");
    const auto file = ParseGroupAddressMap(input);
    ASSERT_TRUE(file.errors.empty()) << file.errors.front();
    ASSERT_EQ(file.map.Assignments().size(), 7u);
    EXPECT_EQ(file.map.Find(3)->address, 0x0903);
    EXPECT_EQ(file.map.Find(3)->direction, Direction::Status);
    EXPECT_EQ(file.map.Find(102)->address, 2050);
    EXPECT_EQ(file.map.OnAddress(0x0825).size(), 2u);
}

TEST(KnxGroupAddressMap, EveryErrorNamesItsLine)
{
    const std::pair<const char*, const char*> rows[] = {
        {"2 = 1/0/2 9.001\n2 = 1/0/3 9.001\n", "line 2: CO 2 is already assigned in line 1"},
        {"2 = 1/0/2 9.002\n", "line 1: unknown datapoint type '9.002'"},
        {"2 = 1/0/2 5.001\n", "line 1: datapoint type 5.001 does not fit CO 2"},
        {"# c\n510 = 0/0/10 16.001\n", "line 2: datapoint type 16.001 does not fit CO 510"},
        {"2 = 32/0/2 9.001\n", "line 1: group address '32/0/2' out of range"},
        {"2 = 0/0/0 9.001\n", "line 1: group address '0/0/0' out of range"},
        {"25 = 1/0/25 9.001\n", "line 1: CO 25 is not one of the gateway's objects"},
        {"518 = 1/0/25 1.001\n", "line 1: CO 518 is not one of the gateway's objects"},
        {"37 = 1/0/1 5.010\n39 = 1/0/1 5.001\n",
         "line 2: group address 1/0/1 is already an input of type 5.010 in line 1"},
        {"2 = 1/0/2\n", "line 1: expected '<co> = <group address> <datapoint type>'"},
        {"2 1/0/2 9.001\n", "line 1: expected"},
        {"2 = 1/0/2 9.001 x\n", "line 1: expected"},
    };
    for (const auto& [text, error] : rows) {
        std::istringstream input(text);
        const auto file = ParseGroupAddressMap(input);
        ASSERT_EQ(file.errors.size(), 1u) << text;
        EXPECT_EQ(file.errors[0].rfind(error, 0), 0u) << file.errors[0];
    }
}

TEST(KnxDefaultMap, OnlyConfiguredObjectsInTheDocumentedLayout)
{
    // Station 1: 2 thermostats, 1 slot; station 2: 1 thermostat.
    const auto map = DefaultGroupAddressMap({{2, 1}, {1, 0}});
    EXPECT_EQ(map.Assignments().size(), 6u + 5 + 2 + 3 + 2 + 12);
    const std::tuple<int, const char*, DatapointType> rows[] = {
        {2, "1/0/2", DatapointType::Temperature},   {6, "1/1/6", DatapointType::Temperature},
        {37, "1/0/37", DatapointType::Counter},     {40, "1/1/40", DatapointType::Percent},
        {41, "1/0/41", DatapointType::Step},        {97, "1/1/97", DatapointType::Alarm},
        {103, "2/1/3", DatapointType::Temperature}, {504, "0/1/4", DatapointType::Latin1Text},
        {512, "0/0/12", DatapointType::Date},       {513, "0/1/13", DatapointType::DateTime},
        {514, "0/0/14", DatapointType::TimeOfDay},  {516, "0/0/16", DatapointType::HeatCool},
    };
    for (const auto& [co, address, type] : rows) {
        ASSERT_TRUE(map.Find(co)) << co;
        EXPECT_EQ(FormatGroupAddress(map.Find(co)->address), address) << co;
        EXPECT_EQ(map.Find(co)->type, type) << co;
    }
    EXPECT_FALSE(map.Find(7));
    EXPECT_FALSE(map.Find(42));
    EXPECT_FALSE(map.Find(137));

    // What the host writes reads back as the same map.
    std::stringstream text;
    WriteGroupAddressMap(text, map, [](int co) { return "object " + std::to_string(co); });
    const auto reread = ParseGroupAddressMap(text);
    ASSERT_TRUE(reread.errors.empty());
    ASSERT_EQ(reread.map.Assignments().size(), map.Assignments().size());
    for (std::size_t i = 0; i < map.Assignments().size(); ++i) {
        EXPECT_EQ(reread.map.Assignments()[i].address, map.Assignments()[i].address);
        EXPECT_EQ(reread.map.Assignments()[i].type, map.Assignments()[i].type);
    }

    std::ostringstream xml;
    WriteEtsGroupAddresses(xml, map, [](int co) { return co == 2 ? "a <b> & \"c\"" : "x"; });
    EXPECT_NE(xml.str().find(R"(<GroupAddress Name="a &lt;b&gt; &amp; &quot;c&quot;" Address="1/0/2" DPTs="DPST-9-1")"),
              std::string::npos);
    EXPECT_NE(xml.str().find(R"(<GroupRange Name="Base station 2" RangeStart="4096" RangeEnd="6143">)"),
              std::string::npos);
}

}  // namespace

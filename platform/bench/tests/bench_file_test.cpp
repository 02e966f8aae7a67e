// Bench files: what they describe, and errors that name the file and the field at fault.

#include <cstdio>
#include <filesystem>
#include <fstream>

#include "platform/devices/DeviceWorldRegistry.h"
#include "testing/BenchTestSupport.h"

namespace bench_test {
namespace {

using win::bench::BenchFileError;
using win::bench::BenchWorld;
using win::bench::Carrier;
using win::bench::Echo;

std::string ErrorOf(const std::string& json) {
  try {
    BenchWorld::FromJson(json, "bench.json");
  } catch (const BenchFileError& error) {
    return error.what();
  }
  return "no error";
}

std::filesystem::path SourceRoot() {
  return TALVIK_SOURCE_DIR;
}

TEST(BenchFileTest, DevicesWithPropertiesWiringAndFaults) {
  auto world = BenchWorld::FromJson(R"json({"devices": [
    {"port": "COM3", "friendlyName": "Line (COM3)", "enumerator": "ACPI",
     "properties": [{"code": 1, "type": "multi_sz", "value": ["A", "B"]},
                    {"code": 31, "type": "dword", "value": 3},
                    {"code": 8, "type": "binary", "value": [1, 2, 255]}],
     "wiring": {"echo": "whileDtrHigh", "carrier": "followsDtr", "answer": "\u0000\u00ff",
                "latencyMs": 7, "rtsToCts": true},
     "faults": {
  "refusedBaudRates" : [300], "pullOutAt" : {
    "call" : "ReadFile", "count" : 2
  }}},
    {"class": "Printer", "present": false}
  ]
})json");
  InstallDeviceWorld(world);
  HDEVINFO list = win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 1, &data));
  ASSERT_TRUE(win::SetupDiEnumDeviceInfo(list, 0, &data));
  DWORD type = 0;
  DWORD required = 0;
  BYTE buffer[16] = {};
  EXPECT_FALSE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_DEVICEDESC, &type, buffer,
                                                      sizeof buffer, &required));
  EXPECT_EQ(GetLastError(), ERROR_INVALID_DATA);
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_CLASSGUID, &type, buffer,
                                                     sizeof buffer, &required));
  EXPECT_EQ(type, REG_BINARY);
  EXPECT_EQ(required, 3u);
  EXPECT_EQ(buffer[2], 0xFF);
  ASSERT_TRUE(win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_HARDWAREID, &type, buffer,
                                                     sizeof buffer, &required));
  EXPECT_EQ(type, REG_MULTI_SZ);
  EXPECT_EQ(required, 5u);
  win::SetupDiDestroyDeviceInfoList(list);

  // The answer's escapes are single bytes: the device answers 00 FF while DTR is high.
  {
    Io io;
    Port port("COM3");
    port.Configure(115200, 0);
    ASSERT_TRUE(win::EscapeCommFunction(port.get(), SETDTR));
    EXPECT_EQ(port.ModemStatus(), MS_RLSD_ON);
    char in[2] = {};
    DWORD count = 0;
    ASSERT_FALSE(win::ReadFile(port.get(), in, 2, &count, &io.ov));
    DWORD written = 0;
    Io write;
    ASSERT_FALSE(win::WriteFile(port.get(), "x", 1, &written, &write.ov));
    ASSERT_TRUE(win::GetOverlappedResult(port.get(), &io.ov, &count, TRUE));
    EXPECT_EQ(std::string(in, 2), std::string("\0\xff", 2));
    ASSERT_TRUE(win::GetOverlappedResult(port.get(), &write.ov, &written, TRUE));
  }
  win::bench::UseBench();
}

TEST(BenchFileTest, ANamedHolderAndARefusedUserAreThePortsFacts) {
  auto world = BenchWorld::FromJson(R"json({"devices": [
    {"port": "COM1", "friendlyName": "Line (COM1)",
     "faults": {"heldBy": {"pid": 4242, "name": "minicom", "user": "anna"}}},
    {"port": "COM2", "friendlyName": "Line (COM2)", "faults": {"held": true}},
    {"port": "COM3", "friendlyName": "Line (COM3)",
     "faults": {"accessDenied": true, "group": "dialout"}},
    {"port": "COM4", "friendlyName": "Line (COM4)"}]})json");
  InstallDeviceWorld(world);

  const win::PortFacts named = world->Facts("COM1");
  EXPECT_TRUE(named.held);
  ASSERT_TRUE(named.heldBy.has_value());
  EXPECT_EQ(named.heldBy->pid, 4242);
  EXPECT_EQ(named.heldBy->name, "minicom");
  EXPECT_EQ(named.heldBy->user, "anna");
  EXPECT_EQ(named.access, win::PortAccess::Unknown);
  const win::PortFacts unnamed = world->Facts("COM2");
  EXPECT_TRUE(unnamed.held);
  EXPECT_FALSE(unnamed.heldBy.has_value());
  const win::PortFacts refused = world->Facts("COM3");
  EXPECT_FALSE(refused.held);
  EXPECT_EQ(refused.access, win::PortAccess::Denied);
  EXPECT_EQ(refused.group, "dialout");
  const win::PortFacts free = world->Facts("COM4");
  EXPECT_FALSE(free.held || free.heldBy.has_value());
  EXPECT_EQ(free.access, win::PortAccess::Unknown);
  EXPECT_FALSE(free.details.empty());

  for (const char* port : {"COM1", "COM2", "COM3"}) {
    EXPECT_EQ(Port(port).error(), ERROR_ACCESS_DENIED) << port;
  }
  EXPECT_TRUE(Port("COM4").valid());
  win::bench::UseBench();
}

TEST(BenchFileTest, ErrorsNameTheFileAndTheField) {
  EXPECT_EQ(ErrorOf(R"({"devices": [{}, {}, {}, {"wiring": {"echo": "sometimes"}}]})"),
            "bench.json: devices[3].wiring.echo: expected one of \"none\", \"always\", "
            "\"whileDtrHigh\"");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"port": "COM1", "colour": "red"}]})"),
            "bench.json: devices[0].colour: unknown field (expected one of \"port\", "
            "\"friendlyName\", \"description\", \"enumerator\", \"class\", \"present\", "
            "\"properties\", \"wiring\", \"faults\")");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"faults": {"openError": -5}}]})"),
            "bench.json: devices[0].faults.openError: expected a whole number from 0 to "
            "4294967295");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"port": "COM1"}, {"port": "com1"}]})"),
            "bench.json: devices[1].port: \"com1\" is already the port of devices[0]");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"properties": [{"code": 1, "type": "qword", "value": 1}]}]})"),
            "bench.json: devices[0].properties[0].type: expected one of \"sz\", \"multi_sz\", "
            "\"dword\", \"binary\"");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"properties": [{"code": 1, "type": "binary",
                                                      "value": [1, 256]}]}]})"),
            "bench.json: devices[0].properties[0].value[1]: expected a byte value from 0 to 255");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"faults": {"pullOutAt": {"call": "Explode"}}}]})")
                .rfind("bench.json: devices[0].faults.pullOutAt.call: expected the name of a "
                       "comm call",
                       0),
            0u);
  EXPECT_EQ(ErrorOf(R"({"devices": [{"wiring": {"answer": "\u20ac"}}]})"),
            "bench.json: devices[0].wiring.answer: characters above \\u00ff do not fit in one "
            "byte");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"friendlyName": "A", "properties": [
                        {"code": 12, "type": "sz", "value": "B"}]}]})"),
            "bench.json: devices[0].properties[0]: property 12 is already given by "
            "devices[0].friendlyName");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"faults": {"held": false, "heldBy": {"name": "cu"}}}]})"),
            "bench.json: devices[0].faults.heldBy: names the holder of a port that is not "
            "\"held\"");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"faults": {"group": "dialout"}}]})"),
            "bench.json: devices[0].faults.group: is the group of a port with \"accessDenied\": "
            "true");
  EXPECT_EQ(ErrorOf(R"({"devices": [{"faults": {"heldBy": {"pid": 4294967295}}}]})"),
            "bench.json: devices[0].faults.heldBy.pid: expected a process number from 0 (not "
            "known) to 2147483647");
  EXPECT_EQ(ErrorOf(R"({"device": []})"),
            "bench.json: device: unknown field (expected one of \"devices\")");
  EXPECT_EQ(ErrorOf(R"({})"), "bench.json: devices: missing");
  EXPECT_EQ(ErrorOf(R"([])"), "bench.json: expected an object with \"devices\"");

  // Broken JSON is placed by line and column (of characters, not bytes), in plain words.
  EXPECT_EQ(ErrorOf("{\"devices\": [\n  {\"port\": \"COMÄ\" x"),
            "bench.json: line 2, column 19: not valid JSON (invalid literal; last read: "
            "'\"COMÄ\" x'; expected '}')");
  EXPECT_EQ(ErrorOf(" \n"), "bench.json: is empty, not a bench file");

  const auto missing = (std::filesystem::temp_directory_path() / "talvik-no-such-bench.json");
  try {
    BenchWorld::LoadFile(missing.string());
    ADD_FAILURE() << "a missing file loaded";
  } catch (const BenchFileError& error) {
    EXPECT_EQ(std::string(error.what()).rfind(missing.string() + ": cannot be read", 0), 0u);
  }
  const auto folder = std::filesystem::temp_directory_path();
  try {
    BenchWorld::LoadFile(folder.string());
    ADD_FAILURE() << "a directory loaded";
  } catch (const BenchFileError& error) {
    EXPECT_EQ(std::string(error.what()), folder.string() + ": is a directory, not a bench file");
  }
}

TEST(BenchFileTest, TheDemoBenchLoads) {
  const auto path = SourceRoot() / "benches" / "demo.json";
  auto world = BenchWorld::LoadFile(path.string());
  EXPECT_TRUE(world->State("COM1").calls.empty());
  InstallDeviceWorld(world);

  HDEVINFO list = win::SetupDiGetClassDevsA(nullptr, nullptr, nullptr, DIGCF_ALLCLASSES);
  std::vector<std::string> names;
  SP_DEVINFO_DATA data{};
  data.cbSize = sizeof data;
  for (DWORD i = 0; win::SetupDiEnumDeviceInfo(list, i, &data); ++i) {
    char name[128] = {};
    DWORD type = 0;
    win::SetupDiGetDeviceRegistryPropertyA(list, &data, SPDRP_FRIENDLYNAME, &type,
                                           reinterpret_cast<BYTE*>(name), sizeof name, nullptr);
    names.emplace_back(name);
  }
  win::SetupDiDestroyDeviceInfoList(list);
  ASSERT_EQ(names.size(), 11u);
  EXPECT_EQ(names.front(), "Communications Port (COM1)");
  EXPECT_EQ(names[1], "Printer Port (LPT1)");
  EXPECT_EQ(names.back(), "Silicon Labs CP210x USB to UART Bridge (COM10)");

  // One port held by a named program, one this user may not open.
  EXPECT_EQ(Port("COM1").error(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(world->Facts("COM1").heldBy.value_or(win::PortHolder{}).name, "minicom");
  EXPECT_EQ(Port("COM2").error(), ERROR_ACCESS_DENIED);
  EXPECT_EQ(world->Facts("COM2").access, win::PortAccess::Denied);
  {
    Port cable("COM6");
    ASSERT_TRUE(win::EscapeCommFunction(cable.get(), SETRTS));
    ASSERT_TRUE(win::EscapeCommFunction(cable.get(), SETDTR));
    EXPECT_EQ(cable.ModemStatus(), MS_CTS_ON | MS_DSR_ON);
  }
  {
    Port cable("COM8");
    ASSERT_TRUE(win::EscapeCommFunction(cable.get(), SETDTR));
    EXPECT_EQ(cable.ModemStatus(), MS_RLSD_ON);
  }
  win::bench::UseBench();
}

}  // namespace
}  // namespace bench_test

// talvik-scan against the window: same rows in the same order, JSON fields, watch mode, errors.

#include <gtest/gtest.h>

#include <QApplication>
#include <QProcess>
#include <QTest>
#include <QTimer>
#include <chrono>
#include <fstream>
#include <functional>
#include <map>
#include <memory>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <string>
#include <vector>

#include "app/Application.h"
#include "app/PortContainerFrame.h"
#include "app/ScanReport.h"
#include "app/Unit1.h"
#include "cli/ScanCommand.h"
#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"
#include "platform/devices/SetupApiModule.h"
#include "testing/QtTestApp.h"

namespace {

using namespace win;

const std::string kDemoBench = std::string(TALVIK_SOURCE_DIR) + "/benches/demo.json";

struct ProcessResult {
  int status = -1;
  std::string out;
  std::string err;
};

ProcessResult RunProgram(
    const char* program, const QStringList& args,
    const QProcessEnvironment& environment = QProcessEnvironment::systemEnvironment()) {
  QProcess process;
  process.setProcessEnvironment(environment);
  process.start(QString::fromUtf8(program), args);
  EXPECT_TRUE(process.waitForFinished(120000)) << "talvik-scan did not finish";
  ProcessResult result;
  result.status = process.exitStatus() == QProcess::NormalExit ? process.exitCode() : -1;
  result.out = process.readAllStandardOutput().toStdString();
  result.err = process.readAllStandardError().toStdString();
  return result;
}

ProcessResult RunScanProgram(const QStringList& args) {
  return RunProgram(TALVIK_SCAN_EXE, args);
}

// The rows the window shows after its first scan on the demo bench.
std::vector<TPortRowView> WindowRowsOnDemoBench() {
  talvik_test::EnsureQtApp();
  win::InstallDeviceWorld(win::bench::BenchWorld::LoadFile(kDemoBench));
  TApplication application("Тальвик");
  win::SetMessageBoxHook([](win::HWND, const std::string&, const std::string&, win::UINT) {
    using namespace win;  // IDOK: a macro of <windows.h>
    return IDOK;
  });
  TForm1 form;
  bool finished = false;
  QObject::connect(&form, &TForm1::ScanFinished, &form, [&finished] { finished = true; });
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(120);
  while (!finished && std::chrono::steady_clock::now() < deadline) {
    QTest::qWait(5);
  }
  EXPECT_TRUE(finished);
  return form.Frame21().RowViews();
}

std::string Trimmed(const std::string& text) {
  const auto first = text.find_first_not_of(' ');
  return first == std::string::npos ? std::string() : text.substr(first);
}

std::vector<std::string> Lines(const std::string& text) {
  std::vector<std::string> lines;
  std::istringstream in(text);
  for (std::string line; std::getline(in, line);) {
    lines.push_back(line);
  }
  return lines;
}

TEST(ScanCommandTest, PrintsTheRowsOfTheWindowInTheirOrderAsTextAndJson) {
  const std::vector<TPortRowView> window = WindowRowsOnDemoBench();
  ASSERT_GE(window.size(), 9u);

  const ProcessResult json =
      RunScanProgram({"--json", "--bench", QString::fromStdString(kDemoBench)});
  ASSERT_EQ(json.status, 0) << json.err;
  const nlohmann::json ports = nlohmann::json::parse(json.out);
  ASSERT_TRUE(ports.is_array());
  ASSERT_EQ(ports.size(), window.size());
  for (std::size_t i = 0; i < window.size(); ++i) {
    SCOPED_TRACE(window[i].Key);
    const nlohmann::json& port = ports[i];
    EXPECT_EQ(port.at("port").get<std::string>(), Trimmed(window[i].Port));
    EXPECT_EQ(port.at("description").get<std::string>(), Trimmed(window[i].Description));
    EXPECT_EQ(port.at("state").get<std::string>(), Trimmed(window[i].State));
    // A missing adapter is null, as every other missing value.
    EXPECT_EQ(port.at("adapter").is_null() ? "" : port.at("adapter").get<std::string>(),
              Trimmed(window[i].Adapter));
    EXPECT_NE(port.at("adapter"), "");
    EXPECT_EQ(port.at("busy").get<bool>(), Trimmed(window[i].State) != "Свободен");
    const std::string friendly = port.at("friendlyName").get<std::string>();
    EXPECT_NE(friendly.find("(" + window[i].Key + ")"), std::string::npos) << friendly;
    EXPECT_TRUE(port.at("deviceIndex").is_number_integer());
    EXPECT_TRUE(port.at("adapterType").is_number_integer());
    // The bench knows no device nodes: the fields are there, and null.
    for (const char* key : {"node", "byId", "driver", "vid", "pid", "serial"}) {
      EXPECT_TRUE(port.at(key).is_null()) << key;
    }
  }
  // Holders and rights come from the bench file: COM1 is held by a named program, COM2 may not
  // be opened by this user.
  EXPECT_EQ(ports[0].at("heldBy"),
            nlohmann::json({{"pid", 2317}, {"name", "minicom"}, {"user", "anna"}}));
  EXPECT_EQ(ports[1].at("port"), "COM2");
  EXPECT_EQ(ports[1].at("state"), "Нет доступа");
  EXPECT_EQ(ports[1].at("access"), "denied");
  for (std::size_t i = 2; i < ports.size(); ++i) {
    EXPECT_TRUE(ports[i].at("heldBy").is_null() && ports[i].at("access").is_null()) << i;
  }
  // The codes for scripts agree with the texts, whatever the probe found; no probe failed.
  const std::map<std::string, std::string> statuses = {
      {"Свободен", "free"}, {"Занят", "busy"}, {"Нет доступа", "no-access"}};
  const std::map<std::string, nlohmann::json> kinds = {{"Адаптер К-Лайн", "k-line"},
                                                       {"Кварион COM v1", "cable-v1"},
                                                       {"Кварион USB v2", "cable-v2"},
                                                       {"Кварион USB v3", "cable-v3"}};
  std::set<std::string> kindsSeen;
  for (const nlohmann::json& port : ports) {
    SCOPED_TRACE(port.dump());
    EXPECT_EQ(port.at("status"), statuses.at(port.at("state").get<std::string>()));
    const nlohmann::json& kind = port.at("adapterKind");
    if (!port.at("adapter").is_null()) {
      EXPECT_EQ(kind, kinds.at(port.at("adapter").get<std::string>()));
    } else {
      EXPECT_EQ(kind, port.at("busy").get<bool>() ? nlohmann::json() : nlohmann::json("none"));
    }
    kindsSeen.insert(kind.is_null() ? "null" : kind.get<std::string>());
    EXPECT_TRUE(port.at("error").is_null());
  }
  EXPECT_EQ(kindsSeen,
            (std::set<std::string>{"null", "none", "k-line", "cable-v1", "cable-v2", "cable-v3"}));

  const ProcessResult text = RunScanProgram({"--bench", QString::fromStdString(kDemoBench)});
  ASSERT_EQ(text.status, 0) << text.err;
  const std::vector<std::string> lines = Lines(text.out);
  ASSERT_EQ(lines.size(), window.size() + 1);  // a header line, then one line per port
  for (std::size_t i = 0; i < window.size(); ++i) {
    SCOPED_TRACE(lines[i + 1]);
    const std::string& line = lines[i + 1];
    EXPECT_EQ(line.rfind(Trimmed(window[i].Port) + " ", 0), 0u);
    // The cells stand in the window's order; a description wider than 40 columns is cut (the
    // demo's are ASCII).
    const std::string description = Trimmed(window[i].Description).substr(0, 39);
    std::size_t at = 0;
    for (const std::string& cell :
         {description, Trimmed(window[i].State), Trimmed(window[i].Adapter)}) {
      const std::size_t found = line.find(cell, at);
      ASSERT_NE(found, std::string::npos) << cell;
      at = found + cell.size();
    }
  }
}

TEST(ScanCommandTest, WatchReportsAgainAfterAPortArrives) {
  talvik_test::EnsureQtApp();
  std::ostringstream out;
  std::ostringstream err;
  ScanCommandHooks hooks;
  hooks.AfterReport = [](int report) {
    if (report == 1) {
      auto bench = std::dynamic_pointer_cast<win::bench::BenchWorld>(win::CurrentDeviceWorld());
      EXPECT_NE(bench, nullptr);
      if (bench) {
        bench->AddDevice(win::bench::MakePort("COM42", "Arrived Port", "ACPI"), true);
      }
      return true;
    }
    return false;
  };
  const std::string bench = testing::TempDir() + "/watch_bench.json";
  std::ofstream(bench) << R"json({"devices": [{"port": "COM1", "friendlyName":
      "Communications Port (COM1)", "description": "Communications Port", "enumerator": "ACPI",
      "faults": {"held": true}}]})json";
  const int status = RunScanCommand({"--watch", "--json", "--bench", bench}, out, err, hooks);
  EXPECT_EQ(status, 0) << err.str();

  // Two JSON arrays, one per line: the second has the new port.
  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 2u) << out.str();
  std::vector<nlohmann::json> parsed;
  for (const std::string& line : lines) {
    parsed.push_back(nlohmann::json::parse(line));
  }
  ASSERT_EQ(parsed[0].size(), 1u);
  ASSERT_EQ(parsed[1].size(), 2u);
  EXPECT_EQ(parsed[1][1].at("port"), "COM42");
  EXPECT_EQ(parsed[1][1].at("description"), "Arrived Port ");  // the blank before "(" stays
}

TEST(ScanCommandTest, AFailedEnumerationIsReportedOnStandardErrorWithAFailingStatus) {
  talvik_test::EnsureQtApp();
  win::RegisterBuiltinModule(win::BuiltinModule{"SetupApi.dll", {}, ERROR_MOD_NOT_FOUND});
  const std::string bench = testing::TempDir() + "/empty_bench.json";
  std::ofstream(bench) << R"({"devices": []})";
  std::ostringstream out;
  std::ostringstream err;
  const int status = RunScanCommand({"--bench", bench}, out, err);
  win::RegisterBuiltinModule(win::detail::SetupApiModule());
  EXPECT_EQ(status, 1);
  const std::string message = err.str();
  EXPECT_NE(message.find("System Error.  Code: 126. The specified module could not be found"),
            std::string::npos)
      << message;
  EXPECT_EQ(message.find('\r'), std::string::npos);
}

TEST(ScanCommandTest, AMessageRepeatedInAScanIsPrintedOnceWithItsCount) {
  talvik_test::EnsureQtApp();
  // Two devices vanish as the probe lowers DTR; raising it in the second phase fails alike.
  const std::string bench = testing::TempDir() + "/pulled_bench.json";
  std::ofstream(bench) << R"json({"devices": [
      {"port": "COM1", "enumerator": "ACPI", "friendlyName": "Communications Port (COM1)",
       "faults": {"pullOutAt": {"call": "EscapeCommFunction", "count": 1}}},
      {"port": "COM2", "enumerator": "ACPI", "friendlyName": "Communications Port (COM2)",
       "faults": {"pullOutAt": {"call": "EscapeCommFunction", "count": 1}}}]})json";
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunScanCommand({"--bench", bench}, out, err), 0) << err.str();

  const std::vector<std::string> lines = Lines(err.str());
  ASSERT_EQ(lines.size(), 1u) << err.str();
  EXPECT_EQ(lines[0].rfind("Error calling comm function (22), ", 0), 0u) << lines[0];
  EXPECT_EQ(lines[0].substr(lines[0].size() - 10), " (4 times)") << lines[0];
  // Both devices went during the scan: the report is that of the scan that followed, which found
  // no port.
  EXPECT_EQ(Lines(out.str()), (std::vector<std::string>{"Порт  Название  Состояние  Тип адаптера",
                                                        "Портов не найдено."}))
      << out.str();
}

TEST(ScanCommandTest, WatchAlsoReportsTheScanThatAPortGoneDuringAScanBrings) {
  talvik_test::EnsureQtApp();
  const std::string bench = testing::TempDir() + "/watch_pulled_bench.json";
  std::ofstream(bench) << R"json({"devices": [
      {"port": "COM1", "enumerator": "ACPI", "friendlyName": "Communications Port (COM1)",
       "faults": {"pullOutAt": {"call": "EscapeCommFunction", "count": 1}}},
      {"port": "COM2", "enumerator": "ACPI", "friendlyName": "Communications Port (COM2)",
       "faults": {"held": true}}]})json";
  ScanCommandHooks hooks;
  hooks.AfterReport = [](int report) { return report < 2; };
  // Ends the command should the second report never come.
  QObject guard;
  QTimer::singleShot(60000, &guard, [] { QCoreApplication::exit(0); });
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunScanCommand({"--watch", "--bench", bench}, out, err, hooks), 0) << err.str();

  const std::vector<std::string> lines = Lines(out.str());
  ASSERT_EQ(lines.size(), 5u) << out.str();  // two reports: a heading and two rows, then one
  EXPECT_EQ(lines[1].rfind("COM1 ", 0), 0u) << lines[1];
  EXPECT_EQ(lines[3].rfind("Порт ", 0), 0u) << lines[3];
  EXPECT_EQ(lines[4].rfind("COM2 ", 0), 0u) << lines[4];
}

TEST(ScanCommandTest, BenchFilesThatCannotBeLoadedGiveAClearErrorAndAFailingStatus) {
  const ProcessResult missing = RunScanProgram({"--bench", "/nonexistent/bench.json"});
  EXPECT_EQ(missing.status, 1);
  EXPECT_NE(missing.err.find("/nonexistent/bench.json"), std::string::npos) << missing.err;
  EXPECT_TRUE(missing.out.empty());

  const std::string bad = testing::TempDir() + "/bad_bench.json";
  std::ofstream(bad) << R"({"devices": [{"port": "COM3", "wiring": {"echo": "sometimes"}}]})";
  const ProcessResult wrong = RunScanProgram({"--bench", QString::fromStdString(bad)});
  EXPECT_EQ(wrong.status, 1);
  EXPECT_NE(wrong.err.find("bad_bench.json"), std::string::npos) << wrong.err;
  EXPECT_NE(wrong.err.find("echo"), std::string::npos) << wrong.err;

  const QString folder = QString::fromStdString(testing::TempDir());
  const ProcessResult directory = RunScanProgram({"--bench", folder});
  EXPECT_EQ(directory.status, 1);
  EXPECT_NE(directory.err.find(": is a directory, not a bench file\n"), std::string::npos)
      << directory.err;
}

TEST(WindowProgramTest, AnswersHelpAndVersionAndEndsClearlyWithoutADisplay) {
  QProcessEnvironment bare = QProcessEnvironment::systemEnvironment();
  for (const char* name : {"DISPLAY", "WAYLAND_DISPLAY", "QT_QPA_PLATFORM"}) {
    bare.remove(QString::fromUtf8(name));
  }
  const ProcessResult help = RunProgram(TALVIK_WINDOW_EXE, {"--help"}, bare);
  EXPECT_EQ(help.status, 0);
  EXPECT_EQ(help.out.rfind("usage: talvik [--help] [--version]\n", 0), 0u) << help.out;
  const ProcessResult version = RunProgram(TALVIK_WINDOW_EXE, {"--version"}, bare);
  EXPECT_EQ(version.status, 0);
  EXPECT_EQ(version.out, "talvik 1.0.7.0\n");

  const ProcessResult none = RunProgram(TALVIK_WINDOW_EXE, {}, bare);
  EXPECT_EQ(none.status, 1);
  EXPECT_TRUE(none.out.empty());
  EXPECT_EQ(Lines(none.err).size(), 1u) << none.err;
  EXPECT_EQ(none.err.rfind("talvik: needs a graphical display", 0), 0u) << none.err;

  // A display that is named but cannot be reached ends the same way, not with Qt's abort.
  bare.insert(QStringLiteral("DISPLAY"), QStringLiteral(":9999"));
  const ProcessResult unreachable = RunProgram(TALVIK_WINDOW_EXE, {}, bare);
  EXPECT_EQ(unreachable.status, 1);
  EXPECT_EQ(Lines(unreachable.err).size(), 1u) << unreachable.err;
  EXPECT_EQ(unreachable.err.rfind("talvik: needs a graphical display", 0), 0u) << unreachable.err;
}

TEST(ScanCommandTest, OptionsUsageAndVersion) {
  std::ostringstream out;
  std::ostringstream err;
  EXPECT_EQ(RunScanCommand({"--frobnicate"}, out, err), 2);
  EXPECT_EQ(err.str(), "talvik-scan: unknown option '--frobnicate' (see talvik-scan --help)\n");
  EXPECT_TRUE(out.str().empty());

  err.str("");
  EXPECT_EQ(RunScanCommand({"--bench"}, out, err), 2);
  EXPECT_NE(err.str().find("--bench needs a bench file or name"), std::string::npos);

  EXPECT_EQ(RunScanCommand({"--version"}, out, err), 0);
  EXPECT_EQ(out.str(), "talvik-scan 1.0.7.0\n");

  out.str("");
  EXPECT_EQ(RunScanCommand({"--help"}, out, err), 0);
  EXPECT_EQ(out.str().rfind("usage: talvik-scan", 0), 0u);
}

TEST(ScanReportTest, TextColumnsAlignOnCharactersNotBytes) {
  std::vector<PortRecord> rows(2);
  rows[0].Port = "COM1";
  rows[0].Description = "Порт";
  rows[0].Busy = true;
  rows[0].Facts.heldBy = win::PortHolder{4242, "minicom", "anna"};
  rows[1].Port = "COM10";
  rows[1].Description = "Port";
  rows[1].Kind = AdapterKind::KLine;
  const std::vector<std::string> lines = Lines(FormatScanText(rows));
  ASSERT_EQ(lines.size(), 3u);
  // The state column starts at the same character position on every line.
  const auto column = [](const std::string& line, const std::string& cell) {
    const std::size_t bytes = line.find(cell);
    std::size_t chars = 0;
    for (std::size_t i = 0; i < bytes; ++i) {
      chars += (static_cast<unsigned char>(line[i]) & 0xC0) != 0x80 ? 1 : 0;
    }
    return chars;
  };
  EXPECT_EQ(column(lines[1], "Занят"), column(lines[2], "Свободен"));
  EXPECT_EQ(column(lines[0], "Состояние"), column(lines[1], "Занят"));
  // The holder column, where one is known, names the program, its PID and its user.
  EXPECT_EQ(column(lines[0], "Кем занят"), column(lines[1], "minicom"));
  const std::string holder = "minicom (PID 4242, пользователь anna)";
  EXPECT_EQ(lines[1].substr(lines[1].size() - holder.size()), holder);
}

TEST(ScanReportTest, LongAndHostileNamesAreCutInTheTextTableAndKeptWholeInJson) {
  std::vector<PortRecord> rows(3);
  rows[0].Port = "COM1";
  rows[0].Description = "Evil\x1b[2J\r\n" + std::string(10000, 'x');
  rows[1].Port = "COM2";
  std::string cyrillic;
  for (int i = 0; i < 2500; ++i) {
    cyrillic += "Порт";
  }
  rows[1].Description = cyrillic;
  rows[1].Busy = true;
  rows[2].Port = "COM3";
  rows[2].Description = std::string(40, 'y');  // exactly at the limit: not cut
  rows[2].Busy = true;

  const std::vector<std::string> lines = Lines(FormatScanText(rows));
  ASSERT_EQ(lines.size(), 4u);
  const std::string port = "COM1  ";
  EXPECT_EQ(lines[1], port + "Evil?[2J??" + std::string(29, 'x') + "…  Свободен");
  // Cut on a character boundary: 39 whole letters, then the ellipsis.
  EXPECT_EQ(lines[2], "COM2  " + cyrillic.substr(0, 39 * 2) + "…  Занят");
  EXPECT_EQ(lines[3], "COM3  " + std::string(40, 'y') + "  Занят");

  const nlohmann::json json = nlohmann::json::parse(FormatScanJson(rows));
  EXPECT_EQ(json[0].at("description").get<std::string>(), rows[0].Description);
  EXPECT_EQ(json[1].at("description").get<std::string>(), cyrillic);
}

}  // namespace

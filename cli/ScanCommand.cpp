#include "cli/ScanCommand.h"

#include <QCoreApplication>
#include <exception>
#include <memory>
#include <optional>
#include <ostream>
#include <string>
#include <utility>
#include <vector>

#include "app/Application.h"
#include "app/BenchFiles.h"
#include "app/ScanReport.h"
#include "app/ScanRunner.h"
#include "app/Texts.h"
#include "platform/Additions.h"
#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace {

struct Options {
  bool Json = false;
  bool Watch = false;
  bool Trace = false;
  std::optional<std::string> Bench;
};

// A message of the window as one line of text: each run of line breaks becomes one blank. Built
// by appending, since an in-place replace made GCC 12 at -O3 warn of an overlapping copy that
// cannot happen.
std::string OneLine(const std::string& text) {
  std::string line;
  line.reserve(text.size());
  bool inBreak = false;
  for (const char c : text) {
    const bool isBreak = c == '\r' || c == '\n';
    if (!isBreak) {
      line += c;
    } else if (!inBreak) {
      line += ' ';
    }
    inBreak = isBreak;
  }
  return line;
}

// The messages of one scan, in the order they first came, each with how often it came.
class TScanMessages {
 public:
  void Add(const std::string& text) {
    for (auto& [known, count] : Messages_) {
      if (known == text) {
        ++count;
        return;
      }
    }
    Messages_.emplace_back(text, 1);
  }

  // Prints each message once, with its count when it came more than once, and forgets them.
  void Flush(std::ostream& err) {
    for (const auto& [text, count] : Messages_) {
      err << text;
      if (count > 1) {
        err << " (" << count << " times)";
      }
      err << '\n';
    }
    err.flush();
    Messages_.clear();
  }

 private:
  std::vector<std::pair<std::string, int>> Messages_;
};

// Parses the options; a text in `problem` means they are wrong.
Options ParseOptions(const std::vector<std::string>& args, std::string& problem, bool& help,
                     bool& version) {
  Options options;
  for (std::size_t i = 0; i < args.size(); ++i) {
    const std::string& arg = args[i];
    if (arg == "--json") {
      options.Json = true;
    } else if (arg == "--watch") {
      options.Watch = true;
    } else if (arg == "--trace") {
      options.Trace = true;
    } else if (arg == "--help" || arg == "-h") {
      help = true;
    } else if (arg == "--version") {
      version = true;
    } else if (arg == "--bench") {
      if (i + 1 == args.size()) {
        problem = "--bench needs a bench file or name";
        return options;
      }
      options.Bench = args[++i];
    } else if (arg.rfind("--bench=", 0) == 0) {
      options.Bench = arg.substr(8);
    } else {
      problem = "unknown option '" + arg + "'";
      return options;
    }
  }
  if (options.Bench && options.Bench->empty()) {
    problem = "--bench needs a bench file or name";
  }
  return options;
}

void InstallWorld(const Options& options) {
  if (options.Bench) {
    win::InstallDeviceWorld(win::bench::BenchWorld::LoadFile(FindBenchFile(*options.Bench)));
  } else {
    win::InstallDeviceWorld(win::CreateDeviceWorld(win::DeviceWorldKind::Host));
  }
}

}  // namespace

std::string ScanCommandUsage() {
  return "usage: talvik-scan [--json] [--watch] [--trace] [--bench BENCH]\n"
         "Finds the serial ports, tells busy from free and probes the free ones for a\n"
         "diagnostic line adapter, like the Talvik window, and prints one line per port.\n"
         "\n"
         "  --json          print a JSON array, one object per port (its fields are\n"
         "                  described in talvik-scan(1)); with --watch, one array\n"
         "                  per line\n"
         "  --watch         keep running and print a fresh report after each port\n"
         "                  arrival or removal; those that come during a scan bring\n"
         "                  one more scan when it ends\n"
         "  --trace         write every comm and device-setup call to standard error\n"
         "                  (as the environment variable TALVIK_TRACE=1 does)\n"
         "  --bench BENCH   scan a simulated bench instead of this machine's ports: a\n"
         "                  bench file, or the name of one that comes with Talvik\n"
         "                  (\"demo\", in /usr/share/talvik/benches when installed)\n"
         "  -h, --help      show this text\n"
         "  --version       show the version\n"
         "\n"
         "Examples:\n"
         "  talvik-scan                         this machine's ports, as a table\n"
         "  talvik-scan --json --bench demo     the demo bench, as JSON\n"
         "\n"
         "Exit status: 0 after a completed scan, 1 when the ports could not be listed,\n"
         "2 for bad options.\n";
}

int RunScanCommand(const std::vector<std::string>& args, std::ostream& out, std::ostream& err,
                   const ScanCommandHooks& hooks) {
  std::string problem;
  bool help = false;
  bool version = false;
  const Options options = ParseOptions(args, problem, help, version);
  if (!problem.empty()) {
    err << "talvik-scan: " << problem << " (see talvik-scan --help)\n";
    return 2;
  }
  if (help) {
    out << ScanCommandUsage();
    return 0;
  }
  if (version) {
    out << "talvik-scan " << TALVIK_VERSION << '\n';
    return 0;
  }
  if (options.Trace) {
    win::SetCallTrace(true);
  }
  try {
    InstallWorld(options);
  } catch (const std::exception& e) {
    err << "talvik-scan: " << OneLine(e.what()) << '\n';
    return 1;
  }

  // What the window would show in a box goes to standard error, one line each, printed with the
  // scan's report; a message repeated within one scan is printed once with its count.
  TScanMessages messages;
  TApplication application(texts::kTitle);
  win::SetMessageBoxHook(
      [&messages](win::HWND, const std::string& text, const std::string&, win::UINT) {
        messages.Add(OneLine(text));
        using namespace win;  // IDOK: a macro of <windows.h>
        return IDOK;
      });
  win::SetApplicationExceptionHook([&messages](std::exception_ptr error) {
    messages.Add(OneLine(TApplication::ErrorReportText(TApplication::ExceptionText(error))));
  });

  int status = 0;
  int reports = 0;
  auto runner = std::make_unique<TScanRunner>();
  runner->OnScanFinished = [&] {
    messages.Flush(err);
    // A port changed during the scan: without --watch only the report of the scan that follows
    // is printed.
    if (!options.Watch && runner->RescanDue()) {
      return;
    }
    const std::vector<PortRecord>& records = runner->Records();
    // Watching, each JSON report is one line, so that line tools can follow the stream.
    out << (!options.Json   ? FormatScanText(records)
            : options.Watch ? FormatScanJson(records, JsonLayout::OneLine)
                            : FormatScanJson(records));
    out.flush();
    ++reports;
    const bool goOn = !hooks.AfterReport || hooks.AfterReport(reports);
    if (!options.Watch) {
      status = runner->DiscoveryFailed() ? 1 : 0;
      QCoreApplication::exit(status);
    } else if (!goOn) {
      QCoreApplication::exit(0);
    }
  };
  QCoreApplication::exec();
  runner.reset();
  messages.Flush(err);
  return status;
}

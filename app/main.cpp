// talvik: the main window on this machine's own serial ports.

#include <QApplication>
#include <exception>
#include <optional>

#include "app/Application.h"
#include "app/ProgramStart.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "app/aboutForm.h"
#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace {

constexpr char kUsage[] =
    "usage: talvik [--help] [--version]\n"
    "The Talvik window: finds the serial ports, tells busy from free and probes the free\n"
    "ones for a diagnostic line adapter. It needs a display; talvik-scan prints the same\n"
    "scan without one.\n"
    "\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n"
    "\n"
    "Keys: F5 scans again, Ctrl+C copies the report, Tab reaches a row's settings icon and\n"
    "Space opens its page.\n";

}  // namespace

int main(int argc, char* argv[]) {
  if (const std::optional<int> status = AnswerInfoOption(argc, argv, "talvik", kUsage)) {
    return *status;
  }
  std::optional<TDisplayStart> start(std::in_place, "talvik");
  QApplication qt(argc, argv);
  start.reset();
  TApplication application(texts::kTitle);

  std::exception_ptr failure;
  try {
    win::InstallDeviceWorld(win::CreateDeviceWorld(win::DeviceWorldKind::Host));
  } catch (...) {
    failure = std::current_exception();
  }
  if (failure) {
    // Without this machine's ports the window still runs, on an empty bench.
    TApplication::ShowException(failure);
    win::InstallDeviceWorld(win::bench::BenchWorld::Create());
  }

  TForm1 form1;
  TForm2 form2(&form1);
  form1.SetAboutForm(&form2);
  form1.show();
  return QApplication::exec();
}

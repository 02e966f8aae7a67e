// talvik-demo [BENCH]: the main window on a simulated bench, read from a bench file or found by
// its name ("demo" when none is given).

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <optional>
#include <string>

#include "app/Application.h"
#include "app/BenchFiles.h"
#include "app/ProgramStart.h"
#include "app/Texts.h"
#include "app/Unit1.h"
#include "app/aboutForm.h"
#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"

namespace {

// With TALVIK_SCREENSHOT=file.png the window is saved there when the first scan has finished,
// and the program ends.
void ScreenshotAfterFirstScan(TForm1& form, const QString& path) {
  QObject::connect(&form, &TForm1::ScanFinished, &form, [&form, path] {
    QTimer::singleShot(200, &form, [&form, path] {
      const QPixmap shot = form.grab();
      if (!shot.save(path)) {
        std::fprintf(stderr, "talvik-demo: cannot write %s\n", qPrintable(path));
        QApplication::exit(1);
        return;
      }
      QApplication::quit();
    });
  });
}

constexpr char kUsage[] =
    "usage: talvik-demo [BENCH]\n"
    "The Talvik window on a simulated bench of serial devices.\n"
    "  BENCH: a bench file (JSON), or the name of one that comes with Talvik;\n"
    "         \"demo\" when left out\n"
    "  -h, --help   show this text\n"
    "  --version    show the version\n";

}  // namespace

int main(int argc, char* argv[]) {
  if (const std::optional<int> status = AnswerInfoOption(argc, argv, "talvik-demo", kUsage)) {
    return *status;
  }
  std::optional<TDisplayStart> start(std::in_place, "talvik-demo");
  QApplication qt(argc, argv);  // takes Qt's own options (-platform, ...) out of argv
  start.reset();
  const std::string bench = argc >= 2 ? argv[1] : "demo";
  if (argc > 2) {
    std::fputs(kUsage, stderr);
    return 2;
  }
  try {
    win::InstallDeviceWorld(win::bench::BenchWorld::LoadFile(FindBenchFile(bench)));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "talvik-demo: %s\n", e.what());
    return 2;
  }

  TApplication application(texts::kTitle);
  TForm1 form1;
  TForm2 form2(&form1);
  form1.SetAboutForm(&form2);
  const QString screenshot = qEnvironmentVariable("TALVIK_SCREENSHOT");
  if (!screenshot.isEmpty()) {
    ScreenshotAfterFirstScan(form1, screenshot);
  }
  form1.show();
  return QApplication::exec();
}

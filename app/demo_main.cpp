// talvik-demo FILE: the main window on a simulated bench read from a bench file.

#include <QApplication>
#include <QImage>
#include <QPixmap>
#include <QScreen>
#include <QTimer>
#include <cstdio>
#include <exception>
#include <string>

#include "app/Application.h"
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

}  // namespace

int main(int argc, char* argv[]) {
  if (argc != 2) {
    std::fprintf(stderr,
                 "usage: talvik-demo FILE\n  FILE: a bench file (JSON), e.g. benches/demo.json\n");
    return 2;
  }
  try {
    win::InstallDeviceWorld(win::bench::BenchWorld::LoadFile(argv[1]));
  } catch (const std::exception& e) {
    std::fprintf(stderr, "talvik-demo: %s\n", e.what());
    return 2;
  }

  QApplication qt(argc, argv);
  TApplication application("Тальвик");
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

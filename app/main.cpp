// talvik: the main window on this machine's own serial ports.

#include <QApplication>
#include <exception>

#include "app/Application.h"
#include "app/Unit1.h"
#include "app/aboutForm.h"
#include "platform/bench/BenchWorld.h"
#include "platform/devices/DeviceWorldRegistry.h"

int main(int argc, char* argv[]) {
  QApplication qt(argc, argv);
  TApplication application("Тальвик");

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

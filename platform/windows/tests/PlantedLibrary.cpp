// A library planted beside the test program under a system library's name: the layer must never
// load it. Its one export tells it apart from the system's.

extern "C" __declspec(dllexport) int TalvikPlantedLibrary() {
  return 1;
}

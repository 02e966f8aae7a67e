// What a row repaint and the About window cost: the row paints its two pictures on every
// repaint, and the About window is built once at start.
#include <benchmark/benchmark.h>

#include "app/Pictures.h"
#include "app/aboutForm.h"

namespace {

// The two pictures of one row as it paints them: its state icon and the gear.
void BM_RowPicturesPaint(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(RowImage(1).pixmap(16, 16));
    benchmark::DoNotOptimize(RowImage(5).pixmap(16, 16));
  }
}
BENCHMARK(BM_RowPicturesPaint);

void BM_ApplicationIcon(benchmark::State& state) {
  for (auto _ : state) {
    benchmark::DoNotOptimize(ApplicationIcon());
  }
}
BENCHMARK(BM_ApplicationIcon);

void BM_AboutWindowBuild(benchmark::State& state) {
  for (auto _ : state) {
    TForm2 form;
    benchmark::DoNotOptimize(form.size());
  }
}
BENCHMARK(BM_AboutWindowBuild)->Unit(benchmark::kMicrosecond);

}  // namespace

// One zoom step of the editor showing a network of 65,535 elements, with the repaint of what it
// then shows, rendered offscreen. The zoom alternates between two steps about the middle of the editor.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QImage>
#include <filesystem>

#include "BenchNetworks.h"
#include "editor/EditorWindow.h"

namespace {

using namespace busweave;

class NoHost : public TEditorHost {
 public:
  void ShowModeButtons(bool, TMode) override {}
  void ShowPosition(const QString&, const QString&) override {}
  TPrompts& Prompts() override { std::abort(); }
};

void zoomStep(benchmark::State& State, double From, double To) {
  const std::string path = bench::benchFile("zoom.bwn");
  bench::writeFile(path, bench::chainFile(32768, 256));  // 32,768 nodes and 32,767 wires
  NoHost host;
  TSubForm editor(nullptr, TFrameLink{}, path, {200, 200}, DrawingScale, &host);
  editor.resize(800, 600);
  editor.show();
  editor.SetZoom(From);
  editor.SetScrollOffset({6000, 4000});
  // The editor as the screen would show it: the surface clipped to the visible part.
  QImage screen(editor.size(), QImage::Format_ARGB32_Premultiplied);
  editor.render(&screen);
  bool in = true;
  for (auto _ : State) {
    editor.SetZoom(in ? To : From);
    editor.render(&screen);
    in = !in;
  }
  State.SetLabel("800 x 600 editor, 65535 elements");
  std::filesystem::remove(path);
}

void BM_ZoomStep100To150(benchmark::State& State) { zoomStep(State, 1.0, 1.5); }
void BM_ZoomStep50To75(benchmark::State& State) { zoomStep(State, 0.5, 0.75); }
void BM_ZoomStep10To12(benchmark::State& State) { zoomStep(State, 0.1, 0.125); }
BENCHMARK(BM_ZoomStep100To150)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomStep50To75)->Unit(benchmark::kMillisecond);
BENCHMARK(BM_ZoomStep10To12)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

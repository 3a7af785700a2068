// Painting an 800 x 600 part of a network of 65,535 elements into an offscreen image, as the
// editor paints the exposed region of its surface.

#include <benchmark/benchmark.h>

#include <QGuiApplication>
#include <QImage>
#include <QPainter>

#include "BenchNetworks.h"
#include "drawing/NetworkDrawing.h"
#include "picture/QPainterCanvas.h"

namespace {

using namespace busweave;

void BM_PaintRegion(benchmark::State& State) {
  TCanNodes net(120, 1500, 120);
  bench::loadChain(net, 32768, 256, "paint.bwn");
  TPlotSettings settings;
  settings.DrawingFont = {"Arial", 8, clBlue};
  const TPoint extent{net.FMaxX() + 100, net.FMaxY() + 100};
  const TPoint regionOrigin{6000, 4000};  // surface pixels, somewhere in the middle

  QImage image(800, 600, QImage::Format_ARGB32_Premultiplied);
  for (auto _ : State) {
    image.fill(Qt::white);
    QPainter painter(&image);
    painter.setClipRect(0, 0, 800, 600);
    TQPainterCanvas canvas(painter);
    canvas.SetFont(settings.DrawingFont);
    TMapping mapping;
    mapping.Isotropic = true;
    mapping.WindowExt = extent;
    mapping.ViewportExt = {extent.X, -extent.Y};
    mapping.WindowOrg = {0, extent.Y};
    mapping.ViewportOrg = {-regionOrigin.X, -regionOrigin.Y};
    canvas.SetMapping(mapping);
    PlotNetwork(canvas, net, settings, ptScreen, true, {1, 1}, canvas.LogicalClip());
  }
  State.SetLabel("800 x 600 of 65535 elements");
}
BENCHMARK(BM_PaintRegion)->Unit(benchmark::kMillisecond);

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QGuiApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

// The editor on a network of 65,535 elements, through the real windows (offscreen): opening a
// document until the editor and its overview have painted once, one edit and the repaint it
// causes, and one scroll step. Wall time; every repaint is processed before the clock stops.

#include <benchmark/benchmark.h>

#include <QApplication>
#include <QElapsedTimer>
#include <QEvent>
#include <QMdiArea>
#include <QScrollArea>
#include <QScrollBar>
#include <QVBoxLayout>
#include <chrono>

#include "BenchNetworks.h"
#include "editor/EditorWindow.h"
#include "frame/DocumentFrame.h"
#include "gui/Prompts.h"

namespace {

using namespace busweave;

class BenchHost : public TEditorHost {
 public:
  void ShowModeButtons(bool, TMode) override {}
  void ShowPosition(const QString&, const QString&) override {}
  TPrompts& Prompts() override { return FPrompts; }
  TDialogPrompts FPrompts;  // never asked: the files are sound and stay unmodified
};

// Counts the paint events a widget has been sent.
class PaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

// 32768 nodes and 32767 wires: the full network.
const std::string& fullNetwork() {
  static const std::string path = [] {
    const std::string file = bench::benchFile("editor-full.bwn");
    bench::writeFile(file, bench::chainFile(32768, 256));
    return file;
  }();
  return path;
}

// The full network less its last wire, so that drawing one wire fills it again.
const std::string& roomForOneWire() {
  static const std::string path = [] {
    TCanNodes net(120, 1500, 120);
    net.LoadNetwork(fullNetwork());
    net.DeleteElement(net.Count() - 1);
    const std::string file = bench::benchFile("editor-one-less.bwn");
    net.SaveNetwork(file);
    return file;
  }();
  return path;
}

// A main window stand-in: the document area the frames open in.
struct Desk {
  Desk() {
    Area = new QMdiArea(&Main);
    auto* layout = new QVBoxLayout(&Main);
    layout->setContentsMargins(0, 0, 0, 0);
    layout->addWidget(Area);
    Main.resize(1280, 800);
    Main.show();
    QApplication::processEvents();
  }
  BenchHost Host;
  QWidget Main;
  QMdiArea* Area;
};

// Processes events until both surfaces have been painted since the counts were taken.
bool processUntilPainted(PaintCounter& Editor, int EditorBefore, PaintCounter* Overview, int OverviewBefore) {
  QElapsedTimer guard;
  guard.start();
  while (Editor.Paints == EditorBefore || (Overview && Overview->Paints == OverviewBefore)) {
    if (guard.elapsed() > 30000) return false;
    QApplication::processEvents(QEventLoop::AllEvents);
  }
  return true;
}

// A large network's overview is drawn on a thread of its own: processes events until the
// overview shows the network as it is and has been painted with it.
bool waitForOverview(TMDIChild* Frame, PaintCounter& Overview) {
  QElapsedTimer guard;
  guard.start();
  while (!Frame->OverviewCurrent()) {
    if (guard.elapsed() > 30000) return false;
    QApplication::processEvents(QEventLoop::AllEvents);
  }
  return processUntilPainted(Overview, Overview.Paints, nullptr, 0);
}

void closeDocument(TMDIChild* Frame) {
  Frame->DestroyDocument();
  QApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  QApplication::processEvents();
}

void BM_OpenToFirstPaint(benchmark::State& State) {
  Desk desk;
  const std::string& path = fullNetwork();
  for (auto _ : State) {
    QElapsedTimer clock;
    clock.start();
    TMDIChild* frame = TMDIChild::Open(desk.Area, &desk.Host, path, {200, 200});
    PaintCounter editorPaints;
    PaintCounter overviewPaints;
    frame->Editor()->PaintBox1()->installEventFilter(&editorPaints);
    frame->PaintBox1->installEventFilter(&overviewPaints);
    if (!processUntilPainted(editorPaints, 0, &overviewPaints, 0) || !waitForOverview(frame, overviewPaints))
      State.SkipWithError("never painted");
    State.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
    State.PauseTiming();
    frame->Editor()->PaintBox1()->removeEventFilter(&editorPaints);
    frame->PaintBox1->removeEventFilter(&overviewPaints);
    closeDocument(frame);
    State.ResumeTiming();
  }
  State.SetLabel("65535 elements");
}
BENCHMARK(BM_OpenToFirstPaint)->Unit(benchmark::kMillisecond)->UseManualTime()->Iterations(5);

// One open document of 65,534 elements with its two surfaces painted.
struct OpenDocument {
  OpenDocument() {
    Frame = TMDIChild::Open(desk.Area, &desk.Host, roomForOneWire(), {200, 200});
    Editor = Frame->Editor();
    Editor->PaintBox1()->installEventFilter(&EditorPaints);
    Frame->PaintBox1->installEventFilter(&OverviewPaints);
    processUntilPainted(EditorPaints, 0, &OverviewPaints, 0);
    Settle();
  }
  ~OpenDocument() {
    Editor->PaintBox1()->removeEventFilter(&EditorPaints);
    Frame->PaintBox1->removeEventFilter(&OverviewPaints);
    closeDocument(Frame);
  }
  // Runs Edit and processes events until both surfaces have repainted; the wall time taken.
  double Timed(const std::function<void()>& Edit, benchmark::State& State) {
    const int editorBefore = EditorPaints.Paints;
    const int overviewBefore = OverviewPaints.Paints;
    QElapsedTimer clock;
    clock.start();
    Edit();
    if (!processUntilPainted(EditorPaints, editorBefore, &OverviewPaints, overviewBefore))
      State.SkipWithError("the edit was not repainted");
    return static_cast<double>(clock.nsecsElapsed()) * 1e-9;
  }
  // A user action on the surface: press, move and release at surface points.
  void Drag(TPoint From, TPoint To) {
    Editor->PaintBox1MouseDown(From);
    Editor->PaintBox1MouseMove(To);
    Editor->PaintBox1MouseUp(To);
  }
  // Lets anything queued by the last edit (a bus check, the overview, a late repaint) finish untimed.
  void Settle() {
    QElapsedTimer guard;
    guard.start();
    while ((Editor->CheckPending() || !Frame->OverviewCurrent()) && guard.elapsed() < 30000)
      QApplication::processEvents(QEventLoop::AllEvents);
    for (int i = 0; i < 3; ++i) QApplication::processEvents();
  }

  Desk desk;
  TMDIChild* Frame;
  TSubForm* Editor;
  PaintCounter EditorPaints;
  PaintCounter OverviewPaints;
};

// A diagonal wire between two nodes near the top-left corner that no wire joins yet.
constexpr TPoint kWireFrom{200, 200};
constexpr TPoint kWireTo{300, 300};
constexpr TPoint kTerminated{400, 400};

void BM_EditDrawWire(benchmark::State& State) {
  OpenDocument doc;
  for (auto _ : State) {
    doc.Editor->SetFMode(mDrawTRMLine);
    State.SetIterationTime(doc.Timed([&] { doc.Drag(kWireFrom, kWireTo); }, State));
    doc.Editor->UnDo();
    doc.Settle();
  }
}
BENCHMARK(BM_EditDrawWire)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_EditPlaceTermination(benchmark::State& State) {
  OpenDocument doc;
  for (auto _ : State) {
    doc.Editor->SetFMode(mPlaceZL);
    State.SetIterationTime(doc.Timed([&] { doc.Drag(kTerminated, kTerminated); }, State));
    doc.Editor->UnDo();
    doc.Settle();
  }
}
BENCHMARK(BM_EditPlaceTermination)->Unit(benchmark::kMillisecond)->UseManualTime();

// The same edit with the editor zoomed out to 10 %, where it shows a hundred times the area.
void BM_EditPlaceTerminationAtTenth(benchmark::State& State) {
  OpenDocument doc;
  doc.Editor->SetZoom(0.1);
  doc.Settle();
  for (auto _ : State) {
    doc.Editor->SetFMode(mPlaceZL);
    State.SetIterationTime(doc.Timed([&] { doc.Drag(kTerminated, kTerminated); }, State));
    doc.Editor->UnDo();
    doc.Settle();
  }
}
BENCHMARK(BM_EditPlaceTerminationAtTenth)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_EditUndo(benchmark::State& State) {
  OpenDocument doc;
  for (auto _ : State) {
    doc.Editor->SetFMode(mPlaceZL);
    doc.Drag(kTerminated, kTerminated);
    doc.Settle();
    State.SetIterationTime(doc.Timed([&] { doc.Editor->UnDo(); }, State));
    doc.Settle();
  }
}
BENCHMARK(BM_EditUndo)->Unit(benchmark::kMillisecond)->UseManualTime();

void BM_EditRedo(benchmark::State& State) {
  OpenDocument doc;
  for (auto _ : State) {
    doc.Editor->SetFMode(mDrawTRMLine);
    doc.Drag(kWireFrom, kWireTo);
    doc.Editor->UnDo();
    doc.Settle();
    State.SetIterationTime(doc.Timed([&] { doc.Editor->ReDo(); }, State));
    doc.Editor->UnDo();
    doc.Settle();
  }
}
BENCHMARK(BM_EditRedo)->Unit(benchmark::kMillisecond)->UseManualTime();

// After an edit, the time until the overview shows it and the bus check has delivered its findings
// (both off the window's thread on a network this large).
void BM_EditUntilOverviewAndCheck(benchmark::State& State) {
  OpenDocument doc;
  for (auto _ : State) {
    doc.Editor->SetFMode(mPlaceZL);
    QElapsedTimer clock;
    clock.start();
    doc.Drag(kTerminated, kTerminated);
    doc.Settle();
    State.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
    doc.Editor->UnDo();
    doc.Settle();
  }
}
BENCHMARK(BM_EditUntilOverviewAndCheck)->Unit(benchmark::kMillisecond)->UseManualTime();

// One step of the vertical scroll bar, down and back up in turn, until the exposed strip is painted.
void BM_ScrollStep(benchmark::State& State) {
  OpenDocument doc;
  QScrollBar* bar = doc.Editor->ScrollBox1()->verticalScrollBar();
  bar->setValue(bar->maximum() / 2);
  doc.Settle();
  int direction = 1;
  for (auto _ : State) {
    const int editorBefore = doc.EditorPaints.Paints;
    QElapsedTimer clock;
    clock.start();
    bar->setValue(bar->value() + direction * bar->singleStep());
    if (!processUntilPainted(doc.EditorPaints, editorBefore, nullptr, 0)) State.SkipWithError("never repainted");
    State.SetIterationTime(static_cast<double>(clock.nsecsElapsed()) * 1e-9);
    direction = -direction;
  }
}
BENCHMARK(BM_ScrollStep)->Unit(benchmark::kMillisecond)->UseManualTime();

}  // namespace

int main(int argc, char** argv) {
  qputenv("QT_QPA_PLATFORM", "offscreen");
  QApplication app(argc, argv);
  benchmark::Initialize(&argc, argv);
  benchmark::RunSpecifiedBenchmarks();
  benchmark::Shutdown();
  return 0;
}

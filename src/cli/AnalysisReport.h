#pragma once

// The self-contained HTML report of busweave-cli analyze (and analyze-merge), and the parts of
// it that other reports of the bus are built from: the page's head and style, the drawing, eye
// diagrams and waveform plots as inline SVG, and the texts of numbers, rates and times. No
// file is read or written here; the page is returned as text.

#include <cstdint>
#include <memory>
#include <optional>
#include <string>
#include <utility>
#include <vector>

#include "analysis/AnalysisRun.h"
#include "base/Units.h"
#include "model/BusCheck.h"
#include "verdict/BusAnalysis.h"
#include "verdict/StreamVerdict.h"

namespace busweave {
class TCanNodes;
struct TPlot;
}  // namespace busweave

namespace busweave::cli {

// Everything a report or the output needs beyond the verdict.
struct TAnalysis {
  std::string File;
  std::string Templates;
  TAnalysisSettings Settings;
  std::vector<std::string> Stations;
  std::vector<TTransmitterRun> Runs;  // in station order
  std::optional<TAnalysisPlan> Plan;  // the runs' own plan; the merge plans again from the files
  // The network as the runs read it, names numbered; the merge reads the file again.
  std::shared_ptr<TCanNodes> Net;
};

// Text made safe for HTML and for SVG inside it.
std::string HtmlEscaped(const std::string& Text);
// A number in a printf format: "%.4g" reads 0.9, 255, 1.234e+06.
std::string NumberText(double Value, const char* Format = "%.4g");
// "335.2 ns"; "never" for no time.
std::string NsText(const std::optional<double>& Seconds);
// What decided a rate, in words.
std::string WorstText(const TRateVerdict& Rate);
// The driver alone into the reference load, in a sentence without its full stop.
std::string DriverText(const TStreamVerdict& Verdict);

// The page from its doctype to the opening body tag: UTF-8, the title, and the report's style
// (tables, the works and fails colours, a drawing scaled to the page) with ExtraStyle after it.
std::string ReportHead(const std::string& Title, const std::string& ExtraStyle = {});

// The network's drawing as inline SVG (no XML prolog), as the picture command renders it. Empty,
// with Problem saying why, when it cannot be drawn.
std::string DrawingSvg(TCanNodes& Net, const std::string& File, std::string& Problem);
// A plot as inline SVG of Width by Height pixels, drawn by the plot routine the waveform window
// uses; empty when no graphical application can be made to measure its text.
std::string PlotSvgText(const TPlot& Plot, int Width, int Height);
// A station's bits folded onto one bit time, with the thresholds and the sample point, over
// Volts (or its own range).
std::string EyeSvg(const TEye& Eye, const TThresholds& Thresholds,
                   std::optional<std::pair<double, double>> Volts = std::nullopt);
// The voltage range an eye is drawn over (with room above): eyes drawn side by side share it.
std::pair<double, double> EyeRange(const std::vector<const TEye*>& Eyes, const TThresholds& Thresholds);
// The transmitter's and the receiver's node voltages of an edge run with the thresholds, and a
// labelled line at each sample point (solid at a rate that works, dashed at one that fails).
std::string WaveformSvg(const TPlotTrace& Sent, const TPlotTrace& Seen, const std::string& SentName,
                        const std::string& SeenName, const TThresholds& Thresholds,
                        const std::vector<TEdgeSamplePoint>& SamplePoints = {});

// The edge runs' dominant TXD edge and planned hold (s), where each pair's sample points are
// drawn from.
struct TEdgeTimes {
  double EdgeAt = 0.0;
  double Hold = 0.0;
};

// The analysis report: verdict, drawing, bus check, eyes, margins, the deciding pairs'
// waveforms with the receiver's sample points (none drawn without Edges) and every pair's figures.
std::string AnalysisReportHtml(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings,
                               TCanNodes& Net, const std::optional<TEdgeTimes>& Edges);

}  // namespace busweave::cli

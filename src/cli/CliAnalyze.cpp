// busweave-cli analyze, analyze-merge and the hidden analyze-worker: the bus analysis on the
// command line, its shards, and the self-contained HTML report.

#include <unistd.h>

#include <QGuiApplication>
#include <algorithm>
#include <climits>
#include <cmath>
#include <cstdio>
#include <filesystem>
#include <fstream>
#include <iostream>
#include <nlohmann/json.hpp>
#include <set>
#include <sstream>
#include <thread>

#include "circuit/CircuitFile.h"
#include "cli/AnalysisOptions.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "model/BusCheck.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"
#include "model/SafeFile.h"
#include "picture/MarkupText.h"
#include "picture/PictureRendering.h"
#include "sim/AnalysisPart.h"
#include "sim/AnalysisRun.h"
#include "sim/BusAnalysis.h"

namespace busweave::cli {
namespace {

constexpr const char* kAnalyzeHelp =
    "Usage: busweave-cli analyze FILE [--templates DIR] [--json] [--jobs N] [--report OUT.html]\n"
    "                            [--require-bitrate N] [--shard I/N] [OPTIONS]\n"
    "\n"
    "Tells at which bit rates the bus of the network file FILE works. For each station with a\n"
    "driver in turn, the circuit (templates as the circuit command takes them) is simulated\n"
    "with that driver sending one dominant and one recessive TXD edge and every other one held\n"
    "at its recessive level. From every station's responses a worst-case bit stream is built at\n"
    "each rate and decoded as a CAN controller decodes it (hard sync, resynchronisation, sample\n"
    "point; the transmitter itself at its secondary sample point). A rate works when every\n"
    "station reads every bit right and, in the arbitration phase, every\n"
    "2 x (bus delay + loop delay) <= SP x T, the bus delay timed from the TXD edge less the\n"
    "driver's own delay into 60 ohms.\n"
    "\n"
    "Options:\n"
    "  --dominant V              dominant threshold (default 0.9 V)\n"
    "  --recessive V             recessive threshold (default 0.5 V)\n"
    "  --loop-delay NS           transceiver loop delay (default 255 ns)\n"
    "  --sample-point PERCENT    arbitration sample point (default 80)\n"
    "  --data-sample-point PERCENT  data phase sample point (default 70)\n"
    "  --sjw PERCENT             arbitration synchronisation jump width (default 20)\n"
    "  --data-sjw PERCENT        data phase synchronisation jump width (default 30)\n"
    "  --no-compensation         judge the bus with the driver's own asymmetry left in\n"
    "  --no-confirm              skip the full runs of the stream that check the verdict\n"
    "  --arbitration-rates LIST  bit/s, comma-separated, k and M allowed\n"
    "                            (default 125k,250k,500k,800k,1M)\n"
    "  --data-rates LIST         (default 1M,2M,4M,5M,8M)\n"
    "  --require-bitrate N       the arbitration rate that decides the exit code (default 500k)\n"
    "  --jobs N                  worker processes at a time (default: the number of cores)\n"
    "  --shard I/N               run the I-th of N parts (1 <= I <= N) of the transmitters and\n"
    "                            print them as a part for analyze-merge\n"
    "  --report OUT.html         write a self-contained report: drawing, verdicts, pairs,\n"
    "                            bus-check findings and the worst pairs' waveforms\n"
    "Prints the verdict table (or JSON with --json). Exit code 0 when the bus works at the\n"
    "required rate, 1 when it does not or the input is bad, 2 on usage errors.\n";

constexpr const char* kMergeHelp =
    "Usage: busweave-cli analyze-merge PART... [--json] [--report OUT.html] [--no-confirm]\n"
    "\n"
    "Joins the parts that 'analyze --shard I/N' printed into the result an analysis of all\n"
    "transmitters at once gives: the same table, JSON, report and exit code. The parts must\n"
    "come from the same network file (its bytes), templates and options, which each part\n"
    "records as digests, and cover every transmitter once. The report reads the network file\n"
    "the parts name; it replaces neither that file, nor a template, nor a part. The deciding\n"
    "rates are checked by full runs of the stream on this machine, from the network file and\n"
    "templates the parts name, as analyze checks them (--no-confirm skips them).\n";

// Plots of the worst pairs in a report.
constexpr std::size_t kMostPlots = 6;

// Everything a report or the output needs beyond the verdict.
struct TAnalysis {
  std::string File;
  std::string Templates;
  TAnalysisSettings Settings;
  std::vector<std::string> Stations;
  std::vector<TTransmitterRun> Runs;  // in station order
  std::optional<TAnalysisPlan> Plan;  // the runs' own plan; the merge plans again from the files
};

TJson nanoseconds(const std::optional<double>& Seconds) {
  return Seconds ? JsonFloat(static_cast<float>(*Seconds * 1e9)) : TJson(nullptr);
}

TJson resultJson(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings) {
  const TAnalysisSettings& s = A.Settings;
  const TBusVerdict& Verdict = Stream.Bus;
  TJson rates = TJson::array();
  for (const TRateVerdict& r : Verdict.Rates) {
    TJson worst = nullptr;
    if (r.Worst)
      worst = {{"transmitter", r.Worst->Transmitter},
               {"receiver", r.Worst->Receiver},
               {"edge", EdgeName(r.Worst->Edge)},
               {"figure", r.Worst->Figure},
               {"value_ns", nanoseconds(r.Worst->Value)},
               {"limit_ns", nanoseconds(r.Worst->Limit)},
               {"text", r.Worst->Text}};
    rates.push_back({{"phase", PhaseName(r.Phase)}, {"bitrate", r.BitRate}, {"works", r.Works}, {"worst", worst}});
  }
  TJson margins = TJson::array();
  for (const TReceiverMargin& m : Stream.Margins)
    margins.push_back({{"phase", PhaseName(m.Phase)},
                       {"bitrate", m.BitRate},
                       {"transmitter", m.Transmitter},
                       {"receiver", m.Receiver},
                       {"own", m.Own},
                       {"works", m.Works},
                       {"early_margin_ns", nanoseconds(m.EarlyMargin)},
                       {"late_margin_ns", nanoseconds(m.LateMargin)},
                       {"voltage_margin_v", JsonFloat(static_cast<float>(m.VoltageMargin))},
                       {"text", m.Text}});
  TJson check = TJson::array();
  for (const TFinding& f : Findings)
    check.push_back({{"severity", SeverityName(f.Severity)}, {"message", NameToUtf8(f.Message)}});
  const TJson driver = {{"dominant_delay_ns", nanoseconds(Stream.DriverDominantDelay)},
                        {"recessive_delay_ns", nanoseconds(Stream.DriverRecessiveDelay)},
                        {"compensated", Stream.Compensated},
                        {"max_data_bitrate", Stream.DriverMaxDataRate}};
  TJson pairs = TJson::array();
  for (const TPairMeasure& p : PairsOf(A.Runs))
    pairs.push_back({{"transmitter", p.TransmitterName},
                     {"receiver", p.ReceiverName},
                     {"edge", EdgeName(p.Edge)},
                     {"delay_ns", nanoseconds(p.Delay)},
                     {"settle_ns", nanoseconds(p.Settle)},
                     {"overshoot_v", JsonFloat(static_cast<float>(p.Overshoot))},
                     {"undershoot_v", JsonFloat(static_cast<float>(p.Undershoot))},
                     {"false_edge", p.FalseEdge.has_value()}});
  TJson parameters = {{"dominant_threshold_v", JsonFloat(static_cast<float>(s.Thresholds.Dominant))},
                      {"recessive_threshold_v", JsonFloat(static_cast<float>(s.Thresholds.Recessive))},
                      {"loop_delay_ns", JsonFloat(static_cast<float>(s.LoopDelay * 1e9))},
                      {"sample_point", JsonFloat(static_cast<float>(s.SamplePoint))},
                      {"data_sample_point", JsonFloat(static_cast<float>(s.DataSamplePoint))},
                      {"sjw", JsonFloat(static_cast<float>(s.Sjw))},
                      {"data_sjw", JsonFloat(static_cast<float>(s.DataSjw))},
                      {"compensate_driver", s.CompensateDriver},
                      {"arbitration_rates", s.ArbitrationRates},
                      {"data_rates", s.DataRates},
                      {"required_bitrate", s.RequiredRate}};
  return {{"file", A.File},
          {"parameters", parameters},
          {"max_arbitration_bitrate", Verdict.MaxArbitrationRate},
          {"max_data_bitrate", Verdict.MaxDataRate},
          {"bus_check", check},
          {"driver", driver},
          {"confirmations", Stream.Confirmations},
          {"rates", rates},
          {"margins", margins},
          {"pairs", pairs}};
}

std::string rateText(std::int64_t Rate) {
  char text[32];
  if (Rate >= 1000000 && Rate % 1000 == 0)
    std::snprintf(text, sizeof text, "%g Mbit/s", static_cast<double>(Rate) / 1e6);
  else if (Rate >= 1000)
    std::snprintf(text, sizeof text, "%g kbit/s", static_cast<double>(Rate) / 1e3);
  else
    std::snprintf(text, sizeof text, "%lld bit/s", static_cast<long long>(Rate));
  return text;
}

std::string nsText(const std::optional<double>& Seconds) {
  if (!Seconds) return "never";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ns", *Seconds * 1e9);
  return text;
}

// What decided the rate, in words.
std::string worstText(const TRateVerdict& R) {
  if (!R.Worst) return "no pairs";
  if (!R.Worst->Text.empty()) return R.Worst->Text;
  const TWorstPair& w = *R.Worst;
  const std::string text = w.Transmitter + " -> " + w.Receiver + ", " + EdgeName(w.Edge) + " edge: ";
  if (w.Figure == "no_edge") return text + "the receiver never reaches the threshold";
  if (w.Figure == "false_edge") return text + "false edge after " + nsText(w.Value);
  if (!w.Value) return text + "never settles";
  return text + (w.Figure == "settle" ? "settles in " : "round trip ") + nsText(w.Value) + (R.Works ? " <= " : " > ") +
         nsText(w.Limit);
}

// The driver alone into the reference load, in a sentence.
std::string driverText(const TStreamVerdict& V) {
  std::string text = "the driver alone into 60 ohms: dominant edge " + nsText(V.DriverDominantDelay) +
                     ", recessive edge " + nsText(V.DriverRecessiveDelay) + " after its TXD edge";
  if (V.DriverDominantDelay && V.DriverRecessiveDelay)
    text += std::string(" (asymmetry ") + nsText(*V.DriverRecessiveDelay - *V.DriverDominantDelay) +
            (V.Compensated ? ", taken out of the bus's streams)" : ", left in)");
  return text + "; its own bits decode right up to " +
         (V.DriverMaxDataRate ? rateText(V.DriverMaxDataRate) : std::string("no data rate"));
}

void printTable(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings,
                std::ostream& Out) {
  const TBusVerdict& Verdict = Stream.Bus;
  Out << A.File << ": " << A.Stations.size() << " stations\n";
  for (const TFinding& f : Findings)
    if (f.Severity == TSeverity::Error) Out << "bus check error: " << NameToPrintable(NameToUtf8(f.Message)) << "\n";
  for (const TRateVerdict& r : Verdict.Rates) {
    char head[64];
    std::snprintf(head, sizeof head, "%-12s %-12s %-6s ", PhaseName(r.Phase), rateText(r.BitRate).c_str(),
                  r.Works ? "works" : "FAILS");
    Out << head << NameToPrintable(worstText(r)) << "\n";
  }
  Out << "highest arbitration rate: "
      << (Verdict.MaxArbitrationRate ? rateText(Verdict.MaxArbitrationRate) : std::string("none"))
      << "; highest data rate: " << (Verdict.MaxDataRate ? rateText(Verdict.MaxDataRate) : std::string("none")) << "\n";
  Out << NameToPrintable(driverText(Stream)) << "\n";
  for (const std::string& c : Stream.Confirmations) Out << NameToPrintable(c) << "\n";
}

std::string htmlEscaped(const std::string& Text) { return MarkupEscaped(Text); }

std::string number(double Value, const char* Format = "%.4g") {
  char text[32];
  std::snprintf(text, sizeof text, Format, Value);
  return text;
}

// An SVG plot's frame: time in ns across, volts up, five labels on each axis.
struct TSvgPlot {
  static constexpr double L = 50, R = 10, T = 10, B = 30;
  double W, H, TMax, VMin, VMax;
  double X(double Seconds) const { return L + (W - L - R) * Seconds / TMax; }
  double Y(double Volts) const { return T + (H - T - B) * (VMax - Volts) / (VMax - VMin); }
  std::string Frame() const {
    std::string svg = "<svg xmlns=\"http://www.w3.org/2000/svg\" viewBox=\"0 0 " + number(W) + " " + number(H) +
                      "\" width=\"" + number(W) + "\" height=\"" + number(H) + "\" font-size=\"11\">\n";
    svg += "<rect x=\"" + number(L) + "\" y=\"" + number(T) + "\" width=\"" + number(W - L - R) + "\" height=\"" +
           number(H - T - B) + "\" fill=\"none\" stroke=\"#888\"/>\n";
    for (int i = 0; i <= 4; ++i) {
      const double t = TMax * i / 4;
      svg += "<text x=\"" + number(X(t)) + "\" y=\"" + number(H - 12) + "\" text-anchor=\"middle\">" +
             number(t * 1e9, "%.0f") + " ns</text>\n";
      const double v = VMin + (VMax - VMin) * i / 4;
      svg += "<text x=\"" + number(L - 4) + "\" y=\"" + number(Y(v) + 4) + "\" text-anchor=\"end\">" +
             number(v, "%.2f") + " V</text>\n";
    }
    return svg;
  }
};

// A plot of the transmitter's and the receiver's node voltage with the thresholds.
std::string plotSvg(const TPlotTrace& Sent, const TPlotTrace& Seen, const std::string& SentName,
                    const std::string& SeenName, const TThresholds& Th) {
  constexpr double W = 640, H = 240, L = TSvgPlot::L, R = TSvgPlot::R, T = TSvgPlot::T;
  double tMax = 0, vMin = std::min(0.0, Th.Recessive), vMax = Th.Dominant;
  for (const TPlotTrace* t : {&Sent, &Seen}) {
    if (!t->Time.empty()) tMax = std::max(tMax, t->Time.back());
    for (const double v : t->Volts) vMin = std::min(vMin, v), vMax = std::max(vMax, v);
  }
  if (tMax <= 0) tMax = 1e-9;
  vMax += 0.1 * (vMax - vMin);
  const TSvgPlot plot{W, H, tMax, vMin, vMax};
  const auto x = [&](double t) { return plot.X(t); };
  const auto y = [&](double v) { return plot.Y(v); };
  std::string svg = plot.Frame();
  for (const double level : {Th.Dominant, Th.Recessive})
    svg += "<line x1=\"" + number(L) + "\" x2=\"" + number(W - R) + "\" y1=\"" + number(y(level)) + "\" y2=\"" +
           number(y(level)) + "\" stroke=\"#999\" stroke-dasharray=\"4 3\"/>\n";
  for (const auto& [trace, colour] : {std::pair{&Sent, "#1f5fbf"}, std::pair{&Seen, "#c0392b"}}) {
    svg += "<polyline fill=\"none\" stroke=\"" + std::string(colour) + "\" stroke-width=\"1.2\" points=\"";
    for (std::size_t i = 0; i < trace->Time.size(); ++i)
      svg += number(x(trace->Time[i]), "%.1f") + "," + number(y(trace->Volts[i]), "%.1f") + " ";
    svg += "\"/>\n";
  }
  svg += "<text x=\"" + number(L + 6) + "\" y=\"" + number(T + 14) + "\" fill=\"#1f5fbf\">" + htmlEscaped(SentName) +
         " (transmitter)</text>\n";
  svg += "<text x=\"" + number(L + 6) + "\" y=\"" + number(T + 28) + "\" fill=\"#c0392b\">" + htmlEscaped(SeenName) +
         " (receiver)</text>\n</svg>\n";
  return svg;
}

// The drawing as inline SVG, without the XML prolog and scaled to the page.
std::string drawingSvg(TCanNodes& Net, const std::string& File, std::string& Problem) {
  const std::optional<TPictureSource> source = NetworkPicture(Net, File, Problem);
  if (!source) return "";
  try {
    std::string svg = RenderPicture(*source, TPictureFormat::Svg, ptFileEMF);
    const auto start = svg.find("<svg");
    if (start != std::string::npos) svg.erase(0, start);
    return svg;
  } catch (const std::exception& error) {
    Problem = error.what();
    return "";
  }
}

// A station's bits folded onto one bit time, with the thresholds and the sample point.
std::string eyeSvg(const TEye& Eye, const TThresholds& Th) {
  constexpr double W = 420, H = 240, L = TSvgPlot::L, R = TSvgPlot::R, T = TSvgPlot::T, B = TSvgPlot::B;
  double vMin = std::min(0.0, Th.Recessive), vMax = Th.Dominant;
  for (const TWave& bit : Eye.Bits)
    for (const double v : bit.Volts) vMin = std::min(vMin, v), vMax = std::max(vMax, v);
  vMax += 0.1 * (vMax - vMin);
  const double tMax = Eye.BitTime > 0 ? Eye.BitTime : 1e-9;
  const TSvgPlot plot{W, H, tMax, vMin, vMax};
  const auto x = [&](double t) { return plot.X(t); };
  const auto y = [&](double v) { return plot.Y(v); };
  std::string svg = plot.Frame();
  for (const TWave& bit : Eye.Bits) {
    svg += "<polyline fill=\"none\" stroke=\"#1f5fbf\" stroke-opacity=\"0.45\" stroke-width=\"1\" points=\"";
    for (std::size_t i = 0; i < bit.Time.size(); ++i)
      svg += number(x(bit.Time[i]), "%.1f") + "," + number(y(bit.Volts[i]), "%.1f") + " ";
    svg += "\"/>\n";
  }
  for (const double level : {Th.Dominant, Th.Recessive})
    svg += "<line x1=\"" + number(L) + "\" x2=\"" + number(W - R) + "\" y1=\"" + number(y(level)) + "\" y2=\"" +
           number(y(level)) + "\" stroke=\"#c0392b\" stroke-dasharray=\"4 3\"/>\n";
  svg += "<line x1=\"" + number(x(Eye.SamplePoint)) + "\" x2=\"" + number(x(Eye.SamplePoint)) + "\" y1=\"" + number(T) +
         "\" y2=\"" + number(H - B) + "\" stroke=\"#17702b\" stroke-width=\"1.5\"/>\n";
  svg += "<text x=\"" + number(x(Eye.SamplePoint) + 4) + "\" y=\"" + number(T + 12) +
         "\" fill=\"#17702b\">sample point</text>\n";
  return svg + "</svg>\n";
}

std::string reportHtml(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings,
                       TCanNodes& Net) {
  const TAnalysisSettings& s = A.Settings;
  const TBusVerdict& Verdict = Stream.Bus;
  std::string html =
      "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>Bus analysis of " +
      htmlEscaped(A.File) +
      "</title>\n<style>body{font-family:sans-serif;margin:2em;color:#222}table{border-collapse:collapse;"
      "margin:1em 0}td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}th{background:#eee}"
      ".ok{color:#17702b;font-weight:bold}.fail{color:#b00;font-weight:bold}.drawing svg{max-width:100%;"
      "height:auto;border:1px solid #ddd}.num{text-align:right}</style></head><body>\n";
  html += "<h1>Bus analysis of " + htmlEscaped(A.File) + "</h1>\n";
  html += "<p>Highest arbitration rate: <b>" +
          (Verdict.MaxArbitrationRate ? rateText(Verdict.MaxArbitrationRate) : std::string("none")) +
          "</b>; highest data rate: <b>" + (Verdict.MaxDataRate ? rateText(Verdict.MaxDataRate) : std::string("none")) +
          "</b>. " + std::to_string(A.Stations.size()) + " stations. Thresholds: dominant at or above " +
          number(s.Thresholds.Dominant) + " V, recessive at or below " + number(s.Thresholds.Recessive) +
          " V; loop delay " + number(s.LoopDelay * 1e9) + " ns; sample points " + number(s.SamplePoint * 100) +
          " % (arbitration) and " + number(s.DataSamplePoint * 100) + " % (data), SJW " + number(s.Sjw * 100) +
          " % and " + number(s.DataSjw * 100) +
          " %. Single-ended model of the bus voltage on lossless lines; times from the TXD edge.</p>\n";
  html += "<p>" + htmlEscaped(driverText(Stream)) + ".</p>\n";
  for (const std::string& c : Stream.Confirmations) html += "<p>" + htmlEscaped("Check: " + c) + ".</p>\n";

  std::string problem;
  const std::string drawing = drawingSvg(Net, A.File, problem);
  html += "<h2>Drawing</h2>\n";
  html += drawing.empty() ? "<p>No drawing: " + htmlEscaped(problem) + "</p>\n"
                          : "<div class=\"drawing\">" + drawing + "</div>\n";

  html += "<h2>Bus check</h2>\n";
  if (Findings.empty())
    html += "<p>No findings.</p>\n";
  else {
    html += "<ul>\n";
    for (const TFinding& f : Findings)
      html += "<li><b class=\"" + std::string(f.Severity == TSeverity::Error ? "fail" : "") + "\">" +
              SeverityName(f.Severity) + "</b>: " + htmlEscaped(NameToUtf8(f.Message)) + "</li>\n";
    html += "</ul>\n";
  }

  html +=
      "<h2>Verdict</h2>\n<table><tr><th>Phase</th><th>Bit rate</th><th>Verdict</th><th>Deciding pair</th>"
      "<th>What decided</th></tr>\n";
  for (const TRateVerdict& r : Verdict.Rates) {
    html += "<tr><td>" + std::string(PhaseName(r.Phase)) + "</td><td class=\"num\">" + rateText(r.BitRate) +
            "</td><td class=\"" + (r.Works ? "ok\">works" : "fail\">fails") + "</td>";
    if (r.Worst)
      html += "<td>" + htmlEscaped(r.Worst->Transmitter) + " &rarr; " + htmlEscaped(r.Worst->Receiver) + "</td><td>" +
              htmlEscaped(worstText(r)) + "</td>";
    else
      html += "<td colspan=\"2\">no pairs</td>";
    html += "</tr>\n";
  }
  html += "</table>\n";

  html +=
      "<h2>Eye diagrams</h2>\n<p>Each station's bits of the worst-case stream folded onto one bit time from "
      "the transmitter that leaves it the least margin, at the highest working and the lowest failing data "
      "rate; thresholds dashed, the sample point in green.</p>\n";
  if (Stream.Eyes.empty()) html += "<p>No data rate was judged.</p>\n";
  for (const TEye& eye : Stream.Eyes) {
    // An eye is the sum of the edge responses; where the full run of the stream failed the rate
    // that sum read right, the caption says so.
    bool rateWorks = true;
    for (const TRateVerdict& r : Verdict.Rates)
      if (r.Phase == TBusPhase::Data && r.BitRate == eye.BitRate) rateWorks = r.Works;
    const std::string verdict = !eye.Works ? "fail\">reads a bit wrong"
                                : rateWorks
                                    ? "ok\">reads every bit"
                                    : "fail\">reads every bit as the responses add up; the full run fails the rate";
    html += "<figure style=\"display:inline-block;margin:0 1em 1em 0\"><figcaption>" + htmlEscaped(eye.Receiver) +
            " at " + rateText(eye.BitRate) + " from " + htmlEscaped(eye.Transmitter) + ": <span class=\"" + verdict +
            "</span></figcaption>" + eyeSvg(eye, s.Thresholds) + "</figure>\n";
  }

  html +=
      "<h2>Margins</h2>\n<table><tr><th>Phase</th><th>Bit rate</th><th>Transmitter</th><th>Station</th>"
      "<th>Sample point earlier</th><th>later</th><th>Voltage</th><th>First wrong bit</th></tr>\n";
  for (const TReceiverMargin& m : Stream.Margins)
    html += "<tr><td>" + std::string(PhaseName(m.Phase)) + "</td><td class=\"num\">" + rateText(m.BitRate) +
            "</td><td>" + htmlEscaped(m.Transmitter) + "</td><td>" + htmlEscaped(m.Receiver) +
            (m.Own ? " (itself)" : "") + "</td>" +
            (m.Works ? "<td class=\"num\">" + nsText(m.EarlyMargin) + "</td><td class=\"num\">" + nsText(m.LateMargin) +
                           "</td><td class=\"num\">" + number(m.VoltageMargin, "%.2f") + " V</td><td>none</td>"
                     : "<td colspan=\"3\"></td><td class=\"fail\">" + htmlEscaped(m.Text) + "</td>") +
            "</tr>\n";
  html += "</table>\n";

  // The worst pairs' waveforms: each deciding pair once, failures first.
  html +=
      "<h2>Responses of the deciding pairs</h2>\n<p>The transmitter's and the receiver's node voltage for "
      "one dominant and one recessive TXD edge.</p>\n";
  std::vector<std::pair<std::string, std::string>> shown;
  std::vector<const TRateVerdict*> order;
  for (const TRateVerdict& r : Verdict.Rates)
    if (!r.Works) order.push_back(&r);
  for (const TRateVerdict& r : Verdict.Rates)
    if (r.Works) order.push_back(&r);
  for (const TRateVerdict* r : order) {
    if (!r->Worst || shown.size() >= kMostPlots) continue;
    const std::pair names{r->Worst->Transmitter, r->Worst->Receiver};
    if (std::find(shown.begin(), shown.end(), names) != shown.end()) continue;
    const auto station = [&](const std::string& Name) {
      return static_cast<int>(std::find(A.Stations.begin(), A.Stations.end(), Name) - A.Stations.begin());
    };
    const int sender = station(names.first);
    const int receiver = station(names.second);
    const TTransmitterRun* run = nullptr;
    for (const TTransmitterRun& candidate : A.Runs)
      if (candidate.Transmitter == sender) run = &candidate;
    if (!run) continue;
    const TPlotTrace* sent = nullptr;
    const TPlotTrace* seen = nullptr;
    for (const TPlotTrace& trace : run->Traces) {
      if (trace.Station == sender) sent = &trace;
      if (trace.Station == receiver) seen = &trace;
    }
    if (!sent || !seen) continue;
    shown.push_back(names);
    html += "<h3>" + htmlEscaped(names.first) + " &rarr; " + htmlEscaped(names.second) + "</h3>\n";
    html += plotSvg(*sent, *seen, names.first, names.second, s.Thresholds);
  }
  if (shown.empty()) html += "<p>No waveforms.</p>\n";

  html +=
      "<h2>Pairs</h2>\n<p>Delay: from the TXD edge to the receiver's threshold, less the driver's own delay into "
      "60 ohms. Settling: from the TXD edge until the level stays valid.</p>\n<table><tr><th>Transmitter</th>"
      "<th>Receiver</th><th>Edge</th><th>Delay</th><th>Settling</th><th>Overshoot</th><th>Undershoot</th>"
      "<th>False edge</th></tr>\n";
  for (const TPairMeasure& p : PairsOf(A.Runs))
    html += "<tr><td>" + htmlEscaped(p.TransmitterName) + "</td><td>" + htmlEscaped(p.ReceiverName) + "</td><td>" +
            EdgeName(p.Edge) + "</td><td class=\"num\">" + nsText(p.Delay) + "</td><td class=\"num\">" +
            nsText(p.Settle) + "</td><td class=\"num\">" + number(p.Overshoot, "%.3f") + " V</td><td class=\"num\">" +
            number(p.Undershoot, "%.3f") + " V</td><td>" + (p.FalseEdge ? "after " + nsText(p.FalseEdge) : "no") +
            "</td></tr>\n";
  html += "</table>\n</body></html>\n";
  return html;
}

// The verdict checked by full runs of the stream at the rates that decide it (see
// ConfirmVerdict); the circuit planned again from the network and templates the runs used.
void confirm(const TAnalysis& A, TStreamVerdict& Verdict, std::ostream& Err) {
  const auto program = WorkerProgram();
  try {
    if (!program) throw EAnalysisError("the program's own file cannot be found to start its workers");
    const auto planAgain = [&] {
      TCanNodes net = DocumentNetwork();
      std::ostringstream quiet;
      if (!LoadForCommand(net, A.File, quiet)) throw EAnalysisError("the network file cannot be read again");
      TCircuitSources sources;
      const TextLines lines = CircuitFromTemplates(net, A.Templates, nullptr, &sources);
      return PlanAnalysis(lines, sources);
    };
    const TAnalysisPlan plan = A.Plan ? *A.Plan : planAgain();
    TRunOptions options;
    options.Program = *program;
    options.Jobs = 1;
    options.Thresholds = A.Settings.Thresholds;
    ConfirmVerdict(plan, A.Runs, A.Settings, options, Verdict);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << A.File << ": the verdict is not checked by full runs of the stream: " << error.what()
        << "\n";
    Verdict.Confirmations.push_back(std::string("not checked by full runs of the stream: ") + error.what());
  }
}

// Prints the result and writes the report; the exit code.
int finish(const TAnalysis& A, const TArguments& Args, std::ostream& Out, std::ostream& Err) {
  TStreamVerdict verdict = JudgeRuns(A.Runs, A.Settings);
  if (!Args.Has("--no-confirm")) confirm(A, verdict, Err);
  // The bus check's findings go above the verdict; a network that cannot be read has none.
  TCanNodes net = DocumentNetwork();
  std::vector<TFinding> findings;
  std::ostringstream quiet;
  const bool loaded = LoadForCommand(net, A.File, Args.Has("--report") ? Err : quiet);
  if (loaded) {
    net.NumberNodeNames();
    TCheckSettings check;
    if (A.Settings.RequiredRate <= 10000000) check.BitRate = static_cast<std::uint32_t>(A.Settings.RequiredRate);
    findings = CheckBus(net, check);
  }
  if (Args.Has("--report")) {
    if (!loaded) return ExitFailure;
    try {
      writeFileAtomically(Args.Options.at("--report"), reportHtml(A, verdict, findings, net));
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
  }
  if (Args.Has("--json"))
    WriteJson(Out, resultJson(A, verdict, findings));
  else
    printTable(A, verdict, findings, Out);
  for (const TRateVerdict& r : verdict.Bus.Rates)
    if (r.Phase == TBusPhase::Arbitration && r.BitRate == A.Settings.RequiredRate)
      return r.Works ? ExitDone : ExitFailure;
  TAnalysisSettings required = A.Settings;
  required.ArbitrationRates = {A.Settings.RequiredRate};
  required.DataRates.clear();
  return JudgeRuns(A.Runs, required).Bus.MaxArbitrationRate ? ExitDone : ExitFailure;
}

}  // namespace

int RunAnalyze(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("analyze", kAnalyzeHelp,
                                   {{"--templates", true},
                                    {"--json", false},
                                    {"--jobs", true},
                                    {"--report", true},
                                    {"--require-bitrate", true},
                                    {"--shard", true},
                                    {"--dominant", true},
                                    {"--recessive", true},
                                    {"--loop-delay", true},
                                    {"--sample-point", true},
                                    {"--data-sample-point", true},
                                    {"--sjw", true},
                                    {"--data-sjw", true},
                                    {"--no-compensation", false},
                                    {"--no-confirm", false},
                                    {"--arbitration-rates", true},
                                    {"--data-rates", true}},
                                   Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "analyze needs exactly one FILE", "analyze");
  TAnalysis analysis;
  analysis.File = args->Files[0];
  if (const auto problem = ReadAnalysisSettings(*args, analysis.Settings)) return Usage(Err, *problem, "analyze");
  std::uint32_t jobs = std::max(1u, std::thread::hardware_concurrency());
  if (!WholeOption(*args, "--jobs", 1, 1024, jobs))
    return Usage(Err, "--jobs needs a number from 1 to 1024", "analyze");
  int shard = 1;
  int shards = 1;
  if (args->Has("--shard")) {
    const std::string& text = args->Options.at("--shard");
    char* end = nullptr;
    const long i = std::strtol(text.c_str(), &end, 10);
    const long n = *end == '/' ? std::strtol(end + 1, &end, 10) : 0;
    if (text.empty() || *end != '\0' || n < 1 || n > kMostShards || i < 1 || i > n)
      return Usage(Err, "--shard needs I/N with 1 <= I <= N", "analyze");
    if (args->Has("--report") || args->Has("--json"))
      return Usage(Err, "--shard prints a part for analyze-merge; --report and --json belong to the merge", "analyze");
    shard = static_cast<int>(i);
    shards = static_cast<int>(n);
  }
  const std::string folder = args->ValueOr("--templates", ".");
  analysis.Templates = folder;
  if (args->Has("--report")) {
    std::vector<std::string> inputs = TemplateFiles(folder);
    inputs.push_back(analysis.File);
    if (OutputIsAnInput(args->Options.at("--report"), inputs, Err, "analyze")) return ExitUsage;
  }

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, analysis.File, Err)) return ExitFailure;
  if (!net.FNetworkExists()) {
    Err << kProgram << ": " << analysis.File << ": the network is empty; there is no bus to analyse\n";
    return ExitFailure;
  }
  std::vector<std::string> warnings;
  TAnalysisPlan plan;
  try {
    TCircuitSources sources;
    const TextLines lines = CircuitFromTemplates(net, folder, &warnings, &sources);
    plan = PlanAnalysis(lines, sources);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << analysis.File << ": " << error.what() << "\n";
    return ExitFailure;
  }
  PrintWarnings(analysis.File, warnings, Err);
  for (const TStation& station : plan.Stations) analysis.Stations.push_back(station.Name);
  analysis.Plan = plan;
  // A part records what it was made from, read now, so that a file changed during the runs
  // does not pass for the one they ran.
  TPartSource source;
  if (args->Has("--shard")) {
    try {
      source = PartSourceOf(analysis.File, folder, analysis.Settings);
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
  }

  const auto program = WorkerProgram();
  if (!program) {
    Err << kProgram << ": the program's own file cannot be found to start its workers\n";
    return ExitFailure;
  }
  const std::vector<std::size_t> transmitters = ShardTransmitters(plan.Stations.size(), shard, shards);
  TRunOptions options;
  options.Program = *program;
  options.Jobs = static_cast<int>(jobs);
  options.KeepTraces = args->Has("--report") || args->Has("--shard");
  options.Thresholds = analysis.Settings.Thresholds;
  const bool showProgress = &Err == &std::cerr && isatty(STDERR_FILENO) == 1;
  if (showProgress)
    options.Progress = [&](const TRunProgress& P) {
      Err << "\ranalysing: " << P.Done << " of " << P.Total << " transmitters        " << std::flush;
    };
  try {
    RefuseOversizedRuns(plan);
    analysis.Runs = RunTransmitters(plan, transmitters, options).Runs;
  } catch (const EAnalysisError& error) {
    if (showProgress) Err << "\n";
    Err << kProgram << ": " << analysis.File << ": " << error.what() << "\n";
    return ExitFailure;
  }
  if (showProgress) Err << "\r" << std::string(48, ' ') << "\r" << std::flush;
  if (args->Has("--shard")) {
    TAnalysisPart part;
    part.File = analysis.File;
    part.Templates = folder;
    part.Shard = shard;
    part.Shards = shards;
    part.Settings = analysis.Settings;
    part.Stations = analysis.Stations;
    part.Runs = std::move(analysis.Runs);
    part.Source = source;
    Out << AnalysisPartJson(part);
    return ExitDone;
  }
  return finish(analysis, *args, Out, Err);
}

int RunAnalyzeMerge(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args =
      ParseArguments("analyze-merge", kMergeHelp, {{"--json", false}, {"--report", true}, {"--no-confirm", false}},
                     Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.empty()) return Usage(Err, "analyze-merge needs one or more PART files", "analyze-merge");
  TAnalysis analysis;
  std::optional<TAnalysisPart> first;
  std::set<int> shardsSeen;
  std::map<int, TTransmitterRun> runs;
  // The report must replace none of what the parts were made from.
  std::vector<std::string> inputs = args->Files;
  for (const std::string& file : args->Files) {
    const auto fail = [&](const std::string& Problem) {
      Err << kProgram << ": " << file << ": " << Problem << "\n";
      return ExitFailure;
    };
    TAnalysisPart part;
    try {
      part = ReadAnalysisPart(readRegularFile(file, kMostPartBytes));
    } catch (const EAnalysisError& error) {
      return fail(error.what());
    } catch (const std::exception& error) {
      Err << kProgram << ": " << error.what() << "\n";
      return ExitFailure;
    }
    inputs.push_back(part.File);
    for (const std::string& input : TemplateFiles(part.Templates)) inputs.push_back(input);
    if (first) {
      const std::string other = " than " + args->Files[0];
      if (part.Source.Network != first->Source.Network) return fail("was made from another network file" + other);
      if (part.Source.Header != first->Source.Header || part.Source.Trailer != first->Source.Trailer)
        return fail("was made from other templates" + other);
      if (part.Source.Options != first->Source.Options) return fail("was made with other options" + other);
      if (part.File != first->File || part.Stations != first->Stations || part.Shards != first->Shards)
        return fail("comes from another network file name or another split" + other);
    } else {
      analysis.File = part.File;
      analysis.Templates = part.Templates;
      analysis.Settings = part.Settings;
      analysis.Stations = part.Stations;
    }
    if (!shardsSeen.insert(part.Shard).second)
      return fail("part " + std::to_string(part.Shard) + " of " + std::to_string(part.Shards) + " is given twice");
    for (TTransmitterRun& run : part.Runs) runs.emplace(run.Transmitter, std::move(run));
    part.Runs.clear();
    if (!first) first = std::move(part);
  }
  if (runs.size() != analysis.Stations.size()) {
    // A split may claim many parts; name the first few missing, count the rest.
    constexpr int kMostNamed = 10;
    Err << kProgram << ": the parts hold " << runs.size() << " of " << analysis.Stations.size()
        << " transmitters; parts missing:";
    int missing = 0;
    for (int i = 1; i <= first->Shards; ++i)
      if (!shardsSeen.count(i) && static_cast<std::size_t>(i) <= analysis.Stations.size() && ++missing <= kMostNamed)
        Err << " " << i << "/" << first->Shards;
    if (missing > kMostNamed) Err << " and " << missing - kMostNamed << " more";
    Err << "\n";
    return ExitFailure;
  }
  if (args->Has("--report") && OutputIsAnInput(args->Options.at("--report"), inputs, Err, "analyze-merge"))
    return ExitUsage;
  // The table's bus check and the report's drawing read the network file as it is now.
  std::string now;
  try {
    now = FileDigest(analysis.File);
  } catch (const std::exception&) {
    // Not here (parts made elsewhere): the verdict stands without it.
  }
  if (!now.empty() && now != first->Source.Network) {
    if (args->Has("--report")) {
      Err << kProgram << ": " << analysis.File
          << ": has changed since the parts were made; the report would show another network\n";
      return ExitFailure;
    }
    Err << kProgram << ": warning: " << analysis.File
        << ": has changed since the parts were made; the bus check is of the file as it is now\n";
  }
  for (auto& [index, run] : runs) analysis.Runs.push_back(std::move(run));
  return finish(analysis, *args, Out, Err);
}

int RunAnalyzeWorker(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  return RunAnalysisWorker(Args, std::cin, Out, Err);
}

}  // namespace busweave::cli

#include "cli/AnalysisReport.h"

#include <QFont>
#include <algorithm>
#include <cstdio>
#include <tuple>
#include <utility>

#include "cli/CliCommon.h"
#include "model/NameText.h"
#include "model/NetworkContainer.h"
#include "picture/MarkupText.h"
#include "picture/PictureRendering.h"
#include "plot/EyePlot.h"
#include "plot/Plot.h"

namespace busweave::cli {
namespace {

// Plots of the worst pairs in a report.
constexpr std::size_t kMostPlots = 6;

constexpr const char* kReportStyle =
    "body{font-family:sans-serif;margin:2em;color:#222}table{border-collapse:collapse;"
    "margin:1em 0}td,th{border:1px solid #bbb;padding:3px 8px;text-align:left}th{background:#eee}"
    ".ok{color:#17702b;font-weight:bold}.fail{color:#b00;font-weight:bold}.drawing svg{max-width:100%;"
    "height:auto;border:1px solid #ddd}.num{text-align:right}";

// The plots' text: the page's own sans-serif at its 11 pixels.
QFont reportFont() {
  QFont font("sans-serif");
  font.setStyleHint(QFont::SansSerif);
  font.setPixelSize(11);
  return font;
}

// A line at each sample point within the plot, labelled with its rate: solid at a rate that
// works, dashed at one that fails. The plot stacks labels that would meet.
std::vector<TPlotLine> sampleMarks(const std::vector<TEdgeSamplePoint>& Points, double UnitFactor) {
  std::vector<TPlotLine> marks;
  for (const TEdgeSamplePoint& point : Points)
    marks.push_back({point.Time * UnitFactor, QString::fromStdString("sample point " + RateText(point.BitRate)),
                     point.Works ? kWorkingSampleColor : kFailingSampleColor,
                     point.Works ? Qt::SolidLine : Qt::DashLine});
  return marks;
}

// What the sample points drawn are, in a sentence after the one before; nothing without them.
std::string samplePointsText(const TBusVerdict& Verdict) {
  const auto [highestWorking, lowestFailing] = EyeDataRates(Verdict);
  std::vector<std::string> rates;
  if (highestWorking > 0) rates.push_back("solid at " + RateText(highestWorking) + ", the highest working data rate");
  if (lowestFailing > 0) rates.push_back("dashed at " + RateText(lowestFailing) + ", the lowest failing one");
  if (rates.empty()) return "";
  std::string text =
      " The sample points where the receiver reads the bit each TXD edge starts (it synchronises on the dominant "
      "edge as it sees it): " +
      rates.front();
  if (rates.size() > 1) text += "; " + rates.back();
  return text + ".";
}

}  // namespace

std::string NsText(const std::optional<double>& Seconds) {
  if (!Seconds) return "never";
  char text[32];
  std::snprintf(text, sizeof text, "%.1f ns", *Seconds * 1e9);
  return text;
}

// What decided the rate, in words.
std::string WorstText(const TRateVerdict& R) {
  if (!R.Worst) return "no pairs";
  if (!R.Worst->Text.empty()) return R.Worst->Text;
  const TWorstPair& w = *R.Worst;
  const std::string text = w.Transmitter + " -> " + w.Receiver + ", " + EdgeName(w.Edge) + " edge: ";
  if (w.Figure == "no_edge") return text + "the receiver never reaches the threshold";
  if (w.Figure == "false_edge") return text + "false edge after " + NsText(w.Value);
  if (!w.Value) return text + "never settles";
  return text + (w.Figure == "settle" ? "settles in " : "round trip ") + NsText(w.Value) + (R.Works ? " <= " : " > ") +
         NsText(w.Limit);
}

// The driver alone into the reference load, in a sentence.
std::string DriverText(const TStreamVerdict& V) {
  std::string text = "the driver alone into 60 ohms: dominant edge " + NsText(V.DriverDominantDelay) +
                     ", recessive edge " + NsText(V.DriverRecessiveDelay) + " after its TXD edge";
  if (V.DriverDominantDelay && V.DriverRecessiveDelay)
    text += std::string(" (asymmetry ") + NsText(*V.DriverRecessiveDelay - *V.DriverDominantDelay) +
            (V.Compensated ? ", taken out of the bus's streams)" : ", left in)");
  return text + "; its own bits decode right up to " +
         (V.DriverMaxDataRate ? RateText(V.DriverMaxDataRate) : std::string("no data rate"));
}

std::string HtmlEscaped(const std::string& Text) { return MarkupEscaped(Text); }

std::string NumberText(double Value, const char* Format) {
  char text[32];
  std::snprintf(text, sizeof text, Format, Value);
  return text;
}

std::string ReportHead(const std::string& Title, const std::string& ExtraStyle) {
  return "<!DOCTYPE html>\n<html lang=\"en\"><head><meta charset=\"utf-8\">\n<title>" + HtmlEscaped(Title) +
         "</title>\n<style>" + kReportStyle + ExtraStyle + "</style></head><body>\n";
}

std::string PlotSvgText(const TPlot& Plot, int Width, int Height) {
  // The plot's text is measured with the fonts of a graphical application.
  if (!EnsureGuiApplication()) return "";
  return PlotSvgElement(Plot, QSize(Width, Height), reportFont()).toStdString();
}

// A plot of the transmitter's and the receiver's node voltage with the thresholds.
std::string WaveformSvg(const TPlotTrace& Sent, const TPlotTrace& Seen, const std::string& SentName,
                        const std::string& SeenName, const TThresholds& Th,
                        const std::vector<TEdgeSamplePoint>& SamplePoints) {
  double tMax = 0, vMin = std::min(0.0, Th.Recessive), vMax = Th.Dominant;
  for (const TPlotTrace* t : {&Sent, &Seen}) {
    if (!t->Time.empty()) tMax = std::max(tMax, t->Time.back());
    for (const double v : t->Volts) vMin = std::min(vMin, v), vMax = std::max(vMax, v);
  }
  if (tMax <= 0) tMax = 1e-9;
  const auto [unit, factor] = TimeUnit(tMax);
  TPlot plot;
  plot.XTitle = "Time from the TXD edge [" + unit + "]";
  plot.YTitle = "Voltage [V]";
  plot.XTo = tMax * factor;
  plot.YFrom = vMin;
  plot.YTo = vMax + 0.1 * (vMax - vMin);
  for (const auto& [trace, name, colour] :
       {std::tuple{&Sent, QString::fromStdString(SentName) + " (transmitter)", QColor(0x1f5fbf)},
        std::tuple{&Seen, QString::fromStdString(SeenName) + " (receiver)", QColor(0xc0392b)}}) {
    TPlotCurve curve{name, colour, {}, true, 1.2};
    for (std::size_t i = 0; i < std::min(trace->Time.size(), trace->Volts.size()); ++i)
      curve.Points.append(QPointF(trace->Time[i] * factor, trace->Volts[i]));
    plot.Traces.push_back(std::move(curve));
  }
  const QColor levels(0x99, 0x99, 0x99);
  plot.Levels = {{Th.Dominant, QString("dominant %1 V").arg(Th.Dominant), levels},
                 {Th.Recessive, QString("recessive %1 V").arg(Th.Recessive), levels}};
  plot.Marks = sampleMarks(SamplePoints, factor);
  return PlotSvgText(plot, 640, 240);
}

// The drawing as inline SVG, without the XML prolog and scaled to the page.
std::string DrawingSvg(TCanNodes& Net, const std::string& File, std::string& Problem) {
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

std::pair<double, double> EyeRange(const std::vector<const TEye*>& Eyes, const TThresholds& Th) {
  return EyeVoltRange(Eyes, Th);
}

std::string EyeSvg(const TEye& Eye, const TThresholds& Th, std::optional<std::pair<double, double>> Volts) {
  return PlotSvgText(EyePlot(Eye, Th, Volts ? *Volts : EyeVoltRange({&Eye}, Th)), 420, 240);
}

std::string AnalysisReportHtml(const TAnalysis& A, const TStreamVerdict& Stream, const std::vector<TFinding>& Findings,
                               TCanNodes& Net, const std::optional<TEdgeTimes>& Edges) {
  const TAnalysisSettings& s = A.Settings;
  const TBusVerdict& Verdict = Stream.Bus;
  std::string html = ReportHead("Bus analysis of " + A.File);
  html += "<h1>Bus analysis of " + HtmlEscaped(A.File) + "</h1>\n";
  html += "<p>Highest arbitration rate: <b>" +
          (Verdict.MaxArbitrationRate ? RateText(Verdict.MaxArbitrationRate) : std::string("none")) +
          "</b>; highest data rate: <b>" + (Verdict.MaxDataRate ? RateText(Verdict.MaxDataRate) : std::string("none")) +
          "</b>. " + std::to_string(A.Stations.size()) + " stations. Thresholds: dominant at or above " +
          NumberText(s.Thresholds.Dominant) + " V, recessive at or below " + NumberText(s.Thresholds.Recessive) +
          " V; loop delay " + NumberText(s.LoopDelay * 1e9) + " ns; sample points " + NumberText(s.SamplePoint * 100) +
          " % (arbitration) and " + NumberText(s.DataSamplePoint * 100) + " % (data), SJW " + NumberText(s.Sjw * 100) +
          " % and " + NumberText(s.DataSjw * 100) +
          " %. Single-ended model of the bus voltage on lossless lines; times from the TXD edge.</p>\n";
  html += "<p>" + HtmlEscaped(DriverText(Stream)) + ".</p>\n";
  for (const std::string& c : Stream.Confirmations) html += "<p>" + HtmlEscaped("Check: " + c) + ".</p>\n";
  for (const std::string& u : Stream.Unproved)
    html += "<p class=\"fail\">" + HtmlEscaped("Not proved: " + u) + ".</p>\n";

  std::string problem;
  const std::string drawing = DrawingSvg(Net, A.File, problem);
  html += "<h2>Drawing</h2>\n";
  html += drawing.empty() ? "<p>No drawing: " + HtmlEscaped(problem) + "</p>\n"
                          : "<div class=\"drawing\">" + drawing + "</div>\n";

  html += "<h2>Bus check</h2>\n";
  if (Findings.empty())
    html += "<p>No findings.</p>\n";
  else {
    html += "<ul>\n";
    for (const TFinding& f : Findings)
      html += "<li><b class=\"" + std::string(f.Severity == TSeverity::Error ? "fail" : "") + "\">" +
              SeverityName(f.Severity) + "</b>: " + HtmlEscaped(NameToUtf8(f.Message)) + "</li>\n";
    html += "</ul>\n";
  }

  html +=
      "<h2>Verdict</h2>\n<table><tr><th>Phase</th><th>Bit rate</th><th>Verdict</th><th>Deciding pair</th>"
      "<th>What decided</th></tr>\n";
  for (const TRateVerdict& r : Verdict.Rates) {
    html += "<tr><td>" + std::string(PhaseName(r.Phase)) + "</td><td class=\"num\">" + RateText(r.BitRate) +
            "</td><td class=\"" + (r.Works ? "ok\">works" : "fail\">fails") + "</td>";
    if (r.Worst)
      html += "<td>" + HtmlEscaped(r.Worst->Transmitter) + " &rarr; " + HtmlEscaped(r.Worst->Receiver) + "</td><td>" +
              HtmlEscaped(WorstText(r)) + "</td>";
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
    html += "<figure style=\"display:inline-block;margin:0 1em 1em 0\"><figcaption>" + HtmlEscaped(eye.Receiver) +
            " at " + RateText(eye.BitRate) + " from " + HtmlEscaped(eye.Transmitter) + ": <span class=\"" + verdict +
            "</span></figcaption>" + EyeSvg(eye, s.Thresholds) + "</figure>\n";
  }

  html +=
      "<h2>Margins</h2>\n<table><tr><th>Phase</th><th>Bit rate</th><th>Transmitter</th><th>Station</th>"
      "<th>Sample point earlier</th><th>later</th><th>Voltage</th><th>First wrong bit</th></tr>\n";
  for (const TReceiverMargin& m : Stream.Margins)
    html += "<tr><td>" + std::string(PhaseName(m.Phase)) + "</td><td class=\"num\">" + RateText(m.BitRate) +
            "</td><td>" + HtmlEscaped(m.Transmitter) + "</td><td>" + HtmlEscaped(m.Receiver) +
            (m.Own ? " (itself)" : "") + "</td>" +
            (m.Works ? "<td class=\"num\">" + NsText(m.EarlyMargin) + "</td><td class=\"num\">" + NsText(m.LateMargin) +
                           "</td><td class=\"num\">" + NumberText(m.VoltageMargin, "%.2f") + " V</td><td>none</td>"
                     : "<td colspan=\"3\"></td><td class=\"fail\">" + HtmlEscaped(m.Text) + "</td>") +
            "</tr>\n";
  html += "</table>\n";

  // The worst pairs' waveforms: each deciding pair once, failures first.
  html +=
      "<h2>Responses of the deciding pairs</h2>\n<p>The transmitter's and the receiver's node voltage for "
      "one dominant and one recessive TXD edge." +
      (Edges ? samplePointsText(Stream.Bus) : std::string()) + "</p>\n";
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
    html += "<h3>" + HtmlEscaped(names.first) + " &rarr; " + HtmlEscaped(names.second) + "</h3>\n";
    html += WaveformSvg(*sent, *seen, names.first, names.second, s.Thresholds,
                        Edges ? EdgeRunSamplePoints(*run, receiver, Stream, s, Edges->EdgeAt, Edges->Hold)
                              : std::vector<TEdgeSamplePoint>{});
  }
  if (shown.empty()) html += "<p>No waveforms.</p>\n";

  html +=
      "<h2>Pairs</h2>\n<p>Delay: from the TXD edge to the receiver's threshold, less the driver's own delay into "
      "60 ohms. Settling: from the TXD edge until the level stays valid.</p>\n<table><tr><th>Transmitter</th>"
      "<th>Receiver</th><th>Edge</th><th>Delay</th><th>Settling</th><th>Overshoot</th><th>Undershoot</th>"
      "<th>False edge</th></tr>\n";
  for (const TPairMeasure& p : PairsOf(A.Runs))
    html += "<tr><td>" + HtmlEscaped(p.TransmitterName) + "</td><td>" + HtmlEscaped(p.ReceiverName) + "</td><td>" +
            EdgeName(p.Edge) + "</td><td class=\"num\">" + NsText(p.Delay) + "</td><td class=\"num\">" +
            NsText(p.Settle) + "</td><td class=\"num\">" + NumberText(p.Overshoot, "%.3f") +
            " V</td><td class=\"num\">" + NumberText(p.Undershoot, "%.3f") + " V</td><td>" +
            (p.FalseEdge ? "after " + NsText(p.FalseEdge) : "no") + "</td></tr>\n";
  html += "</table>\n</body></html>\n";
  return html;
}
}  // namespace busweave::cli

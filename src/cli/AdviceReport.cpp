#include "cli/AdviceReport.h"

#include <algorithm>
#include <map>

#include "cli/AnalysisReport.h"
#include "plot/EyePlot.h"
#include "plot/Plot.h"

namespace busweave::cli {
namespace {

std::string eyeFigure(const TEye& Eye, const std::string& When, const TThresholds& Thresholds,
                      std::pair<double, double> Volts) {
  return "<figure style=\"display:inline-block;margin:0 1em 1em 0\"><figcaption>" + HtmlEscaped(When) + ": " +
         HtmlEscaped(Eye.Receiver) + " at " + RateText(Eye.BitRate) + " from " + HtmlEscaped(Eye.Transmitter) +
         ", <span class=\"" + (Eye.Works ? "ok\">reads every bit" : "fail\">reads a bit wrong") +
         "</span></figcaption>" + EyeSvg(Eye, Thresholds, Volts) + "</figure>\n";
}

// The network with the change made, each node it changes named with a star, so that the
// drawing shows where the change is; lengths show as drawn.
std::string changedDrawing(const TCanNodes& Net, const TProposal& P, const std::string& File) {
  const std::unique_ptr<TCanNodes> changed = Net.Snapshot();
  std::string problem;
  try {
    ApplyEdits(*changed, P.Edits);
    for (const TEdit& e : P.Edits)
      if (TNode* node = e.Field == "resistance" ? changed->NodeAtIndex(changed->IndexOf(e.Key)) : nullptr)
        node->FName += " *";
  } catch (const std::exception& error) {
    return "<p>No drawing of the change: " + HtmlEscaped(error.what()) + "</p>\n";
  }
  const std::string svg = DrawingSvg(*changed, File, problem);
  return svg.empty() ? "<p>No drawing of the change: " + HtmlEscaped(problem) + "</p>\n"
                     : "<div class=\"drawing\">" + svg + "</div>\n";
}

// The least margin of the streams run at each length a search tried, over the length of the
// first wire it shortens, with the margin required and the length found.
std::string marginCurve(const TProposal& P, double Required) {
  const TCandidate& c = P.Change;
  if (P.Curve.empty() || c.Wires.empty() || c.Steps <= 0) return "";
  // A step run in parts (the failing transmitters first, the others at the length found) keeps
  // the least of its parts.
  std::map<std::int64_t, double> least;
  for (const auto& [step, margin] : P.Curve) {
    const auto [at, added] = least.emplace(step, margin);
    if (!added) at->second = std::min(at->second, margin);
  }
  std::vector<std::pair<double, double>> points;  // metres, ns
  for (const auto& [step, margin] : least)
    points.emplace_back(
        static_cast<double>(c.Lengths[0]) * static_cast<double>(step) / static_cast<double>(c.Steps) / 1000.0,
        margin * 1e9);
  double found = 0.0;
  for (const TEdit& e : P.Edits)
    if (e.Key == c.Wires[0]) found = static_cast<double>(e.Value) / 1000.0;
  TPlot plot;
  plot.XTitle = QString::fromStdString("Length of " +
                                       (c.Groups.empty() ? std::string("the wire") : c.Groups.front().What) + " [m]");
  plot.YTitle = "Least margin [ns]";
  plot.XTo = static_cast<double>(c.Lengths[0]) / 1000.0;
  plot.YTo = Required * 1e9 * 1.5;
  // Lengths that fail leave less than no margin: the axis reaches down to them.
  for (const auto& [m, ns] : points) {
    plot.YFrom = std::min(plot.YFrom, ns * 1.1);
    plot.YTo = std::max(plot.YTo, ns * 1.1);
  }
  plot.Legend = false;
  TPlotCurve curve{"least margin", QColor(0x1f5fbf), {}, true, 1.2, 2.5};
  for (const auto& [m, ns] : points) curve.Points.append(QPointF(m, ns));
  plot.Traces.push_back(std::move(curve));
  plot.Levels = {{Required * 1e9, "required", QColor(0xc0392b)}};
  if (found > 0) plot.Marks = {{found, "found", kWorkingSampleColor, Qt::SolidLine}};
  return "<p>The least timing margin at the asked data rate of the streams run at each length tried (the "
         "required margin dashed, the length found in green):</p>\n" +
         PlotSvgText(plot, 420, 220);
}

}  // namespace

std::string AdviceReportHtml(const TAdvice& Advice, const TCanNodes& Net, const TAnalysisSettings& Settings) {
  const TThresholds& th = Settings.Thresholds;
  std::string html = ReportHead("How to make " + Advice.File + " work");
  html += "<h1>How to make " + HtmlEscaped(Advice.File) + " work</h1>\n";
  html += "<p>Asked: data <b>" + RateText(Advice.Targets.DataRate) + "</b> with arbitration <b>" +
          RateText(Advice.Targets.ArbitrationRate) + "</b>. Today the bus works up to arbitration " +
          RateText(Advice.Before.Bus.MaxArbitrationRate) + " and data " + RateText(Advice.Before.Bus.MaxDataRate) +
          ". " + std::to_string(Advice.Stations.size()) + " stations; " + std::to_string(Advice.Runs) +
          " simulation runs.</p>\n";
  html += "<p class=\"" + std::string(Advice.Reached ? "ok" : "fail") + "\">" + HtmlEscaped(Advice.Summary) + ".</p>\n";
  // What fails today at the asked data rate, bit and station, as the analysis words it.
  for (const TRateVerdict& r : Advice.Before.Bus.Rates)
    if (r.Phase == TBusPhase::Data && r.BitRate == Advice.Targets.DataRate && r.Worst)
      html += "<p>Today at data " + RateText(r.BitRate) + ": <span class=\"" + (r.Works ? "ok" : "fail") + "\">" +
              HtmlEscaped(r.Worst->Text) + "</span>.</p>\n";
  for (const std::string& e : Advice.CheckErrors)
    html += "<p class=\"fail\">Bus check error: " + HtmlEscaped(e) + "</p>\n";
  for (const std::string& u : Advice.Unproved) html += "<p class=\"fail\">Not proved: " + HtmlEscaped(u) + "</p>\n";

  const std::unique_ptr<TCanNodes> copy = Net.Snapshot();
  std::string problem;
  const std::string drawing = DrawingSvg(*copy, Advice.File, problem);
  html += "<h2>Drawing, as it is today</h2>\n";
  html += drawing.empty() ? "<p>No drawing: " + HtmlEscaped(problem) + "</p>\n"
                          : "<div class=\"drawing\">" + drawing + "</div>\n";

  if (!Advice.Proposals.empty()) {
    html +=
        "<h2>Changes</h2>\n<table><tr><th>#</th><th>Change</th><th>Reaches</th><th>Arbitration up to</th>"
        "<th>Data up to</th><th>Margin</th><th>Edits</th></tr>\n";
    for (std::size_t i = 0; i < Advice.Proposals.size(); ++i) {
      const TProposal& p = Advice.Proposals[i];
      std::string edits;
      for (const TEdit& e : p.Edits)
        edits += HtmlEscaped(e.Key) + " " + e.Field + " " + std::to_string(e.Was) + " &rarr; " +
                 std::to_string(e.Value) + "<br>";
      html += "<tr><td class=\"num\">" + std::to_string(i + 1) + "</td><td>" + HtmlEscaped(p.Text) +
              "</td><td class=\"" + (p.Reaches ? "ok\">yes" : "fail\">no") + "</td><td class=\"num\">" +
              RateText(p.MaxArbitrationRate) + "</td><td class=\"num\">" + RateText(p.MaxDataRate) +
              "</td><td class=\"num\">" + (p.Reaches ? NsText(p.Margin) : std::string()) + "</td><td>" + edits +
              "</td></tr>\n";
    }
    html += "</table>\n";
    html +=
        "<h2>The deciding station's eye, before and after each change</h2>\n<p>Each bit of the worst-case "
        "stream folded onto one bit time at the asked data rate; thresholds dashed, the sample point in "
        "green.</p>\n";
    for (std::size_t i = 0; i < Advice.Proposals.size(); ++i) {
      const TProposal& p = Advice.Proposals[i];
      html += "<h3>" + std::to_string(i + 1) + ". " + HtmlEscaped(p.Text) + "</h3>\n";
      html += "<p>The network changed, the nodes it changes marked with *:</p>\n" + changedDrawing(Net, p, Advice.File);
      for (const std::string& e : p.CheckErrors)
        html += "<p class=\"fail\">Still a bus check error: " + HtmlEscaped(e) + "</p>\n";
      html += marginCurve(p, Settings.Margin / static_cast<double>(Advice.Targets.DataRate));
      // Before and after on one voltage scale, so that the opening of the eye compares.
      std::vector<const TEye*> shown;
      for (const TEye& eye : Advice.BeforeEyes) shown.push_back(&eye);
      for (const TEye& eye : p.Eyes) shown.push_back(&eye);
      const auto volts = EyeRange(shown, th);
      for (const TEye& eye : Advice.BeforeEyes) html += eyeFigure(eye, "Before", th, volts);
      for (const TEye& eye : p.Eyes) html += eyeFigure(eye, "After", th, volts);
      if (Advice.BeforeEyes.empty() && p.Eyes.empty()) html += "<p>No eye at this rate.</p>\n";
    }
  }
  html += "</body></html>\n";
  return html;
}

}  // namespace busweave::cli

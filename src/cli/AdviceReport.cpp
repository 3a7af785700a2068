#include "cli/AdviceReport.h"

#include "cli/AnalysisReport.h"

namespace busweave::cli {
namespace {

std::string eyeFigure(const TEye& Eye, const std::string& When, const TThresholds& Thresholds) {
  return "<figure style=\"display:inline-block;margin:0 1em 1em 0\"><figcaption>" + HtmlEscaped(When) + ": " +
         HtmlEscaped(Eye.Receiver) + " at " + RateText(Eye.BitRate) + " from " + HtmlEscaped(Eye.Transmitter) +
         ", <span class=\"" + (Eye.Works ? "ok\">reads every bit" : "fail\">reads a bit wrong") +
         "</span></figcaption>" + EyeSvg(Eye, Thresholds) + "</figure>\n";
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
      for (const TEye& eye : Advice.BeforeEyes) html += eyeFigure(eye, "Before", th);
      for (const TEye& eye : p.Eyes) html += eyeFigure(eye, "After", th);
      if (Advice.BeforeEyes.empty() && p.Eyes.empty()) html += "<p>No eye at this rate.</p>\n";
    }
  }
  html += "</body></html>\n";
  return html;
}

}  // namespace busweave::cli

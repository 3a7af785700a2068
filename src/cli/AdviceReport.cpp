#include "cli/AdviceReport.h"

#include "picture/MarkupText.h"

namespace busweave::cli {

std::string AdviceReportHtml(const TAdvice& Advice, const TCanNodes& Net, const TAnalysisSettings& Settings) {
  (void)Net;
  (void)Settings;
  std::string html = "<!DOCTYPE html>\n<html><head><meta charset=\"utf-8\"><title>" + MarkupEscaped(Advice.File) +
                     "</title></head><body>\n<p>" + MarkupEscaped(Advice.Summary) + "</p>\n";
  for (const TProposal& p : Advice.Proposals) html += "<p>" + MarkupEscaped(p.Text) + "</p>\n";
  html += "</body></html>\n";
  return html;
}

}  // namespace busweave::cli

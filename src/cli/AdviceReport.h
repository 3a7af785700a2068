#pragma once

// The self-contained HTML report of advise: the drawing, what was asked and found, and for each
// change the eye diagrams of the deciding station before and after it.

#include <string>

#include "advice/AdviceSearch.h"
#include "model/NetworkContainer.h"

namespace busweave::cli {

std::string AdviceReportHtml(const TAdvice& Advice, const TCanNodes& Net, const TAnalysisSettings& Settings);

}  // namespace busweave::cli

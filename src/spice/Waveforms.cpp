#include "spice/Waveforms.h"

#include <algorithm>
#include <charconv>
#include <limits>

#include "base/Interpolation.h"
#include "model/NameText.h"

namespace busweave {
namespace {

std::string csvField(const std::string& Text) {
  if (Text.find_first_of(",\"\r\n") == std::string::npos &&
      (Text.empty() || (Text.front() != ' ' && Text.back() != ' ')))
    return Text;
  std::string quoted = "\"";
  for (char c : Text) {
    if (c == '"') quoted += '"';
    quoted += c;
  }
  return quoted + "\"";
}

void appendNumber(std::string& Out, double Value) {
  char buffer[32];
  // The shortest text that reads back as the same double.
  const auto result = std::to_chars(buffer, buffer + sizeof buffer, Value);
  Out.append(buffer, result.ptr);
}

}  // namespace

std::string WaveformsCsv(const TWaveforms& Waveforms) {
  std::string csv = Waveforms.ScaleName.empty() ? std::string("x") : Waveforms.ScaleName;
  for (const auto& trace : Waveforms.Traces) {
    csv += ',';
    csv += csvField(NameToUtf8(trace.Name));
  }
  csv += '\n';
  csv.reserve(csv.size() + Waveforms.Scale.size() * (Waveforms.Traces.size() + 1) * 14);
  for (std::size_t i = 0; i < Waveforms.Scale.size(); ++i) {
    appendNumber(csv, Waveforms.Scale[i]);
    for (const auto& trace : Waveforms.Traces) {
      csv += ',';
      if (i < trace.Values.size()) appendNumber(csv, trace.Values[i]);
    }
    csv += '\n';
  }
  return csv;
}

std::optional<double> ValueAt(const std::vector<double>& Scale, const std::vector<double>& Values, double X) {
  const std::size_t count = std::min(Scale.size(), Values.size());
  if (count == 0) return std::nullopt;
  const auto end = Scale.begin() + static_cast<std::ptrdiff_t>(count);
  const auto above = std::lower_bound(Scale.begin(), end, X);
  if (above == Scale.begin()) return Values.front();
  if (above == end) return Values[count - 1];
  const auto i = static_cast<std::size_t>(above - Scale.begin());
  return LineValue(Scale[i - 1], Values[i - 1], Scale[i], Values[i], X);
}

std::vector<std::size_t> PeakPreservingIndices(const std::vector<double>& Scale, const std::vector<double>& Values,
                                               double From, double To, std::size_t Buckets) {
  std::vector<std::size_t> indices;
  const std::size_t count = std::min(Scale.size(), Values.size());
  if (count == 0 || Buckets == 0) return indices;
  // One point either side of the range, so the line reaches the edges of the plot.
  const auto first = std::lower_bound(Scale.begin(), Scale.begin() + static_cast<std::ptrdiff_t>(count), From);
  const auto last = std::upper_bound(Scale.begin(), Scale.begin() + static_cast<std::ptrdiff_t>(count), To);
  std::size_t begin = static_cast<std::size_t>(first - Scale.begin());
  std::size_t end = static_cast<std::size_t>(last - Scale.begin());
  if (begin > 0) --begin;
  if (end < count) ++end;
  if (end <= begin) return indices;
  if (end - begin <= 2 * Buckets) {
    for (std::size_t i = begin; i < end; ++i) indices.push_back(i);
    return indices;
  }
  const std::size_t perBucket = (end - begin + Buckets - 1) / Buckets;
  for (std::size_t start = begin; start < end; start += perBucket) {
    const std::size_t stop = std::min(start + perBucket, end);
    std::size_t low = start;
    std::size_t high = start;
    for (std::size_t i = start; i < stop; ++i) {
      if (Values[i] < Values[low]) low = i;
      if (Values[i] > Values[high]) high = i;
    }
    indices.push_back(std::min(low, high));
    if (low != high) indices.push_back(std::max(low, high));
  }
  // The very last point keeps the trace's end where it is.
  if (indices.back() != end - 1) indices.push_back(end - 1);
  return indices;
}

std::vector<std::size_t> ThinnedIndices(std::span<const double> Scale,
                                        const std::vector<std::span<const double>>& Traces, double Share) {
  const std::size_t count = Scale.size();
  std::vector<std::size_t> kept;
  if (count <= 2) {
    for (std::size_t i = 0; i < count; ++i) kept.push_back(i);
    return kept;
  }
  // The points that stay whatever the tolerance: ends, extremes, middle-level crossings.
  std::vector<char> forced(count, 0);
  forced.front() = forced.back() = 1;
  double largestSwing = 0.0;
  for (const auto& trace : Traces) {
    const auto values = trace.first(count);
    const auto [low, high] = std::minmax_element(values.begin(), values.end());
    forced[static_cast<std::size_t>(low - values.begin())] = 1;
    forced[static_cast<std::size_t>(high - values.begin())] = 1;
    largestSwing = std::max(largestSwing, *high - *low);
    if (!(*high > *low)) continue;
    const double middle = *low + (*high - *low) / 2;
    for (std::size_t i = 1; i < count; ++i)
      if ((values[i - 1] < middle) != (values[i] < middle)) forced[i - 1] = forced[i] = 1;
  }
  const double tolerance = Share * largestSwing;

  // Per trace, the slopes from the anchor (the last kept point) that pass within the tolerance
  // of every point since; the next point stays dropped while its own slope lies between them.
  constexpr double kInfinity = std::numeric_limits<double>::infinity();
  std::vector<double> lowest(Traces.size());
  std::vector<double> highest(Traces.size());
  std::size_t anchor = 0;
  const auto keep = [&](std::size_t Index) {
    kept.push_back(Index);
    anchor = Index;
    std::fill(lowest.begin(), lowest.end(), -kInfinity);
    std::fill(highest.begin(), highest.end(), kInfinity);
  };
  const auto fits = [&](std::size_t Index) {
    const double run = Scale[Index] - Scale[anchor];
    if (!(run > 0.0)) return false;
    for (std::size_t t = 0; t < Traces.size(); ++t) {
      const double slope = (Traces[t][Index] - Traces[t][anchor]) / run;
      if (slope < lowest[t] || slope > highest[t]) return false;
    }
    return true;
  };
  keep(0);
  for (std::size_t i = 1; i < count; ++i) {
    if (forced[i]) {
      keep(i);
      continue;
    }
    if (!fits(i)) {
      if (i - 1 > anchor) keep(i - 1);
      // Two points at one time (ngspice repeats one at some breakpoints) both stay.
      if (!(Scale[i] > Scale[anchor])) {
        keep(i);
        continue;
      }
    }
    const double run = Scale[i] - Scale[anchor];
    for (std::size_t t = 0; t < Traces.size(); ++t) {
      const double rise = Traces[t][i] - Traces[t][anchor];
      lowest[t] = std::max(lowest[t], (rise - tolerance) / run);
      highest[t] = std::min(highest[t], (rise + tolerance) / run);
    }
  }
  return kept;
}

}  // namespace busweave

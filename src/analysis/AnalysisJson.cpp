// A transmitter's run as the worker sends it to the pool, and read back with every number checked:
// a run from another machine is outside input. The plan as the pool sends it to a worker.

#include <climits>
#include <cmath>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "analysis/AnalysisRun.h"

namespace busweave {
namespace {

using Json = nlohmann::json;

}  // namespace

namespace {

Json optionalJson(const std::optional<double>& Value) { return Value ? Json(*Value) : Json(nullptr); }
// Times in a run lie within it, from its TXD edges; a time beyond this is not from a run.
constexpr double kLongestTime = 10 * LongestRun;

double finiteOf(const Json& Value) {
  if (!Value.is_number()) throw EAnalysisError("a value is not a number");
  const double number = Value.get<double>();
  if (!std::isfinite(number)) throw EAnalysisError("a value is not a finite number");
  return number;
}
double timeOf(const Json& Value) {
  const double time = finiteOf(Value);
  if (std::fabs(time) > kLongestTime) throw EAnalysisError("a time lies outside the run");
  return time;
}
// A time, or null for none.
std::optional<double> optionalOf(const Json& Value) {
  return Value.is_null() ? std::nullopt : std::optional<double>(timeOf(Value));
}
// A station's or transmitter's index: a whole number, never a fraction or a boolean.
int indexOf(const Json& Value) {
  if (!Value.is_number_integer() || Value.get<std::int64_t>() < 0 || Value.get<std::int64_t>() > INT_MAX ||
      (Value.is_number_unsigned() && Value.get<std::uint64_t>() > INT_MAX))
    throw EAnalysisError("a station's number is not a whole number from 0");
  return static_cast<int>(Value.get<std::int64_t>());
}
// Times ascending within the run, voltages finite, as many of each.
void readTrace(const Json& J, std::vector<double>& Time, std::vector<double>& Volts) {
  const Json& time = J.at("time");
  const Json& volts = J.at("volts");
  if (!time.is_array() || !volts.is_array() || time.size() != volts.size())
    throw EAnalysisError("a trace's times and voltages differ in count");
  Time.reserve(time.size());
  Volts.reserve(volts.size());
  for (std::size_t i = 0; i < time.size(); ++i) {
    Time.push_back(timeOf(time[i]));
    Volts.push_back(finiteOf(volts[i]));
    if (i > 0 && Time[i] < Time[i - 1]) throw EAnalysisError("a trace's times do not ascend");
  }
}

Json traceJson(const TWave& Trace) { return {{"time", Trace.Time}, {"volts", Trace.Volts}}; }
Json responsesJson(const TEdgeResponses& R) {
  return {{"dominant", traceJson(R.Dominant)}, {"recessive", traceJson(R.Recessive)}};
}

// A response from a part or a worker.
TWave traceOf(const Json& J) {
  TWave trace;
  readTrace(J, trace.Time, trace.Volts);
  return trace;
}
TEdgeResponses responsesOf(const Json& J) { return {traceOf(J.at("dominant")), traceOf(J.at("recessive"))}; }

}  // namespace

std::string TransmitterRunJson(const TTransmitterRun& Run) {
  Json pairs = Json::array();
  for (const TPairMeasure& p : Run.Pairs)
    pairs.push_back({{"transmitter", p.Transmitter},
                     {"receiver", p.Receiver},
                     {"transmitter_name", p.TransmitterName},
                     {"receiver_name", p.ReceiverName},
                     {"edge", EdgeName(p.Edge)},
                     {"delay", optionalJson(p.Delay)},
                     {"settle", optionalJson(p.Settle)},
                     {"overshoot", p.Overshoot},
                     {"undershoot", p.Undershoot},
                     {"false_edge", optionalJson(p.FalseEdge)}});
  Json stations = Json::array();
  for (const TStationResponse& s : Run.Stations)
    stations.push_back({{"station", s.Station}, {"name", s.Name}, {"responses", responsesJson(s.Responses)}});
  Json traces = Json::array();
  for (const TPlotTrace& t : Run.Traces)
    traces.push_back({{"station", t.Station}, {"time", t.Time}, {"volts", t.Volts}});
  Json pattern = nullptr;
  if (Run.Pattern.BitRate > 0) {
    Json waves = Json::array();
    for (const TStationWave& w : Run.Pattern.Stations)
      waves.push_back({{"station", w.Station}, {"name", w.Name}, {"wave", traceJson(w.Wave)}});
    pattern = {{"bitrate", Run.Pattern.BitRate},
               {"shift", Run.Pattern.Shift},
               {"start", Run.Pattern.Start},
               {"stations", waves}};
  }
  return Json{{"transmitter", Run.Transmitter},
              {"hold", Run.Hold},
              {"pattern", pattern},
              {"pairs", pairs},
              {"stations", stations},
              {"reference", responsesJson(Run.Reference)},
              {"traces", traces}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

TTransmitterRun TransmitterRunFromJson(const std::string& Text) {
  try {
    const Json json = Json::parse(Text);
    TTransmitterRun run;
    run.Transmitter = indexOf(json.at("transmitter"));
    // Parts of older versions do not say: the plan's hold stands for it.
    if (const auto hold = json.find("hold"); hold != json.end()) run.Hold = timeOf(*hold);
    for (const Json& p : json.at("pairs")) {
      TPairMeasure pair;
      pair.Transmitter = indexOf(p.at("transmitter"));
      pair.Receiver = indexOf(p.at("receiver"));
      pair.TransmitterName = p.at("transmitter_name").get<std::string>();
      pair.ReceiverName = p.at("receiver_name").get<std::string>();
      const std::string edge = p.at("edge").get<std::string>();
      if (edge != "dominant" && edge != "recessive") throw EAnalysisError("unknown edge " + edge);
      pair.Edge = edge == "dominant" ? TBusEdge::Dominant : TBusEdge::Recessive;
      pair.Delay = optionalOf(p.at("delay"));
      pair.Settle = optionalOf(p.at("settle"));
      pair.Overshoot = finiteOf(p.at("overshoot"));
      pair.Undershoot = finiteOf(p.at("undershoot"));
      pair.FalseEdge = optionalOf(p.at("false_edge"));
      run.Pairs.push_back(std::move(pair));
    }
    for (const Json& s : json.at("stations"))
      run.Stations.push_back(
          {indexOf(s.at("station")), s.at("name").get<std::string>(), responsesOf(s.at("responses"))});
    run.Reference = responsesOf(json.at("reference"));
    if (const Json& pattern = json.at("pattern"); !pattern.is_null()) {
      run.Pattern.BitRate = pattern.at("bitrate").get<std::int64_t>();
      run.Pattern.Shift = pattern.at("shift").get<double>();
      run.Pattern.Start = pattern.at("start").get<double>();
      for (const Json& w : pattern.at("stations"))
        run.Pattern.Stations.push_back(
            {w.at("station").get<int>(), w.at("name").get<std::string>(), traceOf(w.at("wave"))});
    }
    for (const Json& t : json.at("traces")) {
      TPlotTrace trace;
      trace.Station = indexOf(t.at("station"));
      readTrace(t, trace.Time, trace.Volts);
      run.Traces.push_back(std::move(trace));
    }
    return run;
  } catch (const nlohmann::json::exception& error) {
    throw EAnalysisError(std::string("not a transmitter's run: ") + error.what());
  }
}

namespace {

std::string textOf(const Json& Value) {
  if (!Value.is_string()) throw EAnalysisError("a text is not one");
  return Value.get<std::string>();
}

Json driverRunJson(const TDriverRun& Run) {
  return {{"first_dominant", Run.FirstDominant}, {"reference", responsesJson(Run.Reference)}};
}

TDriverRun driverRunOf(const Json& J) {
  if (!J.at("first_dominant").is_boolean()) throw EAnalysisError("which level drives is not said");
  return {J.at("first_dominant").get<bool>(), responsesOf(J.at("reference"))};
}

// What Read reads, or EAnalysisError naming What when the text is not one.
template <typename TRead>
auto orRefused(const std::string& What, TRead Read) {
  try {
    return Read();
  } catch (const nlohmann::json::exception& error) {
    throw EAnalysisError("not " + What + ": " + error.what());
  }
}

}  // namespace

std::string DriverRunJson(const TDriverRun& Run) { return driverRunJson(Run).dump(); }

TDriverRun DriverRunFromJson(const std::string& Text) {
  return orRefused("a driver's run", [&] { return driverRunOf(Json::parse(Text)); });
}

std::string AnalysisPlanJson(const TAnalysisPlan& Plan) {
  Json stations = Json::array();
  for (const TStation& s : Plan.Stations) stations.push_back({{"spice", s.Spice}, {"name", s.Name}});
  Json lines = Json::array();
  for (const TLineDelay& l : Plan.Lines) lines.push_back({{"a", l.A}, {"b", l.B}, {"delay", l.Delay}});
  return Json{
      {"circuit", Plan.Circuit},
      {"stations", stations},
      {"driver", Plan.Driver},
      {"held_driver", Plan.HeldDriver},
      {"sending_driver", Plan.SendingDriver},
      {"first_level", Plan.FirstLevel},
      {"second_level", Plan.SecondLevel},
      {"times",
       {Plan.Delay, Plan.Rise, Plan.Fall, Plan.Width, Plan.Period, Plan.LineDelays, Plan.Hold, Plan.EdgeAt, Plan.Stop}},
      {"lines", lines},
      {"driver_run", Plan.DriverRun ? driverRunJson(*Plan.DriverRun) : Json(nullptr)}}
      .dump(-1, ' ', false, Json::error_handler_t::replace);
}

TAnalysisPlan AnalysisPlanFromJson(const std::string& Text) {
  return orRefused("an analysis plan", [&] {
    TAnalysisPlan plan;
    const Json json = Json::parse(Text);
    for (const Json& line : json.at("circuit")) plan.Circuit.push_back(textOf(line));
    for (const Json& s : json.at("stations")) plan.Stations.push_back({textOf(s.at("spice")), textOf(s.at("name"))});
    plan.Driver = textOf(json.at("driver"));
    plan.HeldDriver = textOf(json.at("held_driver"));
    plan.SendingDriver = textOf(json.at("sending_driver"));
    plan.FirstLevel = textOf(json.at("first_level"));
    plan.SecondLevel = textOf(json.at("second_level"));
    const Json& times = json.at("times");
    if (!times.is_array() || times.size() != 9) throw EAnalysisError("the plan's times are not nine");
    double* const fields[] = {&plan.Delay,      &plan.Rise, &plan.Fall,   &plan.Width, &plan.Period,
                              &plan.LineDelays, &plan.Hold, &plan.EdgeAt, &plan.Stop};
    for (std::size_t i = 0; i < times.size(); ++i) *fields[i] = finiteOf(times[i]);
    for (const Json& l : json.at("lines"))
      plan.Lines.push_back({textOf(l.at("a")), textOf(l.at("b")), timeOf(l.at("delay"))});
    if (const Json& driver = json.at("driver_run"); !driver.is_null()) plan.DriverRun = driverRunOf(driver);
    return plan;
  });
}

}  // namespace busweave

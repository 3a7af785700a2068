#include "spice/SpiceEngine.h"

#include <dlfcn.h>
#include <fcntl.h>
#include <ngspice/sharedspice.h>
#include <unistd.h>

#include <algorithm>
#include <atomic>
#include <cctype>
#include <charconv>
#include <clocale>
#include <cmath>
#include <csignal>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <thread>
#include <utility>

#include "spice/SpiceNumbers.h"
#include "spice/Waveforms.h"

namespace busweave {
namespace {

// ngspice's messages are kept for the error text and the log; a runaway circuit must not fill
// the memory with them.
constexpr std::size_t kMostMessages = 400;

// Lines of a run's messages that name what went wrong; the error text shows these few.
constexpr std::size_t kMostReasons = 12;

// Read by signal handlers, so lock-free.
std::atomic<bool> readingCircuit{false};
static_assert(std::atomic<bool>::is_always_lock_free);

bool mentionsError(const std::string& Line) { return LowerCase(Line).find("error") != std::string::npos; }

bool isReason(const std::string& Line) {
  const std::string lower = LowerCase(Line);
  for (const char* word : {"error", "abort", "too small", "singular", "fail"})
    if (lower.find(word) != std::string::npos && lower.find("gmin") == std::string::npos) return true;
  return false;
}

// The status texts name the analysis and its share done: "tran: 45.3%".
bool isStatusOfRun(const std::string& Text) { return Text.find('%') != std::string::npos; }

// A library that asked to be detached is never unmapped: ngspice may still be finishing that
// exit on a thread of its own, and unmapping its code under it crashes the program (seen at
// random after a circuit it could not read). A reload maps a fresh copy of the library instead
// and leaves the old one mapped; this also lets LeakSanitizer name the module of ngspice's own
// allocations.
// A private copy of the library file, opened and deleted at once (the mapping stays). Its name
// keeps "libngspice", so that reports still name the library.
void* openFreshCopy(const std::string& Path) {
  std::error_code ec;
  // A name of its own each time: a path already loaded would give back the old library.
  static int copies = 0;
  const auto folder = std::filesystem::temp_directory_path(ec) /
                      ("busweave-ngspice-" + std::to_string(getpid()) + "-" + std::to_string(++copies));
  if (!std::filesystem::create_directory(folder, ec)) return nullptr;
  const auto copy = folder / std::filesystem::path(Path).filename();
  void* handle = nullptr;
  if (std::filesystem::copy_file(Path, copy, ec)) handle = dlopen(copy.c_str(), RTLD_NOW | RTLD_LOCAL);
  std::filesystem::remove_all(folder, ec);
  return handle;
}

std::string joinLines(const std::vector<std::string>& Lines) {
  std::string text;
  for (const auto& line : Lines) {
    if (!text.empty()) text += '\n';
    text += line;
  }
  return text;
}

// The deck runs a little past the stop of .TRAN (see the translation); the waveforms end at
// it, with the values there read between the neighbouring points.
void cutAt(TWaveforms& Waves, double Stop) {
  auto& scale = Waves.Scale;
  const auto past = std::upper_bound(scale.begin(), scale.end(), Stop);
  if (past == scale.end() || past == scale.begin()) return;
  const auto index = static_cast<std::size_t>(past - scale.begin());
  const bool exact = scale[index - 1] == Stop;
  for (auto& trace : Waves.Traces) {
    if (trace.Values.size() != scale.size()) continue;
    if (!exact) trace.Values[index] = *ValueAt(scale, trace.Values, Stop);
    trace.Values.resize(exact ? index : index + 1);
  }
  if (!exact) scale[index] = Stop;
  scale.resize(exact ? index : index + 1);
}

}  // namespace

TRunSize EstimateRunSize(const TNgspiceCircuit& Circuit) {
  TRunSize size;
  if (!Circuit.Transient || !(Circuit.Step.MaxStep > 0.0)) return size;
  const double span = Circuit.Transient->Stop - Circuit.Transient->Start;
  // Runs on the examples take about 1 point per step, generated station buses up to 3.4 (the
  // breakpoints of many lines).
  constexpr double kPointsPerStep = 4.0;
  size.Points = std::max(span, 0.0) / Circuit.Step.MaxStep * kPointsPerStep + 1.0;
  const bool saved = std::any_of(Circuit.Lines.begin(), Circuit.Lines.end(),
                                 [](const std::string& Line) { return Line.rfind(".SAVE", 0) == 0; });
  if (saved) {
    size.Vectors = Circuit.Nodes.size() + 1;
  } else {
    // Everything: every node and every source's current, a few per element.
    constexpr std::size_t kVectorsPerLine = 3;
    size.Vectors = Circuit.Lines.size() * kVectorsPerLine + 1;
  }
  // ngspice's vectors (measured: 1.2 times their points) and the thinned copy, at worst as
  // large again.
  constexpr double kCopies = 2.0;
  size.Bytes = size.Points * static_cast<double>(size.Vectors) * sizeof(double) * kCopies;
  return size;
}

std::uint64_t RunMemoryLimit() {
  constexpr std::uint64_t kMost = std::uint64_t{2} << 30;
  const long pages = sysconf(_SC_PHYS_PAGES);
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pages <= 0 || pageSize <= 0) return kMost;
  return std::min(kMost, static_cast<std::uint64_t>(pages) * static_cast<std::uint64_t>(pageSize) / 4);
}

std::string RunSizeProblem(const TRunSize& Size, std::uint64_t Limit, const TStepChoice& Step) {
  if (Size.Bytes <= static_cast<double>(Limit)) return {};
  // to_chars: the GUI runs in the user's locale, which may write a decimal comma.
  const auto number = [](double Value, std::chars_format Format, int Digits) {
    char text[32];
    const auto written = std::to_chars(text, text + sizeof text, Value, Format, Digits);
    return std::string(text, written.ptr);
  };
  const auto megabytes = [&](double Bytes) { return number(Bytes / 1e6, std::chars_format::fixed, 0) + " MB"; };
  const std::string points = number(Size.Points, std::chars_format::general, 3);
  return "The simulation would need about " + megabytes(Size.Bytes) + " (" + points + " time points at a step of " +
         TimeText(Step.MaxStep) + ", " + std::to_string(Size.Vectors) + " vectors); at most " +
         megabytes(static_cast<double>(Limit)) +
         " fit (a quarter of this computer's memory, 2 GiB at most). Shorten the run of .TRAN or "
         "raise its step ceiling.";
}

// The library handle and the entry points taken from it.
struct TSpiceEngine::Library {
  void* Handle = nullptr;
  decltype(&::ngSpice_Init) Init = nullptr;
  decltype(&::ngSpice_Command) Command = nullptr;
  decltype(&::ngSpice_Circ) Circ = nullptr;
  decltype(&::ngSpice_AllPlots) AllPlots = nullptr;
  decltype(&::ngSpice_AllVecs) AllVecs = nullptr;
  decltype(&::ngGet_Vec_Info) VecInfo = nullptr;
  decltype(&::ngSpice_running) Running = nullptr;
};

TSpiceEngine& TSpiceEngine::Instance() {
  static TSpiceEngine engine;
  return engine;
}

TSpiceEngine::TSpiceEngine() = default;

TSpiceEngine::~TSpiceEngine() {
  // At the end of the process: stop a run so that ngspice's thread does not call back into a
  // destroyed engine. The library stays loaded until the process is gone.
  Cancel();
}

bool TSpiceEngine::ReadingCircuit() noexcept { return readingCircuit; }

std::vector<std::string> TSpiceEngine::LibraryCandidates() {
  if (const char* chosen = std::getenv("BUSWEAVE_NGSPICE_LIBRARY"); chosen && *chosen) return {chosen};
  return {"libngspice.so.0", "libngspice.so"};
}

bool TSpiceEngine::load(std::string& Error) {
  if (FLibrary && !FNeedsReload) return true;
  unload();

  auto library = std::make_unique<Library>();
  std::string problems;
  if (!FOldLibraryPath.empty()) library->Handle = openFreshCopy(FOldLibraryPath);
  for (const auto& candidate : LibraryCandidates()) {
    if (library->Handle) break;
    library->Handle = dlopen(candidate.c_str(), RTLD_NOW | RTLD_LOCAL);
    if (library->Handle) break;
    const char* reason = dlerror();
    problems += '\n';
    problems += reason ? std::string(reason) : candidate;
  }
  if (!library->Handle) {
    Error = "The ngspice library could not be loaded (install the package libngspice0):" + problems;
    return false;
  }
  const auto resolve = [&](auto& Entry, const char* Name) {
    Entry = reinterpret_cast<std::remove_reference_t<decltype(Entry)>>(dlsym(library->Handle, Name));
    return Entry != nullptr;
  };
  if (!resolve(library->Init, "ngSpice_Init") || !resolve(library->Command, "ngSpice_Command") ||
      !resolve(library->Circ, "ngSpice_Circ") || !resolve(library->AllPlots, "ngSpice_AllPlots") ||
      !resolve(library->AllVecs, "ngSpice_AllVecs") || !resolve(library->VecInfo, "ngGet_Vec_Info") ||
      !resolve(library->Running, "ngSpice_running")) {
    dlclose(library->Handle);
    Error = "The ngspice library lacks the shared-library interface (ngSpice_Init and its companions).";
    return false;
  }

  // ngspice reads numbers with the C library, so the decimal point must be '.'. ngspice also
  // takes over Ctrl+C; the program keeps its own handling.
  std::setlocale(LC_NUMERIC, "C");
  struct sigaction previous {};
  sigaction(SIGINT, nullptr, &previous);
  // ngspice runs the commands of a .spiceinit in the current folder when it starts, and that
  // folder is whatever one works in (another's, a download): it starts in the home folder, whose
  // .spiceinit is the user's own, and the folder is given back at once.
  const int here = open(".", O_RDONLY | O_DIRECTORY | O_CLOEXEC);
  const char* home = std::getenv("HOME");
  const bool moved = here >= 0 && chdir(home && *home == '/' ? home : "/") == 0;
  library->Init(&TSpiceEngine::onOutput, &TSpiceEngine::onStatus, &TSpiceEngine::onExit, nullptr, nullptr,
                &TSpiceEngine::onThread, this);
  if (moved && fchdir(here) != 0) Error = "The working folder could not be entered again after ngspice started.";
  if (here >= 0) close(here);
  sigaction(SIGINT, &previous, nullptr);
  FLibrary = std::move(library);
  FNeedsReload = false;
  FThreadStarted = false;
  // PSPICE compatibility, before any circuit is read.
  command("set ngbehavior=psa");
  takeMessages();
  return true;
}

void TSpiceEngine::unload() {
  if (!FLibrary) return;
  // ngspice's thread must be gone before its code is unmapped.
  joinBackgroundThread();
  // The installed file, which later copies are made from (the copies are deleted).
  Dl_info info{};
  if (FOldLibraryPath.empty() && dladdr(reinterpret_cast<void*>(FLibrary->Init), &info) != 0 && info.dli_fname)
    FOldLibraryPath = info.dli_fname;
  FLibrary.reset();
}

void TSpiceEngine::command(const char* Text) {
  if (!FLibrary) return;
  std::string text(Text);
  struct sigaction previous {};
  sigaction(SIGINT, nullptr, &previous);
  FLibrary->Command(text.data());
  sigaction(SIGINT, &previous, nullptr);
}

void TSpiceEngine::joinBackgroundThread() {
  if (!FLibrary || !FThreadStarted) return;
  // ngspice joins its finished (or halted) thread in bg_halt.
  command("bg_halt");
  FThreadStarted = false;
}

std::vector<std::string> TSpiceEngine::takeMessages() {
  std::lock_guard lock(FMutex);
  return std::exchange(FMessages, {});
}

bool TSpiceEngine::Start(const TNgspiceCircuit& Circuit, Notify OnChange, std::string& Error) {
  if (Busy()) {
    Error = "A simulation is still running.";
    return false;
  }
  if (std::string problem = RunSizeProblem(EstimateRunSize(Circuit), RunMemoryLimit(), Circuit.Step);
      !problem.empty()) {
    Error = std::move(problem);
    return false;
  }
  if (!load(Error)) return false;
  // Something since the last run (Qt, a locale change) may have set the decimal comma again.
  std::setlocale(LC_NUMERIC, "C");
  joinBackgroundThread();
  discardResults();
  {
    std::lock_guard lock(FMutex);
    FMessages.clear();
    FProgress.clear();
    FFinished = false;
    FExitRequested = false;
    FNotify = nullptr;
  }

  std::vector<std::string> lines = Circuit.Lines;
  std::vector<char*> pointers;
  pointers.reserve(lines.size() + 1);
  for (auto& line : lines) pointers.push_back(line.data());
  pointers.push_back(nullptr);
  readingCircuit = true;
  const int refused = FLibrary->Circ(pointers.data());
  readingCircuit = false;

  std::vector<std::string> messages = takeMessages();
  bool exitRequested = false;
  {
    std::lock_guard lock(FMutex);
    exitRequested = FExitRequested;
  }
  if (refused != 0 || exitRequested) FNeedsReload = true;
  // ngspice goes on after many errors in a circuit (a resistor without value becomes 1 mOhm);
  // any error while reading it refuses the run.
  const bool failed =
      refused != 0 || exitRequested ||
      std::any_of(messages.begin(), messages.end(), [](const std::string& M) { return mentionsError(M); });
  if (failed) {
    Error = messages.empty() ? "ngspice refused the circuit." : joinLines(messages);
    if (!FNeedsReload) command("remcirc");
    takeMessages();
    return false;
  }

  FCircuit = Circuit;
  {
    std::lock_guard lock(FMutex);
    FMessages = std::move(messages);
    FOpen = true;
    FNotify = std::move(OnChange);
  }
  FThreadStarted = true;
  command("bg_run");
  return true;
}

bool TSpiceEngine::Busy() const {
  std::lock_guard lock(FMutex);
  return FOpen;
}

bool TSpiceEngine::Finished() const {
  std::lock_guard lock(FMutex);
  return FOpen && FFinished;
}

std::string TSpiceEngine::Progress() const {
  std::lock_guard lock(FMutex);
  return FProgress;
}

bool TSpiceEngine::WaitUntilFinished(std::chrono::milliseconds Timeout) const {
  std::unique_lock lock(FMutex);
  return FChanged.wait_for(lock, Timeout, [this] { return !FOpen || FFinished; });
}

void TSpiceEngine::discardResults() {
  if (!FLibrary || FNeedsReload) return;
  command("destroy all");
  command("remcirc");
  takeMessages();
}

TWaveforms TSpiceEngine::readAnalysis(const std::string& Prefix, const std::string& ScaleName, bool Thin,
                                      std::size_t* Computed) {
  TWaveforms waveforms;
  // The newest plot of this kind: ngspice lists plots newest first.
  char** plots = FLibrary->AllPlots();
  std::string plot;
  for (int i = 0; plots && plots[i]; ++i) {
    const std::string name = plots[i];
    if (name.compare(0, Prefix.size(), Prefix) == 0 && name.size() > Prefix.size() &&
        std::isdigit(static_cast<unsigned char>(name[Prefix.size()]))) {
      plot = name;
      break;
    }
  }
  if (plot.empty()) return waveforms;

  const auto vector = [&](const std::string& Name) {
    std::string path = plot + "." + Name;
    return FLibrary->VecInfo(path.data());
  };
  const auto realParts = [](const vector_info* Info) {
    std::vector<double> values(static_cast<std::size_t>(std::max(Info->v_length, 0)));
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = Info->v_realdata ? Info->v_realdata[i] : Info->v_compdata[i].cx_real;
    return values;
  };
  // ngGet_Vec_Info answers in one static record: each answer is copied before the next call.
  const pvector_info scaleInfo = vector(ScaleName);
  if (!scaleInfo || (!scaleInfo->v_realdata && !scaleInfo->v_compdata)) return waveforms;
  const vector_info scaleCopy = *scaleInfo;
  const vector_info* const scale = &scaleCopy;
  waveforms.ScaleName = ScaleName;
  const auto length = static_cast<std::size_t>(std::max(scale->v_length, 0));
  if (Computed) *Computed = length;
  std::vector<std::pair<const TNetworkNode*, vector_info>> found;
  for (const auto& node : FCircuit.Nodes) {
    const pvector_info info = vector("V(" + node.Spice + ")");
    if (info && info->v_length == scale->v_length && (info->v_realdata || info->v_compdata))
      found.emplace_back(&node, *info);
  }
  // A real run is thinned straight from ngspice's vectors, so that the whole run is never
  // copied.
  const bool realRun = scale->v_realdata && std::all_of(found.begin(), found.end(), [](const auto& Found) {
                         return Found.second.v_realdata != nullptr;
                       });
  if (Thin && realRun) {
    std::vector<std::span<const double>> traces;
    for (const auto& [node, info] : found) traces.emplace_back(info.v_realdata, length);
    const std::vector<std::size_t> kept = ThinnedIndices({scale->v_realdata, length}, traces);
    const auto pick = [&](const double* Values) {
      std::vector<double> values;
      values.reserve(kept.size());
      for (std::size_t i : kept) values.push_back(Values[i]);
      return values;
    };
    waveforms.Scale = pick(scale->v_realdata);
    for (const auto& [node, info] : found) waveforms.Traces.push_back({node->Name, pick(info.v_realdata)});
    return waveforms;
  }
  waveforms.Scale = realParts(scale);
  for (const auto& [node, info] : found) {
    TTrace trace;
    trace.Name = node->Name;
    if (info.v_realdata) {
      trace.Values = realParts(&info);
    } else if (info.v_compdata) {
      trace.Values.resize(static_cast<std::size_t>(info.v_length));
      for (std::size_t i = 0; i < trace.Values.size(); ++i)
        trace.Values[i] = std::hypot(info.v_compdata[i].cx_real, info.v_compdata[i].cx_imag);
    }
    waveforms.Traces.push_back(std::move(trace));
  }
  return waveforms;
}

TSimulationResult TSpiceEngine::Collect() {
  TSimulationResult result;
  result.Step = FCircuit.Step;
  {
    std::lock_guard lock(FMutex);
    if (!FOpen || !FFinished) {
      result.Error = "No simulation has finished.";
      return result;
    }
  }
  joinBackgroundThread();
  std::vector<std::string> messages = takeMessages();
  {
    std::lock_guard lock(FMutex);
    if (FExitRequested) FNeedsReload = true;
  }

  if (!FNeedsReload) {
    if (FCircuit.Transient) {
      result.Transient = readAnalysis("tran", "time", true, &result.ComputedPoints);
      cutAt(result.Transient, FCircuit.Transient->Stop);
    }
    if (FCircuit.HasAc) result.Ac = readAnalysis("ac", "frequency", false);
    // Looking up a missing vector makes ngspice complain; that is not the circuit's fault.
    takeMessages();
  }

  std::vector<std::string> problems;
  if (FNeedsReload) problems.push_back("ngspice stopped with an error it cannot recover from.");
  if (FCircuit.Transient && !FNeedsReload) {
    // ngspice may report "Timestep too small" when rounding leaves a sliver of time before the
    // final point; a run that got there is complete.
    const auto& spec = *FCircuit.Transient;
    const double slack = std::max(0.5 * FCircuit.Step.MaxStep, 1e-9 * (spec.Stop - spec.Start));
    const bool complete = !result.Transient.Empty() && result.Transient.Scale.back() >= spec.Stop - slack;
    if (!complete) {
      const double reached = result.Transient.Empty() ? spec.Start : result.Transient.Scale.back();
      problems.push_back("The transient analysis stopped at " + TimeText(reached) + " of " + TimeText(spec.Stop) + ".");
    }
  }
  if (FCircuit.HasAc && !FNeedsReload && result.Ac.Empty()) problems.push_back("The AC analysis gave no result.");
  if (!FCircuit.Transient && !FCircuit.HasAc) problems.push_back("The circuit has no .TRAN or .AC analysis.");

  // The log keeps everything ngspice said; the error keeps what says why, once each.
  std::vector<std::string> reasons;
  for (const auto& message : messages) {
    if (result.Log.empty() || result.Log.back() != message) result.Log.push_back(message);
    if (isReason(message) && std::find(reasons.begin(), reasons.end(), message) == reasons.end() &&
        reasons.size() < kMostReasons)
      reasons.push_back(message);
  }
  result.Ok = problems.empty();
  if (!result.Ok) {
    problems.insert(problems.end(), reasons.begin(), reasons.end());
    result.Error = joinLines(problems);
  }

  discardResults();
  std::lock_guard lock(FMutex);
  FOpen = false;
  FFinished = false;
  FNotify = nullptr;
  FChanged.notify_all();
  return result;
}

void TSpiceEngine::Cancel() {
  {
    std::lock_guard lock(FMutex);
    if (!FOpen) return;
    FNotify = nullptr;
  }
  // bg_halt returns once ngspice's thread has stopped; the paused run is then removed.
  joinBackgroundThread();
  {
    std::lock_guard lock(FMutex);
    if (FExitRequested) FNeedsReload = true;
  }
  discardResults();
  takeMessages();
  std::lock_guard lock(FMutex);
  FOpen = false;
  FFinished = false;
  FChanged.notify_all();
}

TSimulationResult TSpiceEngine::Run(const TNgspiceCircuit& Circuit,
                                    const std::function<void(const std::string&)>& OnProgress,
                                    const std::function<bool()>& Cancelled) {
  TSimulationResult result;
  result.Step = Circuit.Step;
  std::string error;
  if (!Start(Circuit, nullptr, error)) {
    result.Error = error;
    return result;
  }
  std::string shown;
  while (!WaitUntilFinished(std::chrono::milliseconds(100))) {
    if (Cancelled && Cancelled()) {
      Cancel();
      result.Cancelled = true;
      result.Error = "The simulation was cancelled.";
      return result;
    }
    if (!OnProgress) continue;
    const std::string progress = Progress();
    if (progress != shown) OnProgress(shown = progress);
  }
  return Collect();
}

int TSpiceEngine::onOutput(char* Text, int, void* Self) {
  auto* engine = static_cast<TSpiceEngine*>(Self);
  if (!Text) return 0;
  // Lines come as "stdout ..." or "stderr ..."; only the error stream tells about problems.
  static constexpr const char* kErrorStream = "stderr ";
  if (std::strncmp(Text, kErrorStream, std::strlen(kErrorStream)) != 0) return 0;
  std::string line(Text + std::strlen(kErrorStream));
  while (!line.empty() && (line.back() == '\n' || line.back() == '\r' || line.back() == ' ')) line.pop_back();
  if (line.empty()) return 0;
  std::lock_guard lock(engine->FMutex);
  if (engine->FMessages.size() < kMostMessages) engine->FMessages.push_back(std::move(line));
  return 0;
}

int TSpiceEngine::onStatus(char* Text, int, void* Self) {
  auto* engine = static_cast<TSpiceEngine*>(Self);
  if (!Text) return 0;
  Notify notify;
  {
    std::lock_guard lock(engine->FMutex);
    if (!engine->FOpen || (!isStatusOfRun(Text) && std::strcmp(Text, "--ready--") != 0)) return 0;
    engine->FProgress = Text;
    notify = engine->FNotify;
  }
  if (notify) notify();
  return 0;
}

int TSpiceEngine::onExit(int, bool, bool, int, void* Self) {
  auto* engine = static_cast<TSpiceEngine*>(Self);
  std::lock_guard lock(engine->FMutex);
  engine->FExitRequested = true;
  return 0;
}

int TSpiceEngine::onThread(bool Finished, int, void* Self) {
  auto* engine = static_cast<TSpiceEngine*>(Self);
  // The flag is true when the thread is about to end.
  if (!Finished) return 0;
  Notify notify;
  {
    std::lock_guard lock(engine->FMutex);
    if (!engine->FOpen) return 0;
    engine->FFinished = true;
    notify = engine->FNotify;
    engine->FChanged.notify_all();
  }
  if (notify) notify();
  return 0;
}

}  // namespace busweave

#include <QGuiApplication>
#include <cstdio>
#include <exception>
#include <optional>
#include <ostream>

#include "base/SafeFile.h"
#include "cli/Cli.h"
#include "cli/CliCommon.h"
#include "drawing/FitNetwork.h"
#include "drawing/NetworkDrawing.h"
#include "guard/RuntimeFolder.h"
#include "model/NetworkContainer.h"
#include "picture/PictureRendering.h"

namespace busweave::cli {
namespace {

constexpr const char* kPictureHelp =
    "Usage: busweave-cli picture FILE -o OUT [--format FORMAT]\n"
    "\n"
    "Draws the network file FILE as a picture of its true size: one document unit is 0.2 mm.\n"
    "The document is fitted as the editor fits it on opening: the network moves so that its\n"
    "leftmost and lowest nodes lie 100 units from the left and bottom edges, and the picture\n"
    "keeps 100 units of margin on every side. An empty network gives an empty picture of\n"
    "200 x 200 units (40 x 40 mm). OUT's extension chooses the format: .emf (enhanced\n"
    "metafile, with the creator Busweave-V2 and FILE as its description), .wmf (placeable\n"
    "Windows metafile, at most 8.67 m on a side), .svg, .pdf, or .png (96 pixels per inch);\n"
    "--format emf, wmf, svg, pdf or png chooses it for an OUT without one, such as '-'\n"
    "(standard output).\n"
    "Names and labels use the picture font, Arial 8 points in fuchsia.\n";

}  // namespace

// QPainter needs a graphical application object for its fonts; a command-line run has none,
// so one is made on the offscreen platform and kept for the rest of the process.
bool EnsureGuiApplication() {
  if (QCoreApplication::instance()) return qobject_cast<QGuiApplication*>(QCoreApplication::instance()) != nullptr;
  static int argc = 3;
  static char name[] = "busweave-cli";
  static char platformOption[] = "-platform";
  static char platform[] = "offscreen";
  static char* argv[] = {name, platformOption, platform, nullptr};
  ProvideRuntimeFolder();
  new QGuiApplication(argc, argv);
  return true;
}

std::optional<TPictureSource> NetworkPicture(TCanNodes& Net, const std::string& File, std::string& Problem) {
  // Refused before anything moves: coordinates that cannot be fitted would fold the picture.
  const TPoint grid{100, 100};
  Problem = FitProblem(PlanFit(Net, grid, {200, 200}));
  if (!Problem.empty()) return std::nullopt;
  // Text is measured with the installed fonts, as in the editor's pictures.
  if (!EnsureGuiApplication()) {
    Problem = "pictures need a graphical application object";
    return std::nullopt;
  }
  // Names holding a ']' are drawn whole.
  NumberNamesKeepingText(Net);
  TPictureSource source;
  source.DocSize = FitNetwork(Net, grid, {200, 200});
  source.DocPath = File;
  TPlotSettings settings;
  settings.ExportFont = DefaultPictureFont;
  source.Font = settings.ExportFont;
  source.PlotIt = [&Net, settings](Canvas& C, TPlotTarget Target, bool MakeFont, TPoint Scale) {
    PlotNetwork(C, Net, settings, Target, MakeFont, Scale);
  };
  return source;
}

int RunPicture(const std::vector<std::string>& Args, std::ostream& Out, std::ostream& Err) {
  int exit = ExitDone;
  const auto args = ParseArguments("picture", kPictureHelp, {{"-o", true}, {"--format", true}}, Args, Out, Err, exit);
  if (!args) return exit;
  if (args->Files.size() != 1) return Usage(Err, "picture needs exactly one FILE", "picture");
  if (!args->Has("-o")) return Usage(Err, "picture needs -o OUT", "picture");
  const std::string& file = args->Files[0];
  const std::string& out = args->Options.at("-o");
  auto format = PictureFormatOf(out);
  if (args->Has("--format")) {
    const std::string& name = args->Options.at("--format");
    const auto asked = name.find('.') == std::string::npos ? PictureFormatOf("picture." + name) : std::nullopt;
    if (!asked) return Usage(Err, "--format needs emf, wmf, svg, pdf or png", "picture");
    if (format && *format != *asked)
      return Usage(Err, "OUT " + out + " names another format than --format " + name, "picture");
    format = asked;
  }
  if (!format && out == kStandardStream)
    return Usage(Err, "a picture on standard output needs --format emf, wmf, svg, pdf or png", "picture");
  if (!format) return Usage(Err, "OUT must end in .emf, .wmf, .svg, .pdf or .png", "picture");
  if (OutputIsAnInput(out, {file}, Err, "picture")) return ExitUsage;

  TCanNodes net = DocumentNetwork();
  if (!LoadForCommand(net, file, Err)) return ExitFailure;
  std::string problem;
  const std::optional<TPictureSource> picture = NetworkPicture(net, file, problem);
  if (!picture) {
    Err << kProgram << ": " << file << ": " << problem << "; there is no picture to draw\n";
    return ExitFailure;
  }
  const TPictureSource& source = *picture;
  std::string bytes;
  try {
    bytes = RenderPicture(source, *format, *format == TPictureFormat::Wmf ? ptFileWMF : ptFileEMF);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << out << ": " << error.what() << "\n";
    return ExitFailure;
  }
  try {
    WriteOutput(out, bytes, Out);
  } catch (const std::exception& error) {
    Err << kProgram << ": " << error.what() << "\n";
    return ExitFailure;
  }
  if (out == kStandardStream) return ExitDone;
  const TPoint size = PictureSize(source);
  char text[64];
  std::snprintf(text, sizeof text, "%.1f x %.1f mm", size.X / 100.0, size.Y / 100.0);
  Out << out << ": picture written, " << text << "\n";
  return ExitDone;
}

}  // namespace busweave::cli

// busweave-cli: info and normalize on good, damaged and missing files, help and usage errors.

#include <gtest/gtest.h>
#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <iterator>
#include <sstream>
#include <string>
#include <vector>

#include "cli/Cli.h"
#include "model/NetworkContainer.h"

using namespace busweave;
namespace fs = std::filesystem;

namespace {

struct Result {
  int Code;
  std::string Out, Err;
  bool says(const std::string& Text) const { return Out.find(Text) != std::string::npos; }
  bool complains(const std::string& Text) const { return Err.find(Text) != std::string::npos; }
};

Result run(const std::vector<std::string>& Args) {
  std::ostringstream out, err;
  const int code = cli::RunCli(Args, out, err);
  return {code, out.str(), err.str()};
}

// JSON without the blanks between tokens, so the checks do not depend on the layout.
std::string compact(const std::string& Json) {
  std::string out;
  bool inString = false;
  for (std::size_t i = 0; i < Json.size(); ++i) {
    const char c = Json[i];
    if (inString && c == '\\') {
      out += Json.substr(i++, 2);
      continue;
    }
    if (c == '"') inString = !inString;
    if (inString || !std::isspace(static_cast<unsigned char>(c))) out += c;
  }
  return out;
}

// The compacted JSON object of the element with Key, or "" when there is none.
std::string element(const std::string& Json, const std::string& Key) {
  const auto start = Json.find("{\"key\":\"" + Key + "\"");
  return start == std::string::npos ? "" : Json.substr(start, Json.find('}', start) - start + 1);
}

std::string read(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  return {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()};
}

void write(const std::string& Path, const std::string& Bytes) { std::ofstream(Path, std::ios::binary) << Bytes; }

// A sample network of three nodes and two wires, saved by the model, in a folder of its own.
class Cli : public ::testing::Test {
 protected:
  fs::path dir = fs::temp_directory_path() / ("busweave-cli-" + std::to_string(::getpid()) + "-" +
                                              ::testing::UnitTest::GetInstance()->current_test_info()->name());
  std::string sample = (dir / "sample.bwn").string();
  std::string canonical;

  void SetUp() override {
    fs::create_directories(dir);
    TCanNodes net(120, 1500, 120);
    net.AddNode({0, 0});
    net.AddNode({100, 0});
    net.AddNode({100, 100});
    net.AddWire({0, 0}, {100, 0}, 120, true);
    net.AddWire({100, 100}, {100, 0}, 90, false);
    net.NodeAt({0, 0})->FSource = 1;
    net.NodeAt({0, 0})->FName = "Gate \"A\" \\ 1";
    ASSERT_TRUE(net.SaveNetwork(sample));
    canonical = read(sample);
    ASSERT_EQ(canonical.size(), 2u + 3 * 275 + 2 * 291);
  }
  void TearDown() override { fs::remove_all(dir); }
  std::string path(const std::string& Name) const { return (dir / Name).string(); }
  // Entry I of the sample file: nodes 0 to 2, then wires 3 and 4.
  std::string entry(std::size_t I) const {
    return I < 3 ? canonical.substr(1 + 275 * I, 275) : canonical.substr(826 + 291 * (I - 3), 291);
  }
};

}  // namespace

TEST_F(Cli, HelpAndUsageErrors) {
  EXPECT_EQ(run({"--help"}).Code, 0);
  EXPECT_TRUE(run({"--help"}).says("normalize"));
  EXPECT_TRUE(run({"info", "--help"}).says("--json"));
  EXPECT_EQ(run({"normalize", "--help"}).Code, 0);
  const std::vector<std::vector<std::string>> misuses = {{},
                                                         {"bogus"},
                                                         {"info"},
                                                         {"info", sample, sample},
                                                         {"info", sample, "--xml"},
                                                         {"normalize", sample},
                                                         {"normalize", sample, path("a.bwn"), path("b.bwn")}};
  for (const auto& args : misuses) {
    const Result r = run(args);
    EXPECT_EQ(r.Code, 2) << ::testing::PrintToString(args);
    EXPECT_TRUE(r.Out.empty() && !r.Err.empty()) << ::testing::PrintToString(args);
  }
}

TEST_F(Cli, MistypedCommandsAndOptionsAreAnsweredWithTheNearest) {
  for (const auto& [args, says] : std::vector<std::pair<std::vector<std::string>, std::string>>{
           {{"anlyze"}, "unknown command 'anlyze'. Did you mean 'analyze'?\n"},
           {{"chek", sample}, "unknown command 'chek'. Did you mean 'check'?\n"},
           {{"--hepl"}, "unknown command '--hepl'. Did you mean '--help'?\n"},
           {{"check", sample, "--bitrat", "5"}, "unknown option --bitrat. Did you mean --bitrate?\n"},
           {{"analyze-worke"}, "unknown command 'analyze-worke'\n"}}) {  // the worker is not offered
    const Result r = run(args);
    EXPECT_EQ(r.Code, 2) << says;
    EXPECT_EQ(r.Err.find(says), std::string("busweave-cli: ").size()) << r.Err;
  }
}

TEST_F(Cli, TransceiversAreListedShownAndABadFileOfTheUsersIsNamed) {
  setenv("BUSWEAVE_TRANSCEIVERS", dir.c_str(), 1);
  const Result listed = run({"transceivers"});
  EXPECT_EQ(listed.Code, 0) << listed.Err;
  EXPECT_TRUE(listed.says("iso11898-2-typ (default): ISO 11898-2:2016")) << listed.Out;
  const Result shown = run({"transceivers", "sic-cia601-4"});
  EXPECT_TRUE(shown.says("\nsic_time = ") && shown.says("\ninput_resistance = ")) << shown.Out;
  EXPECT_TRUE(shown.says("  # ")) << shown.Out;  // every figure with its source
  // A file of the user's in place of a shipped class, cut short: named by file and key, exit 1,
  // the others still listed.
  std::ofstream(path("iso11898-2-typ.transceiver")) << "description = mine\ndriver_dominant_voltage = 2 V\n";
  const Result broken = run({"transceivers"});
  EXPECT_EQ(broken.Code, 1);
  EXPECT_TRUE(broken.complains(path("iso11898-2-typ.transceiver"))) << broken.Err;
  EXPECT_TRUE(broken.says("sic-cia601-4: ")) << broken.Out;
  EXPECT_EQ(run({"transceivers", "no-such-class"}).Code, 1);
  unsetenv("BUSWEAVE_TRANSCEIVERS");
}

TEST_F(Cli, InfoPrintsTheNetworkInContainerOrder) {
  const Result text = run({"info", sample});
  EXPECT_EQ(text.Code, 0);
  EXPECT_EQ(text.Err, "");
  EXPECT_TRUE(text.says(sample));
  std::size_t at = 0;
  for (const char* key : {"N0000:0000", "N0064:0000", "N0064:0064", "W0000:0000::0064:0000", "W0064:0000::0064:0064"})
    EXPECT_NE(at = text.Out.find(key, at), std::string::npos) << key;

  const Result json = run({"info", sample, "--json"});
  EXPECT_EQ(json.Code, 0);
  const std::string c = compact(json.Out);
  for (const std::string& field :
       {"\"file\":\"" + sample + "\"", std::string("\"nodes\":3"), std::string("\"wires\":2"),
        std::string("\"sources\":1"), std::string("\"bbox\":[0,0,100,100]")})
    EXPECT_NE(c.find(field), std::string::npos) << field;
  EXPECT_LT(c.find("\"N0064:0064\""), c.find("\"W0000:0000::0064:0000\""));
  const std::string node = element(c, "N0000:0000");
  for (const char* field : {"\"kind\":\"node\"", "\"x\":0", "\"y\":0", "\"resistance\":1500",
                            R"("name":"Gate \"A\" \\ 1")", "\"show_name\":true", "\"source\":1"})
    EXPECT_NE(node.find(field), std::string::npos) << node << " lacks " << field;
  const std::string wire = element(c, "W0064:0000::0064:0064");
  for (const char* field : {"\"kind\":\"wire\"", "\"start\":[100,0]", "\"end\":[100,100]", "\"impedance\":90",
                            "\"length\":0", "\"show_length\":false"})
    EXPECT_NE(wire.find(field), std::string::npos) << wire << " lacks " << field;
  // The angle must read back as the stored single-precision value.
  const auto angle = wire.find("\"angle\":");
  ASSERT_NE(angle, std::string::npos);
  EXPECT_EQ(std::strtof(wire.c_str() + angle + 8, nullptr), 1.5707964f);

  write(path("empty.bwn"), std::string("\x01\x00", 2));
  const Result empty = run({"info", path("empty.bwn"), "--json"});
  EXPECT_EQ(empty.Code, 0);
  EXPECT_NE(compact(empty.Out).find("\"bbox\":null"), std::string::npos);
  EXPECT_NE(compact(empty.Out).find("\"elements\":[]"), std::string::npos);
}

TEST_F(Cli, InfoOnDamagedOrMissingFiles) {
  const std::string damaged = path("cut.bwn");
  write(damaged, canonical.substr(0, 1200));  // cut inside the second wire
  TCanNodes reference;
  reference.LoadNetwork(damaged);
  ASSERT_TRUE(reference.LastLoadError().Failed());

  const Result text = run({"info", damaged});
  EXPECT_EQ(text.Code, 1);
  EXPECT_TRUE(text.says("N0064:0064") && text.says("W0000:0000::0064:0000"));  // what could be read
  EXPECT_FALSE(text.says("W0064:0000::0064:0064"));
  EXPECT_TRUE(text.complains(damaged) && text.complains(reference.LastLoadError().Message)) << text.Err;
  EXPECT_EQ(std::count(text.Err.begin(), text.Err.end(), '\n'), 1) << text.Err;
  const Result json = run({"info", "--json", damaged});
  EXPECT_EQ(json.Code, 1);
  EXPECT_NE(compact(json.Out).find("\"wires\":1"), std::string::npos);

  const Result missing = run({"info", path("absent.bwn")});
  EXPECT_EQ(missing.Code, 1);
  EXPECT_EQ(missing.Out, "");
  EXPECT_TRUE(missing.complains(path("absent.bwn")) && missing.complains("not found")) << missing.Err;
}

TEST_F(Cli, NormalizeWritesTheCanonicalFile) {
  // Wires first, nodes out of order, a repeated wire and a reversed twin.
  std::string reversed = entry(3);
  reversed.replace(10, 8, entry(3).substr(18, 8));
  reversed.replace(18, 8, entry(3).substr(10, 8));
  const std::string in = path("messy.bwn");
  write(in, "\x01" + entry(4) + entry(2) + entry(3) + entry(0) + reversed + entry(1) + entry(3) + '\0');
  const Result r = run({"normalize", in, path("clean.bwn")});
  EXPECT_EQ(r.Code, 0) << r.Err;
  EXPECT_EQ(read(path("clean.bwn")), canonical);

  write(path("empty.bwn"), std::string("\x01\x00", 2));
  EXPECT_EQ(run({"normalize", path("empty.bwn"), path("empty-out.bwn")}).Code, 0);
  EXPECT_EQ(read(path("empty-out.bwn")), std::string("\x01\x00", 2));

  const Result failed = run({"normalize", in, path("no-such-folder/out.bwn")});
  EXPECT_EQ(failed.Code, 1);
  EXPECT_TRUE(failed.complains("Cannot create file " + path("no-such-folder/out.bwn"))) << failed.Err;
}

TEST_F(Cli, NormalizeRefusesDamagedInput) {
  const std::string damaged = path("cut.bwn");
  write(damaged, canonical.substr(0, 700));
  write(path("existing.bwn"), "old contents");
  const Result over = run({"normalize", damaged, path("existing.bwn")});
  EXPECT_EQ(over.Code, 1);
  EXPECT_TRUE(over.complains(damaged)) << over.Err;
  EXPECT_EQ(read(path("existing.bwn")), "old contents");
  EXPECT_EQ(run({"normalize", damaged, path("fresh.bwn")}).Code, 1);
  EXPECT_EQ(run({"normalize", path("absent.bwn"), path("fresh.bwn")}).Code, 1);
  EXPECT_FALSE(fs::exists(path("fresh.bwn")));
}

TEST_F(Cli, JsonNamesTheFileAsGiven) {
  // File names are the system's (UTF-8), not Windows-1252 like node names; stray bytes show as U+FFFD.
  const std::string utf8 = path("Bus \xC3\xA4.bwn");
  const std::string stray = path("Bus \xE4.bwn");
  fs::copy_file(sample, utf8);
  fs::copy_file(sample, stray);
  for (const char* command : {"info", "check"}) {
    EXPECT_NE(run({command, utf8, "--json"}).Out.find("\"file\": \"" + utf8 + "\""), std::string::npos) << command;
    EXPECT_NE(run({command, stray, "--json"}).Out.find("\"file\": \"" + path("Bus \xEF\xBF\xBD.bwn") + "\""),
              std::string::npos)
        << command;
  }
}

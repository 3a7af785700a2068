#include "advice/AdviceFile.h"

#include <cstdint>
#include <set>

namespace busweave {
namespace {

using Json = nlohmann::json;

// The advice nests four levels deep (proposals, a change, its edits, an edit) and holds a few
// hundred values; anything far beyond is not advice.
constexpr int kMostAdviceDepth = 16;
constexpr std::size_t kMostAdviceValues = 1000000;
// An element's key: "N" and a point, or "W" and two (see TCanNodes::NodeKey and WireKey).
constexpr std::size_t kMostKeyBytes = 64;

[[noreturn]] void refuse(const std::string& Field, const std::string& Problem) {
  throw EAnalysisError(Field + " " + Problem);
}

// A whole number within [Low, High]; fractions, booleans, texts and numbers beyond are refused
// before they are converted, as a conversion out of range would be undefined.
std::int64_t wholeOf(const Json& Value, const std::string& Field, std::int64_t Low, std::int64_t High) {
  const auto out = [&] {
    refuse(Field, "is not a whole number from " + std::to_string(Low) + " to " + std::to_string(High));
  };
  if (!Value.is_number_integer()) out();
  if (Value.is_number_unsigned() && Value.get<std::uint64_t>() > static_cast<std::uint64_t>(High)) out();
  const auto number = Value.get<std::int64_t>();
  if (number < Low || number > High) out();
  return number;
}

const Json& member(const Json& Object, const char* Name, const std::string& Where) {
  if (!Object.is_object()) refuse(Where, "is not an object");
  const auto found = Object.find(Name);
  if (found == Object.end()) refuse(Where + "." + Name, "is missing");
  return *found;
}

std::string keyOf(const Json& Value, const std::string& Field) {
  if (!Value.is_string()) refuse(Field, "is not a text");
  const auto& key = Value.get_ref<const std::string&>();
  bool printable = !key.empty() && key.size() <= kMostKeyBytes && (key[0] == 'N' || key[0] == 'W');
  for (const char c : key) printable = printable && c > ' ' && c < 127;
  if (!printable) refuse(Field, "is not an element's key (" + QuotedForMessage(key) + ")");
  return key;
}

}  // namespace

std::string QuotedForMessage(std::string_view Text, std::size_t Most) {
  std::string quoted(Text.substr(0, Most));
  for (char& c : quoted)
    if (static_cast<unsigned char>(c) < ' ' || c == 127) c = '?';
  if (Text.size() > Most) quoted += "...";
  return quoted;
}

Json ParseBoundedJson(std::string_view Text, int MostDepth, std::size_t MostValues) {
  std::size_t values = 0;
  const auto bound = [&](int Depth, Json::parse_event_t Event, Json&) {
    const bool opens = Event == Json::parse_event_t::object_start || Event == Json::parse_event_t::array_start;
    if (opens && Depth >= MostDepth)
      throw EAnalysisError("it nests deeper than " + std::to_string(MostDepth) + " levels");
    if ((opens || Event == Json::parse_event_t::value) && ++values > MostValues)
      throw EAnalysisError("it holds more than " + std::to_string(MostValues) + " values");
    return true;
  };
  try {
    return Json::parse(Text.begin(), Text.end(), bound);
  } catch (const Json::parse_error& error) {
    // The parser's own message quotes the token it stopped in, which can be the whole file.
    throw EAnalysisError("it is not JSON (at byte " + std::to_string(error.byte) + ")");
  } catch (const Json::exception&) {
    throw EAnalysisError("it is not JSON (a number beyond any range)");
  }
}

TAdviceChoice ReadAdviceChoice(std::string_view Text, std::size_t Rank) {
  const Json advice = ParseBoundedJson(Text, kMostAdviceDepth, kMostAdviceValues);
  if (!advice.is_object()) throw EAnalysisError("it is not an object");
  TAdviceChoice choice;
  const auto digest = advice.find("network_sha256");
  if (digest == advice.end() || digest->is_null())
    throw EAnalysisError(
        "it does not record the digest of the network file it was made for; make it again with advise --json");
  if (!digest->is_string() || digest->get_ref<const std::string&>().size() != 64 ||
      digest->get_ref<const std::string&>().find_first_not_of("0123456789abcdef") != std::string::npos)
    refuse("network_sha256", "is not a SHA-256 digest");
  choice.Network = digest->get<std::string>();

  const Json& proposals = member(advice, "proposals", "");
  if (!proposals.is_array()) refuse("proposals", "is not a list");
  if (Rank < 1 || Rank > proposals.size())
    throw EAnalysisError("it lists " + std::to_string(proposals.size()) + " changes, not " + std::to_string(Rank));
  const std::string where = "proposals[" + std::to_string(Rank - 1) + "]";
  const Json& edits = member(proposals[Rank - 1], "edits", where);
  if (!edits.is_array()) refuse(where + ".edits", "is not a list");
  // Nothing to change would write an unchanged copy as if a change had been made.
  if (edits.empty()) refuse(where + ".edits", "is empty: the change edits nothing");
  std::set<std::string> keys;
  for (std::size_t i = 0; i < edits.size(); ++i) {
    const std::string at = where + ".edits[" + std::to_string(i) + "]";
    TEdit edit;
    edit.Key = keyOf(member(edits[i], "key", at), at + ".key");
    const Json& field = member(edits[i], "field", at);
    if (field != "resistance" && field != "length") refuse(at + ".field", "is not resistance or length");
    edit.Field = field.get<std::string>();
    edit.Was = wholeOf(member(edits[i], "from", at), at + ".from", 0, 65535);
    edit.Value = wholeOf(member(edits[i], "to", at), at + ".to", 1, 65535);
    // Two values for one element: which one the change means cannot be told.
    if (!keys.insert(edit.Key).second) refuse(at, "edits " + edit.Key + " a second time");
    choice.Edits.push_back(std::move(edit));
  }
  return choice;
}

}  // namespace busweave

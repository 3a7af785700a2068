#include "shell/Settings.h"

#include <algorithm>
#include <cctype>
#include <fstream>
#include <iterator>
#include <sstream>
#include <vector>

#include "model/SafeFile.h"

namespace busweave {
namespace {

std::string trim(const std::string& Text) {
  const auto first = Text.find_first_not_of(" \t\r\n");
  if (first == std::string::npos) return {};
  const auto last = Text.find_last_not_of(" \t\r\n");
  return Text.substr(first, last - first + 1);
}

bool sameName(const std::string& A, const std::string& B) {
  return A.size() == B.size() && std::equal(A.begin(), A.end(), B.begin(), [](char L, char R) {
           return std::tolower(static_cast<unsigned char>(L)) == std::tolower(static_cast<unsigned char>(R));
         });
}

std::vector<std::string> splitLines(const std::string& Text) {
  std::vector<std::string> lines;
  std::istringstream in(Text);
  std::string line;
  while (std::getline(in, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    lines.push_back(line);
  }
  return lines;
}

// The section a line opens, if it is a section line.
bool sectionOf(const std::string& Line, std::string& Section) {
  const std::string t = trim(Line);
  if (t.size() < 2 || t.front() != '[' || t.back() != ']') return false;
  Section = trim(t.substr(1, t.size() - 2));
  return true;
}

// The key and value of a key line.
bool keyOf(const std::string& Line, std::string& Key, std::string& Value) {
  const std::string t = trim(Line);
  if (t.empty() || t[0] == ';' || t[0] == '#') return false;
  const auto equals = t.find('=');
  if (equals == std::string::npos) return false;
  Key = trim(t.substr(0, equals));
  Value = trim(t.substr(equals + 1));
  return true;
}

bool readFile(const std::string& Path, std::string& Text) {
  std::ifstream in(Path, std::ios::binary);
  if (!in) return false;
  Text.assign(std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>());
  return !in.bad();
}

}  // namespace

bool FindIniValue(const std::string& Text, const std::string& Section, const std::string& Key, std::string& Value) {
  bool inSection = false;
  for (const std::string& line : splitLines(Text)) {
    std::string name;
    std::string value;
    if (sectionOf(line, name))
      inSection = sameName(name, Section);
    else if (inSection && keyOf(line, name, value) && sameName(name, Key)) {
      Value = value;
      return true;
    }
  }
  return false;
}

std::string SetIniValue(const std::string& Text, const std::string& Section, const std::string& Key,
                        const std::string& Value) {
  std::vector<std::string> lines = splitLines(Text);
  const std::string entry = Key + "=" + Value;
  int sectionLine = -1;
  int lastInSection = -1;
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string name;
    std::string value;
    if (sectionOf(lines[i], name)) {
      inSection = sameName(name, Section);
      if (inSection && sectionLine < 0) sectionLine = lastInSection = i;
      continue;
    }
    if (!inSection) continue;
    if (keyOf(lines[i], name, value) && sameName(name, Key)) {
      lines[i] = entry;
      std::string out;
      for (const auto& line : lines) out += line + "\n";
      return out;
    }
    if (!trim(lines[i]).empty()) lastInSection = i;
  }
  if (sectionLine < 0) {
    if (!lines.empty() && !trim(lines.back()).empty()) lines.push_back("");
    lines.push_back("[" + Section + "]");
    lines.push_back(entry);
  } else {
    lines.insert(lines.begin() + lastInSection + 1, entry);
  }
  std::string out;
  for (const auto& line : lines) out += line + "\n";
  return out;
}

bool TProfile::Execute() {
  FError = 0;
  bool done = false;
  if (!FCategory.empty() && !FKeyName.empty() && !IniFileName.empty()) {
    if (Action == paRead) {
      std::string text;
      std::string value;
      if (!(readFile(IniFileName, text) && FindIniValue(text, FCategory, FKeyName, value)))
        value = DefaultValue.empty() ? " " : DefaultValue;
      DataString = value;
      done = !DataString.empty();
    } else {
      std::string text;
      readFile(IniFileName, text);
      try {
        writeFileAtomically(IniFileName, SetIniValue(text, FCategory, FKeyName, DataString));
        done = true;
      } catch (const std::exception&) {
        done = false;
      }
    }
  }
  if (!done) FError = 1;
  return done;
}

}  // namespace busweave

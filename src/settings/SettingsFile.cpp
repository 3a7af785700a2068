#include "settings/SettingsFile.h"

#include <sys/stat.h>

#include <algorithm>
#include <cctype>
#include <cerrno>
#include <vector>

#include "base/SafeFile.h"

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

// One line of INI text and the line end that follows it: "\r\n", "\n", or nothing at the end.
struct TextLine {
  std::string Text;
  std::string End;
};

std::vector<TextLine> splitLines(const std::string& Text) {
  std::vector<TextLine> lines;
  std::size_t start = 0;
  while (start < Text.size()) {
    const std::size_t newline = Text.find('\n', start);
    if (newline == std::string::npos) {
      lines.push_back({Text.substr(start), ""});
      break;
    }
    const std::size_t end = newline > start && Text[newline - 1] == '\r' ? newline - 1 : newline;
    lines.push_back({Text.substr(start, end - start), Text.substr(end, newline + 1 - end)});
    start = newline + 1;
  }
  return lines;
}

std::string joinLines(const std::vector<TextLine>& Lines) {
  std::string out;
  for (const TextLine& line : Lines) out += line.Text + line.End;
  return out;
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

// The settings text of Path; a missing file reads as empty. False, with Problem naming the
// file and the reason, when it exists but cannot be read (a folder, a FIFO, no permission, too
// large): then nothing may be written over it either.
bool readSettingsFile(const std::string& Path, std::string& Text, std::string& Problem) {
  Text.clear();
  struct stat info {};
  if (::stat(Path.c_str(), &info) != 0 && errno == ENOENT) return true;
  try {
    Text = readRegularFile(Path, TProfile::MaxFileBytes);
    return true;
  } catch (const std::exception& error) {
    Problem = error.what();
    return false;
  }
}

}  // namespace

bool FindIniValue(const std::string& Text, const std::string& Section, const std::string& Key, std::string& Value) {
  bool inSection = false;
  for (const TextLine& line : splitLines(Text)) {
    std::string name;
    std::string value;
    if (sectionOf(line.Text, name))
      inSection = sameName(name, Section);
    else if (inSection && keyOf(line.Text, name, value) && sameName(name, Key)) {
      Value = value;
      return true;
    }
  }
  return false;
}

std::string SetIniValue(const std::string& Text, const std::string& Section, const std::string& Key,
                        const std::string& Value) {
  std::vector<TextLine> lines = splitLines(Text);
  // Lines that are added end as the file's first line does (CR LF stays CR LF).
  const std::string lineEnd = !lines.empty() && !lines.front().End.empty() ? lines.front().End : "\n";
  const std::string entry = Key + "=" + Value;
  int sectionLine = -1;
  int lastInSection = -1;
  bool inSection = false;
  for (int i = 0; i < static_cast<int>(lines.size()); ++i) {
    std::string name;
    std::string value;
    if (sectionOf(lines[i].Text, name)) {
      inSection = sameName(name, Section);
      if (inSection && sectionLine < 0) sectionLine = lastInSection = i;
      continue;
    }
    if (!inSection) continue;
    if (keyOf(lines[i].Text, name, value) && sameName(name, Key)) {
      lines[i].Text = entry;
      return joinLines(lines);
    }
    if (!trim(lines[i].Text).empty()) lastInSection = i;
  }
  if (sectionLine < 0) {
    if (!lines.empty() && lines.back().End.empty()) lines.back().End = lineEnd;
    if (!lines.empty() && !trim(lines.back().Text).empty()) lines.push_back({"", lineEnd});
    lines.push_back({"[" + Section + "]", lineEnd});
    lines.push_back({entry, lineEnd});
  } else {
    if (lines[lastInSection].End.empty()) lines[lastInSection].End = lineEnd;
    lines.insert(lines.begin() + lastInSection + 1, {entry, lineEnd});
  }
  return joinLines(lines);
}

bool TProfile::Execute() {
  FError = 0;
  FProblem.clear();
  bool done = false;
  if (!FCategory.empty() && !FKeyName.empty() && !IniFileName.empty()) {
    std::string text;
    const bool readable = readSettingsFile(IniFileName, text, FProblem);
    if (Action == paRead) {
      std::string value;
      if (!(readable && FindIniValue(text, FCategory, FKeyName, value)))
        value = DefaultValue.empty() ? " " : DefaultValue;
      DataString = value;
      done = !DataString.empty();
    } else if (readable) {
      // A line break would end the value and start lines of its own.
      if (DataString.find_first_of("\r\n") != std::string::npos) {
        FProblem = "Cannot write " + FKeyName + " to " + IniFileName + ": the value holds a line break";
      } else {
        try {
          writeFileAtomically(IniFileName, SetIniValue(text, FCategory, FKeyName, DataString));
          done = true;
        } catch (const std::exception& error) {
          FProblem = error.what();
        }
      }
    }
  }
  if (!done) FError = 1;
  return done;
}

}  // namespace busweave

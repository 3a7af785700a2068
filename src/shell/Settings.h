#pragma once

// TProfile: reads or writes one key of one section of an INI file per Execute. The main window
// keeps its placement and the last folder with it. The file stays plain "[section]" and
// "key=value" text that any INI reader understands.

#include <cstdint>
#include <string>

namespace busweave {

enum TProfileAction : std::uint8_t { paRead = 0, paWrite = 1 };

class TProfile {
 public:
  // Section and key names keep at most 64 characters; values and the file path are kept whole,
  // because folder paths are routinely longer than that.
  void SetCategory(const std::string& Value) { FCategory = Value.substr(0, 64); }
  void SetKeyName(const std::string& Value) { FKeyName = Value.substr(0, 64); }
  const std::string& Category() const { return FCategory; }
  const std::string& KeyName() const { return FKeyName; }

  std::string DefaultValue;
  std::string DataString;
  std::string IniFileName;
  TProfileAction Action = paRead;

  std::uint16_t Error() const { return FError; }

  // One read (DataString := the value, or DefaultValue when the key is missing) or one write
  // (creating file, section or key as needed). False, with Error 1, when it did not succeed.
  bool Execute();

 private:
  std::string FCategory;
  std::string FKeyName;
  std::uint16_t FError = 0;
};

// The value of Key in Section of the INI text, compared without regard to case; nothing when
// the section or the key is missing.
bool FindIniValue(const std::string& Text, const std::string& Section, const std::string& Key, std::string& Value);
// The INI text with Key in Section set to Value; the section and key are added when missing.
std::string SetIniValue(const std::string& Text, const std::string& Section, const std::string& Key,
                        const std::string& Value);

}  // namespace busweave

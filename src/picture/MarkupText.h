#pragma once

// The one way text reaches HTML and SVG: every name, path and message the report or a picture
// shows goes through MarkupEscaped, so that it can neither add markup nor make the document
// something an XML reader refuses.

#include <string>
#include <string_view>

namespace busweave {

// Text (UTF-8) as the content of an element or a quoted attribute: & < > " ' as entities, and
// what XML 1.0 does not allow as U+FFFD (control characters but tab, line feed and carriage
// return; bytes that are not UTF-8; U+FFFE and U+FFFF).
std::string MarkupEscaped(std::string_view Text);

// Markup kept as it is but for the characters XML 1.0 does not allow, which become U+FFFD.
std::string MarkupCharactersOnly(std::string_view Markup);

}  // namespace busweave

#pragma once

// The circuit export command: the dialog with header, network section and trailer, the
// template files in the current folder, and the circuit file the user chooses.

#include <functional>

class QWidget;

namespace busweave {

class TCanNodes;
class TPrompts;

// Runs the whole command for one network; Owner owns the dialogs, Repaint redraws the network
// (its node names are numbered now). A file that cannot be read or written ends the command
// with an error message. Returns the dialog's result, or mrNone when the command failed.
int Network(QWidget* Owner, TCanNodes& Net, const std::function<void()>& Repaint, TPrompts& Prompts);

}  // namespace busweave

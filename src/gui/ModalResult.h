#pragma once

// The results the program's own modal dialogs end with (QDialog::done), as TPrompts::ExecDialog
// hands them on. The values are the ones these dialogs have always returned.

namespace busweave {

enum TModalResult : int {
  mrNone = 0,       // no answer: the command ended before its dialog did
  mrOk = 1,         // keep what was edited
  mrCancel = 2,     // change nothing; also Escape and the close box
  mrDelete = 3,     // the node or line dialog: delete the element
  mrExport = 4711,  // the circuit dialog: keep the templates and write the circuit file
};

}  // namespace busweave

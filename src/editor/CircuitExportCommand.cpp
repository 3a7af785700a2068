#include "editor/CircuitExportCommand.h"

#include <QString>
#include <filesystem>
#include <stdexcept>

#include "circuit/CircuitFile.h"
#include "editor/CircuitExportDialog.h"
#include "gui/Prompts.h"
#include "model/NetworkContainer.h"

namespace busweave {
namespace {

// The page text of a template: the file's text when it exists, else the built-in text, which
// is then written so the user finds it there next time.
std::string loadOrCreateTemplate(const char* Name, const TextLines& BuiltIn) {
  std::error_code ec;
  if (std::filesystem::exists(Name, ec)) return ReadTemplate(Name);
  const std::string text = PageText(BuiltIn);
  WriteTemplate(Name, text);
  return text;
}

void writeTemplates(const TTNBDlgParameter& Dialog) {
  WriteTemplate(HeaderTemplateName, Dialog.HeaderText());
  WriteTemplate(NetworkTemplateName, Dialog.NetworkText());
  WriteTemplate(TrailerTemplateName, Dialog.TrailerText());
}

void exportCircuit(QWidget* Owner, TCanNodes& Net, const TTNBDlgParameter& Dialog, TPrompts& Prompts) {
  const auto chosen = AskSaveFileName(Prompts, Owner, "Save circuit", "PSPICE CIRCUIT (*.cir)", "CIR",
                                      ProposedCircuitName(Net.FFileName()));
  if (!chosen) return;
  const std::string path = chosen->toLocal8Bit().toStdString();
  WriteTextFile(path, CircuitLines(SplitLines(Dialog.HeaderText()), Net, SplitLines(Dialog.TrailerText())));
}

}  // namespace

int Network(QWidget* Owner, TCanNodes& Net, const std::function<void()>& Repaint, TPrompts& Prompts) {
  try {
    TTNBDlgParameter dialog(Owner);
    dialog.ReportError = [&dialog, &Prompts](const QString& Message) { Prompts.ShowError(&dialog, Message); };
    dialog.SetHeaderText(loadOrCreateTemplate(HeaderTemplateName, BuiltInHeader()));
    dialog.SetTrailerText(loadOrCreateTemplate(TrailerTemplateName, BuiltInTrailer()));
    dialog.SetHeaderText(ReplaceFirstLine(dialog.HeaderText(), TitleLine()));

    TextLines section;
    Net.WriteNetlist(section);
    dialog.SetNetworkText(PageText(section));

    const int result = Prompts.ExecDialog(dialog);
    if (result == mrOk || result == mrExport) writeTemplates(dialog);
    if (result == mrExport) exportCircuit(Owner, Net, dialog, Prompts);
    if (Repaint) Repaint();
    return result;
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
    return mrNone;
  }
}

}  // namespace busweave

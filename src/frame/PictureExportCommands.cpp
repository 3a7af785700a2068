#include "frame/PictureExportCommands.h"

#include <QClipboard>
#include <QGuiApplication>
#include <QMimeData>

#include "base/PathText.h"
#include "base/SafeFile.h"
#include "gui/Prompts.h"

namespace busweave {
namespace {

// The save dialog of a picture file; the chosen name with the default extension added.
std::optional<QString> askFileName(QWidget* Owner, const TPictureSource& Source, const QString& Filter,
                                   const QString& Suffix, TPrompts& Prompts) {
  return AskSaveFileName(Prompts, Owner, "Save picture as", Filter, Suffix, PathWithoutExtension(Source.DocPath));
}

void writePicture(QWidget* Owner, const QString& FileName, const std::function<std::string()>& Bytes,
                  TPrompts& Prompts) {
  try {
    writeFileAtomically(FileName.toLocal8Bit().toStdString(), Bytes());
  } catch (const EPictureTooLarge& error) {
    Prompts.ShowError(Owner, FileName + ": " + QString::fromLocal8Bit(error.what()));
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
  }
}

QByteArray byteArray(const std::string& Bytes) {
  return QByteArray(Bytes.data(), static_cast<qsizetype>(Bytes.size()));
}

void copyToClipboard(const TPictureSource& Source, TPlotTarget Target) {
  const QByteArray bytes = byteArray(RenderPicture(Source, TPictureFormat::Emf, Target));
  auto* data = new QMimeData;
  data->setData(kOfficeEmfMime, bytes);
  data->setData(kEmfMime, bytes);
  // A raster copy for programs that take no vector picture, when the picture fits an image.
  try {
    data->setData("image/png", byteArray(RenderPicture(Source, TPictureFormat::Png, Target)));
  } catch (const std::exception&) {
    // Too large for an image: the vector picture goes alone.
  }
  QGuiApplication::clipboard()->setMimeData(data);  // the clipboard owns the data from here
}

}  // namespace

bool WritesPlaceableWmf(TPlotTarget Target, const QString& FileName) {
  return Target == ptFileWMF || FileName.endsWith(".wmf", Qt::CaseInsensitive);
}

void ExportPicture(QWidget* Owner, const TPictureSource& Source, TPlotTarget Target, TPrompts& Prompts) {
  try {
    if (Target == ptClipWMF || Target == ptClipEMF) {
      copyToClipboard(Source, Target);
      return;
    }
    if (Target != ptFileWMF && Target != ptFileEMF) return;
    const QString suffix = Target == ptFileWMF ? "WMF" : "EMF";
    const auto chosen = askFileName(Owner, Source, "Metafiles (*." + suffix + ")", suffix, Prompts);
    if (!chosen) return;
    const bool placeable = WritesPlaceableWmf(Target, *chosen);
    const TPictureFormat format = placeable ? TPictureFormat::Wmf : TPictureFormat::Emf;
    writePicture(
        Owner, *chosen, [&] { return RenderPicture(Source, format, Target); }, Prompts);
  } catch (const std::exception& error) {
    Prompts.ShowError(Owner, QString::fromLocal8Bit(error.what()));
  }
}

void SaveVectorPicture(QWidget* Owner, const TPictureSource& Source, TVectorFormat Format, TPrompts& Prompts) {
  const bool svg = Format == TVectorFormat::Svg;
  const auto chosen =
      askFileName(Owner, Source, svg ? "SVG pictures (*.svg)" : "PDF documents (*.pdf)", svg ? "svg" : "pdf", Prompts);
  if (!chosen) return;
  const TPictureFormat format = svg ? TPictureFormat::Svg : TPictureFormat::Pdf;
  writePicture(
      Owner, *chosen, [&] { return RenderPicture(Source, format, ptFileEMF); }, Prompts);
}

}  // namespace busweave

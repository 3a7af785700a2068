#pragma once

// TMDIChild: the titled window of one network document. It shows the whole network scaled to
// fit (keeping the document's proportions), owns the document's editor window, scrolls the
// editor when clicked, dragged or double-clicked, and carries the picture export menu (the
// export itself is in PictureExport).

#include <QImage>
#include <QWidget>
#include <cstdint>
#include <optional>
#include <string>

#include "drawing/Canvas.h"
#include "drawing/DocumentTypes.h"
#include "editor/EditorHost.h"
#include "editor/EditorTypes.h"
#include "gui/EventSurface.h"
#include "gui/LatestJob.h"
#include "gui/Prompts.h"
#include "model/Elements.h"

class QAction;
class QMdiArea;
class QMdiSubWindow;
class QMenu;
class QTimer;

namespace busweave {

class TSubForm;
struct TPictureSource;

// The overview surface; it hands its events to the frame.
using TOverviewSurface = TEventSurface;

class TMDIChild : public QWidget {
  Q_OBJECT

 public:
  // Creates the frame and its editor as two windows of Area; the editor loads Path.
  static TMDIChild* Open(QMdiArea* Area, TEditorHost* Host, const std::string& Path, TPoint Size);
  ~TMDIChild() override;

  TOverviewSurface* PaintBox1;
  QMenu* Option1;
  QAction* ClipboardExportWMF;
  QAction* ClipboardExportEMF;
  QAction* SaveAsMetafileWMF;
  QAction* SaveAsMetafileEMF;
  QAction* SaveAsSVG;
  QAction* SaveAsPDF;

  TSubForm* Editor() const { return FEditor; }
  QMdiSubWindow* Window() const { return FWindow; }
  QMdiSubWindow* EditorWindow() const { return FEditorWindow; }
  TPoint FDocSize() const { return FDocSize_; }
  const std::string& FDocPath() const { return FDocPath_; }
  // The frame's picture font (names and labels in exported pictures).
  const TFontSpec& PictureFont() const { return FPictureFont; }
  void SetPictureFont(const TFontSpec& Font) { FPictureFont = Font; }
  QList<QAction*> MergedMenus() const;

  // Handles the editor's notifications: new width, new height, file name changed; a code of
  // none of these changes nothing.
  void WMEditorNotify(TEditorNotifyCode Code, int Value);
  // Exports the picture of the network for a target of 2 to 5: clipboard or metafile.
  void ExportPicture(TPlotTarget Target);
  // Saves the picture as an SVG or PDF document.
  void SaveVectorPicture(bool Svg);
  // Prints the network through the print dialog, or shows its pages in the print preview; the
  // layout chosen last is proposed the next time.
  void Print();
  void PrintPreview();
  TPrintLayout PrintLayout() const { return FPrintLayout; }

  // Resizes the window so that its client area gets this size.
  void SetClientSize(TPoint Size);
  void ShowCoordinates(TPoint P);
  void ScrollEditorTo(TPoint P);

  // Whether the overview shows the network as it is now; on a large network its picture is drawn
  // on a thread of its own after a change, and the last one stays until the new one is done.
  bool OverviewCurrent() const;
  // Networks of this many elements or more get their overview drawn on that thread.
  void SetBackgroundOverviewFrom(int Elements) { FBackgroundOverviewFrom = Elements; }

  // Closes both windows when the editor agrees (it asks about unsaved changes).
  bool CloseDocument();
  // Closes both windows without asking.
  void DestroyDocument();

 private:
  TMDIChild(TEditorHost* Host, std::string Path, TPoint Size);
  void PaintBox1Paint();
  void startOverview();
  TPictureSource pictureSource() const;
  void fitProportions();
  void placeWindows(QMdiArea* Area);
  // Keeps the overview inside the visible part of the area (shrinking it, in proportion, when it
  // is larger), so that it stays reachable when the area becomes smaller.
  void keepReachable();
  bool eventFilter(QObject* Watched, QEvent* Event) override;

  TEditorHost* FHost;
  TPoint FDocSize_;
  std::string FDocPath_;
  TSubForm* FEditor = nullptr;
  QMdiSubWindow* FWindow = nullptr;
  QMdiSubWindow* FEditorWindow = nullptr;
  TPoint FScale{20, 20};
  bool FDragging = false;
  TPoint FPressPos{0, 0};
  TPoint FLastPos{0, 0};
  bool FClosing = false;
  TFontSpec FPictureFont = DefaultPictureFont;
  TPrintLayout FPrintLayout = TPrintLayout::TrueSize;

  // What an overview picture shows: the surface size, the document size and the editor's
  // drawing version.
  struct TOverviewKey {
    QSize Size;
    TPoint DocSize;
    std::uint64_t Version = 0;
    friend bool operator==(const TOverviewKey&, const TOverviewKey&) = default;
  };
  TOverviewKey overviewKey() const;
  QImage FOverview;
  std::optional<TOverviewKey> FOverviewKey;  // of FOverview
  std::optional<TOverviewKey> FPendingKey;   // of the picture being drawn
  int FBackgroundOverviewFrom = 4096;
  QTimer* FOverviewDelay = nullptr;
  TLatestJob<QImage> FOverviewJob{this};
};

// The file-name part of a path: what follows the last '/' or '\'.
QString FileNamePart(const QString& Path);

}  // namespace busweave

#pragma once

// Printing a document: the network drawn by the same rendering as the PDF picture (one document
// unit is 0.2 mm), either at its true size cut into pages, or scaled to fit one page; every
// page carries a footer with the document's file name, the date and the page number. The
// print dialog is asked through TPrompts, so tests print to a PDF file through this same path.

#include <QDate>
#include <QRectF>
#include <QString>
#include <vector>

#include "gui/Prompts.h"
#include "picture/PictureRendering.h"

class QPrinter;
class QWidget;

namespace busweave {

// The footer's text before the page number: the file name and the date.
QString PrintFooter(const std::string& DocPath, QDate Date);

// How the picture falls onto the pages of a printer: columns and rows of pages, and the scale
// (1 at true size). At true size a page takes less than its width or height where a full one
// would cut a name or label in two; ColumnStarts and RowStarts hold where each column and row
// begins in the picture (printer device units), the first at 0.
struct TPageGrid {
  int Columns = 1;
  int Rows = 1;
  double Scale = 1.0;
  std::vector<double> ColumnStarts{0.0};
  std::vector<double> RowStarts{0.0};
  QSizeF Room;  // the part of a page the picture may fill, printer device units
  int Pages() const { return Columns * Rows; }
  // The part of the picture a page shows (printer device units, before the scale).
  QRectF PageRect(int Column, int Row) const;
};
TPageGrid PageGridOf(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout);

// Prints the pages on Printer (only those of its page range, when one is set), left to right,
// then top to bottom. The number of pages printed. Throws std::runtime_error, naming the
// output file when there is one, when the printer cannot be opened.
int PrintPages(QPrinter& Printer, const TPictureSource& Source, TPrintLayout Layout, const QString& Footer);

// "Print ...": the print dialog, then the pages; failures are shown through Prompts.ShowError.
// Layout is proposed in the dialog and receives the layout chosen; printing to a file proposes
// a PDF beside the document.
void PrintDocument(QWidget* Owner, const TPictureSource& Source, TPrompts& Prompts, TPrintLayout& Layout);

// "Print preview ...": the pages as they will be printed, in a preview dialog that can switch
// the layout (Layout is proposed and receives the last one shown) and print from there.
void PreviewDocument(QWidget* Owner, const TPictureSource& Source, TPrompts& Prompts, TPrintLayout& Layout);

}  // namespace busweave

#include "about/AboutBox.h"

#include <QApplication>
#include <QClipboard>
#include <QCloseEvent>
#include <QFrame>
#include <QIcon>
#include <QLabel>
#include <QPainter>
#include <QPainterPath>
#include <QPixmap>
#include <QPlainTextEdit>
#include <QPushButton>
#include <QScreen>
#include <algorithm>
#include <chrono>
#include <cmath>
#include <numbers>

#include "about/Gauge.h"
#include "about/SpinningCube.h"
#include "about/VersionInfo.h"

namespace busweave {
namespace {

// One pass of the credits view every 10 ms: the colour steps every 20 ms, and the thread sleeps
// in the event loop in between.
constexpr int kCreditsPassMs = 10;

const QColor kFuchsia(255, 0, 255);
const QColor kNavy(0, 0, 128);
const QColor kSilver(192, 192, 192);

// The portrait is drawn on a canvas of this size and stretched to its box.
constexpr qreal kPortraitWidth = 221;
constexpr qreal kPortraitHeight = 318;

// The picture of the portrait box.
class TPortrait : public QWidget {
 public:
  using QWidget::QWidget;

 protected:
  void paintEvent(QPaintEvent*) override {
    QPainter painter(this);
    DrawPortrait(painter, QRectF(rect()));
  }
};

// The largest pixel size up to Font's own at which every text fits into Width.
int fittingPixelSize(QFont Font, const QStringList& Texts, int Width) {
  int size = Font.pixelSize();
  for (; size > 8; --size) {
    Font.setPixelSize(size);
    const QFontMetrics metrics(Font);
    if (std::all_of(Texts.begin(), Texts.end(),
                    [&](const QString& Text) { return metrics.horizontalAdvance(Text) <= Width; }))
      break;
  }
  return size;
}

QLabel* bigLabel(QWidget* Parent, const QString& Text, const QRect& Geometry) {
  auto* label = new QLabel(Text, Parent);
  label->setGeometry(Geometry);
  label->setAlignment(Qt::AlignHCenter | Qt::AlignTop);
  QPalette colours = label->palette();
  colours.setColor(QPalette::WindowText, kFuchsia);
  label->setPalette(colours);
  return label;
}

// A 16-pixel glyph, drawn once in its colour and once in grey for the disabled button.
QIcon glyph(const std::function<void(QPainter&, const QColor&)>& Draw, const QColor& Colour) {
  QIcon icon;
  for (const auto& [mode, colour] :
       {std::pair{QIcon::Normal, Colour}, std::pair{QIcon::Disabled, QColor(128, 128, 128)}}) {
    QPixmap pixmap(16, 16);
    pixmap.fill(Qt::transparent);
    QPainter painter(&pixmap);
    painter.setRenderHint(QPainter::Antialiasing);
    Draw(painter, colour);
    painter.end();
    icon.addPixmap(pixmap, mode);
  }
  return icon;
}

void drawTick(QPainter& Painter, const QColor& Colour) {
  Painter.setPen(QPen(Colour, 2.5, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  Painter.drawPolyline(QPolygonF({QPointF(2.5, 8.5), QPointF(6.5, 12.5), QPointF(13.5, 3.5)}));
}

void drawCopySheets(QPainter& Painter, const QColor& Colour) {
  Painter.setPen(QPen(Colour, 1));
  Painter.setBrush(Qt::white);
  Painter.drawRect(QRectF(1.5, 1.5, 8, 10));
  Painter.drawRect(QRectF(6.5, 4.5, 8, 10));
  for (const qreal y : {7.5, 9.5, 11.5}) Painter.drawLine(QPointF(8.5, y), QPointF(12.5, y));
}

// The two wires of a bus twisted round each other from Top to Bottom about X.
void drawTwistedPair(QPainter& Painter, qreal X, qreal Top, qreal Bottom, qreal Amplitude) {
  for (const auto& [colour, phase] :
       {std::pair{QColor(224, 122, 31), 0.0}, std::pair{QColor(46, 139, 87), std::numbers::pi}}) {
    QPainterPath wire;
    for (qreal y = Top; y <= Bottom; y += 1) {
      const QPointF point(X + Amplitude * std::sin((y - Top) / 7 + phase), y);
      if (y == Top)
        wire.moveTo(point);
      else
        wire.lineTo(point);
    }
    Painter.strokePath(wire, QPen(colour, 2.2, Qt::SolidLine, Qt::RoundCap));
  }
}

}  // namespace

std::uint32_t SystemTickCount() {
  const auto now = std::chrono::steady_clock::now().time_since_epoch();
  return static_cast<std::uint32_t>(std::chrono::duration_cast<std::chrono::milliseconds>(now).count());
}

QColor CreditsColour(std::uint32_t Elapsed) {
  const std::uint32_t step = Elapsed / 20;
  const auto blue = static_cast<int>(2 * (127 - step % 127));
  const auto green = static_cast<int>(255 - step % 255);
  const auto red = static_cast<int>(step % 255);
  return {red, green, blue};
}

QString ContactText() {
  return QStringLiteral(
      "Busweave V2, 2026\n"
      "Busweave developers\n"
      "Bus Lane 120\n"
      "Terminator Town\n"
      "Open Source Land\n"
      "weave@example.org");
}

void DrawPortrait(QPainter& Painter, const QRectF& Box) {
  Painter.save();
  Painter.setRenderHint(QPainter::Antialiasing);
  Painter.translate(Box.topLeft());
  Painter.scale(Box.width() / kPortraitWidth, Box.height() / kPortraitHeight);

  QLinearGradient sky(0, 0, 0, kPortraitHeight);
  sky.setColorAt(0, QColor(196, 222, 238));
  sky.setColorAt(1, QColor(244, 248, 251));
  Painter.fillRect(QRectF(0, 0, kPortraitWidth, kPortraitHeight), sky);

  // A terminated bus with three stations across the top.
  const QColor canHigh(224, 122, 31), canLow(46, 139, 87), ink(52, 64, 76);
  Painter.setPen(QPen(canHigh, 2));
  Painter.drawLine(QPointF(18, 36), QPointF(203, 36));
  Painter.setPen(QPen(canLow, 2));
  Painter.drawLine(QPointF(18, 50), QPointF(203, 50));
  Painter.setPen(QPen(ink, 1.2));
  Painter.setBrush(QColor(250, 250, 250));
  for (const qreal x : {18.0, 203.0}) Painter.drawRect(QRectF(x - 3.5, 38.5, 7, 10));
  for (const qreal x : {62.0, 110.5, 159.0}) {
    Painter.setPen(QPen(canHigh, 1.5));
    Painter.drawLine(QPointF(x - 4, 22), QPointF(x - 4, 36));
    Painter.setPen(QPen(canLow, 1.5));
    Painter.drawLine(QPointF(x + 4, 22), QPointF(x + 4, 50));
    Painter.setPen(QPen(ink, 1.2));
    Painter.setBrush(QColor(70, 96, 124));
    Painter.drawRoundedRect(QRectF(x - 13, 8, 26, 15), 3, 3);
    Painter.setBrush(QColor(120, 220, 120));
    Painter.drawEllipse(QPointF(x + 7, 12.5), 1.8, 1.8);
  }
  Painter.setBrush(canHigh);
  Painter.setPen(Qt::NoPen);
  for (const qreal x : {58.0, 106.5, 155.0}) Painter.drawEllipse(QPointF(x, 36), 2.5, 2.5);
  Painter.setBrush(canLow);
  for (const qreal x : {66.0, 114.5, 163.0}) Painter.drawEllipse(QPointF(x, 50), 2.5, 2.5);

  // Jacket, shirt and a tie that is a twisted pair.
  const QColor skin(242, 201, 160), skinShade(226, 178, 134), jacket(47, 75, 110), hair(91, 58, 34);
  QPainterPath shoulders;
  shoulders.moveTo(6, kPortraitHeight);
  shoulders.cubicTo(8, 262, 38, 236, 82, 224);
  shoulders.lineTo(139, 224);
  shoulders.cubicTo(183, 236, 213, 262, 215, kPortraitHeight);
  shoulders.closeSubpath();
  Painter.fillPath(shoulders, jacket);
  Painter.setBrush(skinShade);
  Painter.drawRoundedRect(QRectF(95, 178, 31, 54), 10, 10);
  Painter.setBrush(QColor(250, 250, 250));
  Painter.drawPolygon(QPolygonF({QPointF(84, 224), QPointF(137, 224), QPointF(110.5, 292)}));
  drawTwistedPair(Painter, 110.5, 230, 286, 4.5);
  Painter.setPen(QPen(QColor(30, 50, 76), 2));
  Painter.drawLine(QPointF(82, 224), QPointF(109, 300));
  Painter.drawLine(QPointF(139, 224), QPointF(112, 300));

  // Head with ears, hair and glasses.
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(skinShade);
  Painter.drawEllipse(QPointF(63, 142), 8, 13);
  Painter.drawEllipse(QPointF(158, 142), 8, 13);
  Painter.setBrush(skin);
  Painter.drawEllipse(QPointF(110.5, 135), 47, 58);
  QPainterPath hairline;
  hairline.moveTo(62, 134);
  hairline.cubicTo(54, 78, 98, 62, 124, 70);
  hairline.cubicTo(152, 76, 168, 102, 159, 134);
  hairline.cubicTo(152, 108, 132, 96, 110, 101);
  hairline.cubicTo(90, 105, 70, 110, 62, 134);
  Painter.fillPath(hairline, hair);

  Painter.setPen(QPen(QColor(60, 40, 25), 2.5, Qt::SolidLine, Qt::RoundCap));
  Painter.drawLine(QPointF(80, 121), QPointF(100, 118));
  Painter.drawLine(QPointF(121, 118), QPointF(141, 121));
  Painter.setPen(Qt::NoPen);
  Painter.setBrush(QColor(40, 40, 48));
  Painter.drawEllipse(QPointF(91, 140), 3, 3);
  Painter.drawEllipse(QPointF(130, 140), 3, 3);
  Painter.setBrush(QColor(255, 255, 255, 60));
  Painter.setPen(QPen(QColor(40, 44, 52), 2.5));
  Painter.drawEllipse(QPointF(91, 140), 13, 12);
  Painter.drawEllipse(QPointF(130, 140), 13, 12);
  Painter.drawLine(QPointF(104, 139), QPointF(117, 139));
  Painter.drawLine(QPointF(78, 137), QPointF(64, 134));
  Painter.drawLine(QPointF(143, 137), QPointF(157, 134));

  Painter.setBrush(Qt::NoBrush);
  Painter.setPen(QPen(QColor(190, 140, 100), 2, Qt::SolidLine, Qt::RoundCap, Qt::RoundJoin));
  Painter.drawPolyline(QPolygonF({QPointF(111, 146), QPointF(105, 164), QPointF(113, 166)}));
  QPainterPath smile;
  smile.moveTo(95, 175);
  smile.quadTo(110.5, 188, 126, 175);
  Painter.setPen(QPen(QColor(150, 70, 60), 2.5, Qt::SolidLine, Qt::RoundCap));
  Painter.drawPath(smile);

  Painter.setPen(QPen(ink, 1));
  Painter.setBrush(Qt::NoBrush);
  Painter.drawRect(QRectF(0.5, 0.5, kPortraitWidth - 1, kPortraitHeight - 1));
  Painter.restore();
}

TAboutBox::TAboutBox(QWidget* Owner)
    : QDialog(Owner, Qt::Dialog | Qt::CustomizeWindowHint | Qt::WindowTitleHint),
      VersionInfo([](int Index) { return VersionInfoString(Index); }) {
  setWindowTitle("Configure");
  setFixedSize(416, 413);
  setModal(true);

  Panel1 = new QFrame(this);
  Panel1->setGeometry(8, 7, 400, 401);
  Panel1->setFrameStyle(QFrame::Box | QFrame::Sunken);  // lowered outside, raised inside

  OKButton = new QPushButton("&OK", this);
  OKButton->setGeometry(181, 375, 84, 27);
  QFont buttonFont("MS Sans Serif");
  buttonFont.setPixelSize(13);
  OKButton->setFont(buttonFont);
  OKButton->setIcon(glyph(drawTick, QColor(0, 128, 0)));
  OKButton->setDefault(true);
  connect(OKButton, &QPushButton::clicked, this, &TAboutBox::OKButtonClick);

  CubeSpin1 = new TCubeSpin(Panel1);
  CubeSpin1->setGeometry(92, 145, 235, 225);
  CubeSpin1->SetOptions(cdoErase | cdoHide | cdoDblBuf | cdoAuto | cdoFaces | cdoShade | cdoColor);
  CubeSpin1->SetSpins(273, 354, 255);
  CubeSpin1->SetSpinInc(2);
  CubeSpin1->SetYSpinOn(false);
  CubeSpin1->SetContinuous(true);

  ImagePortrait = new TPortrait(Panel1);
  ImagePortrait->setGeometry(7, 77, 221, 318);
  ImagePortrait->setEnabled(false);
  ImagePortrait->hide();

  // Both big labels get the same size: the largest at which each fits its box in the font we got.
  QFont bigFont("Arial");
  bigFont.setBold(true);
  bigFont.setPixelSize(64);
  LabelAppName = bigLabel(Panel1, "Busweave", QRect(5, 4, 315, 75));
  LabelAppVersion = bigLabel(Panel1, "V2", QRect(6, 78, 79, 75));
  bigFont.setPixelSize(std::min(fittingPixelSize(bigFont, {LabelAppName->text()}, LabelAppName->width()),
                                fittingPixelSize(bigFont, {LabelAppVersion->text()}, LabelAppVersion->width())));
  LabelAppName->setFont(bigFont);
  LabelAppVersion->setFont(bigFont);

  LabelBuild = new QLabel("Version 1", Panel1);
  LabelBuild->setGeometry(232, 320, 61, 16);
  LabelBuild->hide();

  MemoContact = new QPlainTextEdit(Panel1);
  MemoContact->setGeometry(231, 79, 163, 221);
  MemoContact->setReadOnly(true);
  MemoContact->setFrameShape(QFrame::NoFrame);
  MemoContact->setVerticalScrollBarPolicy(Qt::ScrollBarAlwaysOff);
  QPalette memoColours = MemoContact->palette();
  memoColours.setColor(QPalette::Base, kSilver);
  memoColours.setColor(QPalette::Text, Qt::black);
  MemoContact->setPalette(memoColours);
  QFont memoFont = MemoContact->font();
  memoFont.setBold(true);
  MemoContact->setFont(memoFont);
  MemoContact->setPlainText(ContactText());
  MemoContact->hide();

  GaugeWait = new TGauge(Panel1);
  GaugeWait->setGeometry(349, 351, 41, 41);
  GaugeWait->SetKind(gkPie);
  GaugeWait->SetBorderStyle(bsNone);
  GaugeWait->SetForeColor(kNavy);
  // Around the pie the gauge shows the panel it sits on.
  GaugeWait->SetColor(Panel1->palette().color(QPalette::Window));
  QFont gaugeFont = GaugeWait->font();
  gaugeFont.setBold(true);
  GaugeWait->setFont(gaugeFont);
  GaugeWait->SetProgress(0);
  GaugeWait->SetShowText(false);
  GaugeWait->hide();

  BitBtnCToClip = new QPushButton("Copy to clipboard", Panel1);
  BitBtnCToClip->setGeometry(236, 264, 159, 25);
  BitBtnCToClip->setIcon(glyph(drawCopySheets, QColor(0, 0, 128)));
  BitBtnCToClip->setAutoDefault(false);
  BitBtnCToClip->hide();
  connect(BitBtnCToClip, &QPushButton::clicked, this, &TAboutBox::BitBtnCToClipClick);

  OKButton->raise();
  OKButton->setFocus();

  FCreditsTimer.setInterval(kCreditsPassMs);
  connect(&FCreditsTimer, &QTimer::timeout, this, &TAboutBox::creditsPass);

  // Centred on the screen, not on the owner.
  if (QScreen* screen = Owner ? Owner->screen() : QGuiApplication::primaryScreen())
    move(screen->availableGeometry().center() - rect().center());

  FormCreate();
}

TAboutBox::~TAboutBox() = default;

void TAboutBox::FormCreate() { setWindowTitle(QApplication::applicationName() + " - About"); }

void TAboutBox::OKButtonClick() {
  if (FCreditsTimer.isActive() || FCreditsOver) return;
  LabelBuild->setText("V" + VersionInfo(2) + " retail");
  LabelBuild->adjustSize();

  LabelAppVersion->hide();
  OKButton->hide();
  CubeSpin1->hide();
  GaugeWait->SetMaxValue(static_cast<int>(CreditsMs));
  BitBtnCToClip->show();
  GaugeWait->show();
  LabelBuild->show();
  MemoContact->show();
  ImagePortrait->show();

  FCreditsStart = Clock();
  creditsPass();
  if (!FCreditsOver) FCreditsTimer.start();
}

void TAboutBox::creditsPass() {
  // Unsigned differences stay right when the tick counter wraps.
  const std::uint32_t elapsed = Clock() - FCreditsStart;
  GaugeWait->SetProgress(static_cast<int>(std::min(elapsed, CreditsMs)));
  GaugeWait->SetForeColor(CreditsColour(elapsed));
  if (elapsed < CreditsMs) return;
  FCreditsTimer.stop();
  FCreditsOver = true;
  ImagePortrait->hide();
  done(QDialog::Accepted);
}

void TAboutBox::BitBtnCToClipClick() {
  MemoContact->selectAll();
  QApplication::clipboard()->setText(MemoContact->toPlainText());
}

void TAboutBox::reject() {}

void TAboutBox::closeEvent(QCloseEvent* Event) {
  if (FCreditsOver)
    QDialog::closeEvent(Event);
  else
    Event->ignore();
}

void ShowAboutBox(QWidget* Owner) {
  TAboutBox box(Owner);
  box.exec();
}

}  // namespace busweave

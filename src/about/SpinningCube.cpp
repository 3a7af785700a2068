#include "about/SpinningCube.h"

#include <QPaintEvent>
#include <QPainter>
#include <QPolygon>
#include <QTimer>
#include <algorithm>
#include <cmath>
#include <cstdlib>
#include <numbers>

namespace busweave {
namespace {

constexpr int kSpinIntervalMs = 20;

// Corner numbering: 0..3 on the back (z = -1), 4..7 on the front, each side going round.
constexpr TCubeVertices kUnitCube = {
    {{-1, -1, -1}, {-1, 1, -1}, {1, 1, -1}, {1, -1, -1}, {-1, -1, 1}, {-1, 1, 1}, {1, 1, 1}, {1, -1, 1}}};

constexpr std::array<std::array<int, 2>, 12> kEdges = {
    {{0, 1}, {1, 2}, {2, 3}, {3, 0}, {4, 5}, {5, 6}, {6, 7}, {7, 4}, {4, 0}, {5, 1}, {6, 2}, {7, 3}}};

constexpr std::array<TCubeFaceCorners, 6> kFaces = {
    {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};

// sin(i degrees) for i = 0..359, single precision, shared by every cube.
const std::array<float, 360>& sinTable() {
  static const std::array<float, 360> table = [] {
    std::array<float, 360> values{};
    for (std::size_t i = 0; i < values.size(); ++i)
      values[i] = static_cast<float>(std::sin(static_cast<double>(i) * std::numbers::pi / 180));
    return values;
  }();
  return table;
}

bool touches(const TCubeFaceCorners& Face, int Corner) {
  return std::find(Face.begin(), Face.end(), Corner) != Face.end();
}

}  // namespace

TCubeGeometry CubeGeometry(int ClientWidth, int ClientHeight) {
  TCubeGeometry g;
  g.HalfEdge = (ClientWidth > ClientHeight ? ClientHeight : ClientWidth) / 4;
  for (std::size_t i = 0; i < g.Model.size(); ++i)
    g.Model[i] = {kUnitCube[i].X * g.HalfEdge, kUnitCube[i].Y * g.HalfEdge, kUnitCube[i].Z * g.HalfEdge};
  g.Perspective = 8;
  g.CentreX = ClientWidth / 2;
  g.CentreY = ClientHeight / 2;
  g.EyeDist = g.HalfEdge * g.Perspective;
  return g;
}

int NormaliseAngle(int Degrees) {
  const int angle = Degrees % 360;
  return angle < 0 ? angle + 360 : angle;
}

float SinDegrees(int Degrees) { return sinTable()[static_cast<std::size_t>(NormaliseAngle(Degrees))]; }

float CosDegrees(int Degrees) { return SinDegrees(90 - NormaliseAngle(Degrees)); }

TCubeMatrix RotationMatrix(int XSpin, int YSpin, int ZSpin) {
  const float sx = SinDegrees(XSpin), cx = CosDegrees(XSpin);
  const float sy = SinDegrees(YSpin), cy = CosDegrees(YSpin);
  const float sz = SinDegrees(ZSpin), cz = CosDegrees(ZSpin);
  return {{{cy * cz, -cy * sz, -sy},
           {-sx * sy * cz + cx * sz, sx * sy * sz + cx * cz, -sx * cy},
           {cx * sy * cz + sx * sz, -cx * sy * sz + sx * cz, cx * cy}}};
}

TCubeVertices RotateVertices(const TCubeVertices& Model, const TCubeMatrix& Matrix) {
  TCubeVertices rotated{};
  for (std::size_t i = 0; i < Model.size(); ++i) {
    const TVertex& v = Model[i];
    std::array<int, 3> out{};
    for (std::size_t row = 0; row < 3; ++row) {
      const double sum = double{Matrix[row][0]} * v.X + double{Matrix[row][1]} * v.Y + double{Matrix[row][2]} * v.Z;
      out[row] = static_cast<int>(sum);  // truncates toward zero
    }
    rotated[i] = {out[0], out[1], out[2]};
  }
  return rotated;
}

int FarthestVertex(const TCubeVertices& Rotated) {
  int farthest = 0;
  for (int i = 1; i < static_cast<int>(Rotated.size()); ++i)
    if (Rotated[static_cast<std::size_t>(i)].Z < Rotated[static_cast<std::size_t>(farthest)].Z) farthest = i;
  return farthest;
}

QPoint ProjectVertex(const TVertex& Rotated, const TCubeGeometry& Geometry, bool Parallel) {
  const int x = Rotated.X, y = Rotated.Y, z = Rotated.Z;
  // A control too small for a cube (under 4 pixels) has no eye distance; its cube is a point.
  if (Parallel || Geometry.EyeDist == 0) return {x + Geometry.CentreX, y + Geometry.CentreY};
  const std::int64_t eye = Geometry.EyeDist;
  return {static_cast<int>(std::int64_t{x} * z / eye) + x + Geometry.CentreX,
          static_cast<int>(std::int64_t{y} * z / eye) + y + Geometry.CentreY};
}

int FaceShade(const TCubeVertices& Rotated, const TCubeFaceCorners& Face, int HalfEdge) {
  int zmin = Rotated[static_cast<std::size_t>(Face[0])].Z;
  int zmax = zmin;
  for (const int corner : Face) {
    const int z = Rotated[static_cast<std::size_t>(corner)].Z;
    if (z < zmin) zmin = z;
    if (z > zmax) zmax = z;
  }
  if (HalfEdge == 0) return 255;  // the point-sized cube of a tiny control
  const int shade = 255 - (std::abs(zmin - zmax) * 64) / HalfEdge;
  return shade < 0 ? 0 : shade;
}

QColor FaceColour(TCubeDispOpts Options, const TCubeFaceCorners& Face, int Shade) {
  const int a = Face[0], b = Face[1], c = Face[2];
  const bool shade = Options.testFlag(cdoShade);
  const bool colour = Options.testFlag(cdoColor);
  if (shade && colour) return {Shade / 2, Shade / 4, Shade};
  if (shade) return {Shade, Shade, Shade};
  if (colour) return {(a * 64) % 256, (b * 64) % 256, (c * 64) % 256};
  const int grey = (a * 64 + b * 16 + c) % 256;
  return {grey, grey, grey};
}

TCubePicture ComposeCube(const TCubeGeometry& Geometry, int XSpin, int YSpin, int ZSpin, TCubeDispOpts Options) {
  TCubePicture picture;
  picture.Rotated = RotateVertices(Geometry.Model, RotationMatrix(XSpin, YSpin, ZSpin));
  const bool hide = Options.testFlag(cdoHide);
  if (hide) picture.Hidden = FarthestVertex(picture.Rotated);
  const auto project = [&](int Corner) {
    return ProjectVertex(picture.Rotated[static_cast<std::size_t>(Corner)], Geometry, hide);
  };

  if (Options.testFlag(cdoFaces)) {
    for (const TCubeFaceCorners& corners : kFaces) {
      if (touches(corners, picture.Hidden)) continue;
      TCubeFace face;
      face.Corners = corners;
      for (std::size_t i = 0; i < 4; ++i) face.Points[i] = project(corners[i]);
      face.Shade = FaceShade(picture.Rotated, corners, Geometry.HalfEdge);
      face.Colour = FaceColour(Options, corners, face.Shade);
      picture.Faces.push_back(face);
    }
    return picture;
  }
  for (const auto& [a, b] : kEdges) {
    if (hide && (a == picture.Hidden || b == picture.Hidden)) continue;
    picture.Edges.push_back({a, b, project(a), project(b)});
  }
  return picture;
}

TCubeSpin::TCubeSpin(QWidget* Parent) : QWidget(Parent) {
  // The cube paints its whole client area itself: no background erase before a paint.
  setAttribute(Qt::WA_OpaquePaintEvent);
  setAttribute(Qt::WA_NoSystemBackground);
  SetupGeometry();
}

TCubeSpin::~TCubeSpin() = default;

void TCubeSpin::SetXSpin(int Value) {
  if (Value != FXSpin) SetSpins(Value, FYSpin, FZSpin);
}

void TCubeSpin::SetYSpin(int Value) {
  if (Value != FYSpin) SetSpins(FXSpin, Value, FZSpin);
}

void TCubeSpin::SetZSpin(int Value) {
  if (Value != FZSpin) SetSpins(FXSpin, FYSpin, Value);
}

void TCubeSpin::SetSpins(int X, int Y, int Z) {
  if (X == FXSpin && Y == FYSpin && Z == FZSpin) return;
  FXSpin = NormaliseAngle(X);
  FYSpin = NormaliseAngle(Y);
  FZSpin = NormaliseAngle(Z);
  update();
  if (OnSpin) OnSpin(this);
}

void TCubeSpin::SetOptions(TCubeDispOpts Value) {
  if (Value.testFlag(cdoFaces)) Value |= cdoHide;
  if (Value == FOptions) return;
  FOptions = Value;
  update();
}

void TCubeSpin::SetContinuous(bool Value) {
  if (Value == FContinuous) return;
  FContinuous = Value;
  if (Value) {
    FTimer = std::make_unique<QTimer>();
    FTimer->setInterval(kSpinIntervalMs);
    connect(FTimer.get(), &QTimer::timeout, this, &TCubeSpin::SpinStep);
    FTimer->start();
  } else {
    FTimer.reset();
  }
}

void TCubeSpin::SpinStep() {
  if (!FContinuous) return;
  // The angles stay within 0..359, so the step is taken modulo a turn to keep the sum in range
  // whatever SpinInc is.
  const auto advance = [this](int Angle, bool On) {
    return On ? static_cast<int>((std::int64_t{Angle} + FSpinInc) % 360) : Angle;
  };
  SetSpins(advance(FXSpin, FXSpinOn), advance(FYSpin, FYSpinOn), advance(FZSpin, FZSpinOn));
}

TCubePicture TCubeSpin::Picture() const { return ComposeCube(FGeometry, FXSpin, FYSpin, FZSpin, FOptions); }

void TCubeSpin::SetupGeometry() {
  FGeometry = CubeGeometry(width(), height());
  FGeometrySize = size();
  FBackBuffer = QImage();
  FNeedErase = true;
}

void TCubeSpin::resizeEvent(QResizeEvent* Event) {
  QWidget::resizeEvent(Event);
  // Notices that leave the size as it was keep the picture and its trail.
  if (size() == FGeometrySize) return;
  SetupGeometry();
  update();
}

void TCubeSpin::paintEvent(QPaintEvent*) {
  // A paint can come before the first size notice of a control that was never shown.
  if (FGeometrySize != size()) SetupGeometry();
  const TCubePicture picture = Picture();
  QPainter screen(this);
  if (!FOptions.testFlag(cdoDblBuf)) {
    DrawCube(screen, picture);
    return;
  }
  if (FBackBuffer.isNull()) {
    const qreal ratio = devicePixelRatioF();
    FBackBuffer = QImage(size() * ratio, QImage::Format_RGB32);
    FBackBuffer.setDevicePixelRatio(ratio);
    FNeedErase = true;  // a new buffer holds no earlier picture to keep
  }
  {
    QPainter buffer(&FBackBuffer);
    DrawCube(buffer, picture);
  }
  screen.drawImage(0, 0, FBackBuffer);
}

void TCubeSpin::DrawCube(QPainter& Painter, const TCubePicture& Picture) {
  // Without erasing, earlier pictures stay where they were and the cube leaves a trail.
  if (FNeedErase || FOptions.testFlag(cdoErase)) Painter.fillRect(rect(), palette().color(backgroundRole()));
  FNeedErase = false;
  Painter.setPen(QPen(Qt::black, 1));
  if (FOptions.testFlag(cdoFaces)) {
    for (const TCubeFace& face : Picture.Faces) {
      Painter.setBrush(face.Colour);
      Painter.drawPolygon(QPolygon(QList<QPoint>(face.Points.begin(), face.Points.end())));
    }
    return;
  }
  for (const TCubeEdge& edge : Picture.Edges) Painter.drawLine(edge.From, edge.To);
}

}  // namespace busweave

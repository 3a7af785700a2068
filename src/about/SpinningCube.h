#pragma once

// TCubeSpin: a cube turned by three whole-degree angles, drawn as a wireframe or as three flat
// shaded faces, that can spin by itself on a 20 ms timer. It paints its whole client area into
// a back buffer that lives as long as the control's size does, and refuses the background erase,
// so it does not flicker.
//
// Geometry, projection and face colours are free functions below: ComposeCube gives the lines or
// polygons of one drawing without a window, and the control only puts them on the screen.

#include <QColor>
#include <QFlags>
#include <QImage>
#include <QPoint>
#include <QWidget>
#include <array>
#include <cstdint>
#include <functional>
#include <memory>
#include <vector>

class QPainter;
class QTimer;

namespace busweave {

enum TCubeDispOpt : std::uint8_t {
  cdoErase = 0x01,   // clear the background before each drawing
  cdoHide = 0x02,    // hide the farthest corner with its edges or faces; project without perspective
  cdoDblBuf = 0x04,  // draw into the back buffer and copy it
  cdoAuto = 0x08,    // kept with the others; no behaviour of its own
  cdoFaces = 0x10,   // filled faces instead of edges
  cdoShade = 0x20,   // brightness from the face's orientation
  cdoColor = 0x40,   // coloured faces
};
Q_DECLARE_FLAGS(TCubeDispOpts, TCubeDispOpt)
Q_DECLARE_OPERATORS_FOR_FLAGS(TCubeDispOpts)

struct TVertex {
  int X = 0;
  int Y = 0;
  int Z = 0;
  bool operator==(const TVertex&) const = default;
};
using TCubeVertices = std::array<TVertex, 8>;
using TCubeMatrix = std::array<std::array<float, 3>, 3>;
using TCubeFaceCorners = std::array<int, 4>;

// The sizes that follow from the client area: the model scaled to a quarter of its shorter
// side, the centre, and the eye distance of the perspective projection.
struct TCubeGeometry {
  TCubeVertices Model{};
  int HalfEdge = 0;
  int CentreX = 0;
  int CentreY = 0;
  int Perspective = 8;
  int EyeDist = 0;
};

TCubeGeometry CubeGeometry(int ClientWidth, int ClientHeight);
// An angle brought into 0..359.
int NormaliseAngle(int Degrees);
// Sine and cosine of a whole-degree angle from the shared single-precision table.
float SinDegrees(int Degrees);
float CosDegrees(int Degrees);
TCubeMatrix RotationMatrix(int XSpin, int YSpin, int ZSpin);
// Each coordinate truncated toward zero.
TCubeVertices RotateVertices(const TCubeVertices& Model, const TCubeMatrix& Matrix);
// The corner with the smallest z; the lowest index among equals.
int FarthestVertex(const TCubeVertices& Rotated);
// Parallel projection, or the perspective one that draws nearer corners farther from the centre.
QPoint ProjectVertex(const TVertex& Rotated, const TCubeGeometry& Geometry, bool Parallel);
// 255 for a face seen head-on, darker the more it is turned away.
int FaceShade(const TCubeVertices& Rotated, const TCubeFaceCorners& Face, int HalfEdge);
QColor FaceColour(TCubeDispOpts Options, const TCubeFaceCorners& Face, int Shade);

struct TCubeEdge {
  int A = 0;
  int B = 0;
  QPoint From;
  QPoint To;
};

struct TCubeFace {
  TCubeFaceCorners Corners{};
  std::array<QPoint, 4> Points{};
  int Shade = 0;
  QColor Colour;
};

// One drawing: the edges (wireframe) or the faces, in drawing order.
struct TCubePicture {
  TCubeVertices Rotated{};
  int Hidden = -1;  // the hidden corner; -1 without cdoHide
  std::vector<TCubeEdge> Edges;
  std::vector<TCubeFace> Faces;
};

TCubePicture ComposeCube(const TCubeGeometry& Geometry, int XSpin, int YSpin, int ZSpin, TCubeDispOpts Options);

class TCubeSpin : public QWidget {
  Q_OBJECT

 public:
  explicit TCubeSpin(QWidget* Parent = nullptr);
  ~TCubeSpin() override;

  int XSpin() const { return FXSpin; }
  int YSpin() const { return FYSpin; }
  int ZSpin() const { return FZSpin; }
  TCubeDispOpts Options() const { return FOptions; }
  bool Continuous() const { return FContinuous; }
  int SpinInc() const { return FSpinInc; }
  bool XSpinOn() const { return FXSpinOn; }
  bool YSpinOn() const { return FYSpinOn; }
  bool ZSpinOn() const { return FZSpinOn; }
  const TCubeGeometry& Geometry() const { return FGeometry; }
  // The spin timer while Continuous is on, otherwise null.
  const QTimer* Timer() const { return FTimer.get(); }

  void SetXSpin(int Value);
  void SetYSpin(int Value);
  void SetZSpin(int Value);
  // Sets the three angles (each brought into 0..359), repaints and notifies OnSpin; nothing
  // happens when all three equal the current ones.
  void SetSpins(int X, int Y, int Z);
  // Faces are always drawn with the farthest corner hidden, so cdoFaces brings cdoHide along.
  void SetOptions(TCubeDispOpts Value);
  void SetContinuous(bool Value);
  void SetSpinInc(int Value) { FSpinInc = Value; }
  void SetXSpinOn(bool Value) { FXSpinOn = Value; }
  void SetYSpinOn(bool Value) { FYSpinOn = Value; }
  void SetZSpinOn(bool Value) { FZSpinOn = Value; }

  // Called after every change of the angles.
  std::function<void(TCubeSpin*)> OnSpin;

  // One step of the spin: every enabled angle advances by SpinInc.
  void SpinStep();
  // The drawing at the current size, angles and options.
  TCubePicture Picture() const;

 protected:
  void paintEvent(QPaintEvent* Event) override;
  void resizeEvent(QResizeEvent* Event) override;

 private:
  void SetupGeometry();
  void DrawCube(QPainter& Painter, const TCubePicture& Picture);

  TCubeGeometry FGeometry;
  QSize FGeometrySize;  // the client size FGeometry was made for
  bool FContinuous = false;
  int FSpinInc = 1;
  int FXSpin = 0;
  int FYSpin = 0;
  int FZSpin = 0;
  bool FXSpinOn = true;
  bool FYSpinOn = false;
  bool FZSpinOn = true;
  TCubeDispOpts FOptions = cdoErase | cdoHide | cdoDblBuf | cdoFaces | cdoShade | cdoColor;
  QImage FBackBuffer;  // keeps its contents between drawings; made again on a size change
  std::unique_ptr<QTimer> FTimer;
  bool FNeedErase = true;
};

}  // namespace busweave

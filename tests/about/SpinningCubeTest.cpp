// The spinning cube: angles and notifications, options, geometry, what one drawing consists of,
// the spin timer, and the pixels of the control with and without erasing.

#include <gtest/gtest.h>

#include <QEvent>
#include <QTest>
#include <QTimer>
#include <climits>

#include "about/SpinningCube.h"

namespace busweave {
namespace {

class PaintCounter : public QObject {
 public:
  int Paints = 0;
  bool eventFilter(QObject*, QEvent* Event) override {
    if (Event->type() == QEvent::Paint) ++Paints;
    return false;
  }
};

const TCubeDispOpts kAllOptions = cdoErase | cdoHide | cdoDblBuf | cdoAuto | cdoFaces | cdoShade | cdoColor;

std::vector<TCubeFaceCorners> cornersOf(const TCubePicture& Picture) {
  std::vector<TCubeFaceCorners> corners;
  for (const TCubeFace& face : Picture.Faces) corners.push_back(face.Corners);
  return corners;
}

TEST(CubeAngles, AreKeptInOneTurnAndOnlyChangesNotify) {
  TCubeSpin cube;
  int spins = 0;
  cube.OnSpin = [&](TCubeSpin* Sender) {
    EXPECT_EQ(Sender, &cube);
    ++spins;
  };
  cube.SetXSpin(-90);
  EXPECT_EQ(cube.XSpin(), 270);
  cube.SetYSpin(725);
  EXPECT_EQ(cube.YSpin(), 5);
  EXPECT_EQ(spins, 2);
  cube.SetXSpin(270);
  cube.SetSpins(270, 5, 0);
  EXPECT_EQ(spins, 2);
}

TEST(CubeAngles, UnchangedAnglesDoNotRepaint) {
  TCubeSpin cube;
  cube.resize(60, 60);
  cube.show();
  ASSERT_TRUE(QTest::qWaitForWindowExposed(&cube));
  PaintCounter counter;
  cube.installEventFilter(&counter);
  cube.SetSpins(0, 0, 0);
  QCoreApplication::sendPostedEvents();
  QCoreApplication::processEvents();
  EXPECT_EQ(counter.Paints, 0);
  cube.SetSpins(10, 0, 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return counter.Paints > 0; }, 2000));
}

TEST(CubeOptions, FacesBringTheHiddenCornerAlong) {
  TCubeSpin cube;
  EXPECT_EQ(cube.Options(), cdoErase | cdoHide | cdoDblBuf | cdoFaces | cdoShade | cdoColor);
  cube.SetOptions(cdoFaces);
  EXPECT_EQ(cube.Options(), cdoHide | cdoFaces);
  cube.SetOptions(cdoErase);
  EXPECT_EQ(cube.Options(), TCubeDispOpts(cdoErase));
}

TEST(CubeGeometry, FollowsTheShorterSideOfTheClientArea) {
  const TCubeGeometry g = CubeGeometry(235, 225);
  EXPECT_EQ(g.HalfEdge, 56);
  EXPECT_EQ(g.CentreX, 117);
  EXPECT_EQ(g.CentreY, 112);
  EXPECT_EQ(g.EyeDist, 448);
  EXPECT_EQ(g.Model[0], (TVertex{-56, -56, -56}));
  EXPECT_EQ(g.Model[6], (TVertex{56, 56, 56}));
  EXPECT_EQ(CubeGeometry(100, 300).HalfEdge, 25);

  TCubeSpin cube;
  cube.resize(235, 225);
  (void)cube.grab();
  EXPECT_EQ(cube.Geometry().EyeDist, 448);
  EXPECT_EQ(cube.Geometry().CentreX, 117);
}

TEST(CubeGeometry, AControlTooSmallForACubeDrawsAPoint) {
  const TCubeGeometry g = CubeGeometry(3, 3);
  ASSERT_EQ(g.EyeDist, 0);
  const TCubePicture wire = ComposeCube(g, 10, 20, 30, cdoErase);  // perspective divides by the eye distance
  ASSERT_EQ(wire.Edges.size(), 12u);
  for (const TCubeEdge& edge : wire.Edges) EXPECT_EQ(edge.From, QPoint(1, 1));
  const TCubePicture faces = ComposeCube(g, 10, 20, 30, kAllOptions);
  for (const TCubeFace& face : faces.Faces) EXPECT_EQ(face.Shade, 255);

  TCubeSpin cube;
  cube.SetOptions(cdoErase | cdoDblBuf);
  cube.resize(3, 3);
  EXPECT_FALSE(cube.grab().isNull());
}

TEST(CubeRotation, TurnsWithTheTableAndTruncates) {
  EXPECT_FLOAT_EQ(SinDegrees(-90), -1.0f);
  EXPECT_FLOAT_EQ(CosDegrees(360), 1.0f);
  EXPECT_FLOAT_EQ(CosDegrees(90), 0.0f);
  EXPECT_NEAR(SinDegrees(30), 0.5f, 1e-6f);

  const TCubeGeometry g = CubeGeometry(235, 225);
  // A quarter turn about Z takes corner 6 from (56, 56, 56) to (-56, 56, 56) with this matrix.
  const TCubeVertices quarter = RotateVertices(g.Model, RotationMatrix(0, 0, 90));
  EXPECT_EQ(quarter[6], (TVertex{-56, 56, 56}));
  // 30 degrees about X: every coordinate is truncated toward zero.
  const TCubeVertices tilted = RotateVertices(g.Model, RotationMatrix(30, 0, 0));
  EXPECT_EQ(tilted[6], (TVertex{56, 20, 76}));  // y = 56 cos 30 - 56 sin 30 = 20.5, z = 76.5
  EXPECT_EQ(FarthestVertex(tilted), 0);
  // Tilted the other way, corners 1 and 2 tie for the back: the lower index is the hidden one.
  EXPECT_EQ(FarthestVertex(RotateVertices(g.Model, RotationMatrix(-30, 0, 0))), 1);
}

TEST(CubePicture, AtRestCornerZeroIsHiddenAndThreeShadedFacesRemain) {
  const TCubeGeometry g = CubeGeometry(235, 225);
  const TCubePicture picture = ComposeCube(g, 0, 0, 0, kAllOptions);
  EXPECT_EQ(picture.Hidden, 0);  // the four back corners tie; the lowest index wins
  ASSERT_EQ(cornersOf(picture), (std::vector<TCubeFaceCorners>{{4, 5, 6, 7}, {1, 2, 6, 5}, {2, 3, 7, 6}}));
  EXPECT_EQ(picture.Faces[0].Shade, 255);
  EXPECT_EQ(picture.Faces[1].Shade, 127);
  EXPECT_EQ(picture.Faces[2].Shade, 127);
  EXPECT_EQ(picture.Faces[0].Colour, QColor(127, 63, 255));
  EXPECT_EQ(picture.Faces[1].Colour, QColor(63, 31, 127));
  // The front face without perspective; the side faces, seen edge-on, collapse to lines.
  EXPECT_EQ(picture.Faces[0].Points,
            (std::array<QPoint, 4>{QPoint(61, 56), QPoint(61, 168), QPoint(173, 168), QPoint(173, 56)}));
  EXPECT_EQ(picture.Faces[1].Points[1], picture.Faces[1].Points[2]);
  EXPECT_TRUE(picture.Edges.empty());
}

TEST(CubePicture, FaceColoursFollowShadeAndColourOptions) {
  const TCubeGeometry g = CubeGeometry(235, 225);
  // The six faces in drawing order; with the rules of each combination of the two options.
  const std::array<TCubeFaceCorners, 6> faces = {
      {{0, 1, 2, 3}, {4, 5, 6, 7}, {0, 1, 5, 4}, {1, 2, 6, 5}, {2, 3, 7, 6}, {3, 0, 4, 7}}};
  const std::array<QColor, 6> coloured = {QColor(0, 64, 128),   QColor(0, 64, 128),    QColor(0, 64, 64),
                                          QColor(64, 128, 128), QColor(128, 192, 192), QColor(192, 0, 0)};
  const std::array<int, 6> greys = {18, 86, 21, 102, 183, 196};
  for (std::size_t i = 0; i < faces.size(); ++i) {
    EXPECT_EQ(FaceColour(cdoColor, faces[i], 200), coloured[i]) << i;
    EXPECT_EQ(FaceColour({}, faces[i], 200), QColor(greys[i], greys[i], greys[i])) << i;
    EXPECT_EQ(FaceColour(cdoShade, faces[i], 200), QColor(200, 200, 200)) << i;
    EXPECT_EQ(FaceColour(cdoShade | cdoColor, faces[i], 201), QColor(100, 50, 201)) << i;
  }
  // A face turned 45 degrees away spreads over 2 * 56 * sin 45 in depth.
  const TCubeVertices turned = RotateVertices(g.Model, RotationMatrix(0, 45, 0));
  EXPECT_EQ(FaceShade(turned, faces[1], g.HalfEdge), 255 - (79 * 64) / 56);
}

TEST(CubePicture, TheWireframeHasTwelveEdgesInPerspectiveOrNineWithoutTheHiddenCorner) {
  const TCubeGeometry g = CubeGeometry(235, 225);
  const TCubePicture all = ComposeCube(g, 0, 0, 0, cdoErase);
  ASSERT_EQ(all.Edges.size(), 12u);
  // Nearer corners are drawn farther from the centre.
  EXPECT_EQ(all.Edges[4].From, QPoint(54, 49));  // corner 4, front
  EXPECT_EQ(all.Edges[0].From, QPoint(68, 63));  // corner 0, back

  const TCubePicture hidden = ComposeCube(g, 20, 0, 40, cdoErase | cdoHide);
  ASSERT_EQ(hidden.Edges.size(), 9u);
  for (const TCubeEdge& edge : hidden.Edges) {
    EXPECT_NE(edge.A, hidden.Hidden);
    EXPECT_NE(edge.B, hidden.Hidden);
    const TVertex& v = hidden.Rotated[static_cast<std::size_t>(edge.A)];
    EXPECT_EQ(edge.From, QPoint(v.X + 117, v.Y + 112));
  }
}

TEST(CubeSpinning, StepsEnabledAnglesOnItsTimer) {
  TCubeSpin cube;
  EXPECT_EQ(cube.Timer(), nullptr);
  cube.SetSpins(359, 10, 358);
  cube.SetSpinInc(2);
  cube.SpinStep();  // not continuous: nothing
  EXPECT_EQ(cube.XSpin(), 359);

  int spins = 0;
  cube.OnSpin = [&](TCubeSpin*) { ++spins; };
  cube.SetContinuous(true);
  ASSERT_NE(cube.Timer(), nullptr);
  EXPECT_EQ(cube.Timer()->interval(), 20);
  EXPECT_TRUE(cube.Timer()->isActive());
  cube.SpinStep();
  EXPECT_EQ(cube.XSpin(), 1);
  EXPECT_EQ(cube.YSpin(), 10);  // Y does not spin by default
  EXPECT_EQ(cube.ZSpin(), 0);
  EXPECT_TRUE(QTest::qWaitFor([&] { return spins >= 3; }, 2000));

  cube.SetContinuous(false);
  EXPECT_EQ(cube.Timer(), nullptr);
  const int x = cube.XSpin();
  cube.SpinStep();
  EXPECT_EQ(cube.XSpin(), x);
}

TEST(CubeSpinning, TheStepStaysInRangeWhateverTheIncrement) {
  TCubeSpin cube;
  cube.SetContinuous(false);
  cube.SetSpins(359, 0, 1);
  cube.SetSpinInc(INT_MAX);
  cube.SetContinuous(true);
  cube.SpinStep();
  EXPECT_EQ(cube.XSpin(), static_cast<int>((359LL + INT_MAX) % 360));
  EXPECT_GE(cube.ZSpin(), 0);
  EXPECT_LT(cube.ZSpin(), 360);
}

TEST(CubeWidget, DrawsTheFrontFaceAndLeavesATrailWithoutErasing) {
  TCubeSpin cube;
  cube.resize(235, 225);
  const QColor background = cube.palette().color(cube.backgroundRole());
  const QImage rest = cube.grab().toImage();
  EXPECT_EQ(rest.pixelColor(117, 112), QColor(127, 63, 255));
  EXPECT_EQ(rest.pixelColor(5, 5), background);

  // A corner of the resting front face lies outside the face turned by 45 degrees.
  cube.SetZSpin(45);
  EXPECT_EQ(cube.grab().toImage().pixelColor(66, 61), background);

  cube.SetOptions(cdoHide | cdoDblBuf | cdoFaces | cdoShade | cdoColor);  // no erase
  cube.SetZSpin(0);
  (void)cube.grab();
  cube.SetZSpin(45);
  const QImage trail = cube.grab().toImage();
  EXPECT_EQ(trail.pixelColor(66, 61), QColor(127, 63, 255));
  EXPECT_EQ(trail.pixelColor(117, 112), QColor(127, 63, 255));
}

}  // namespace
}  // namespace busweave

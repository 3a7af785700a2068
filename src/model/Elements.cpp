#include "model/Elements.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <numbers>

namespace busweave {
namespace {

void putU16(std::uint8_t* Out, std::uint16_t Value) {
  Out[0] = static_cast<std::uint8_t>(Value & 0xFFu);
  Out[1] = static_cast<std::uint8_t>(Value >> 8);
}

void putU32(std::uint8_t* Out, std::uint32_t Value) {
  for (int i = 0; i < 4; ++i) Out[i] = static_cast<std::uint8_t>((Value >> (8 * i)) & 0xFFu);
}

void putI32(std::uint8_t* Out, std::int32_t Value) { putU32(Out, static_cast<std::uint32_t>(Value)); }

std::uint16_t getU16(const std::uint8_t* In) { return static_cast<std::uint16_t>(In[0] | (In[1] << 8)); }

std::uint32_t getU32(const std::uint8_t* In) {
  return static_cast<std::uint32_t>(In[0]) | (static_cast<std::uint32_t>(In[1]) << 8) |
         (static_cast<std::uint32_t>(In[2]) << 16) | (static_cast<std::uint32_t>(In[3]) << 24);
}

std::int32_t getI32(const std::uint8_t* In) { return static_cast<std::int32_t>(getU32(In)); }

void putPoint(std::uint8_t* Out, TPoint P) {
  putI32(Out, P.X);
  putI32(Out + 4, P.Y);
}

TPoint getPoint(const std::uint8_t* In) { return {getI32(In), getI32(In + 4)}; }

}  // namespace

bool InBox(TPoint A, TPoint B, TPoint P) {
  return std::min(A.X, B.X) <= P.X && P.X <= std::max(A.X, B.X) && std::min(A.Y, B.Y) <= P.Y &&
         P.Y <= std::max(A.Y, B.Y);
}

TPoint WrappingAdd(TPoint A, TPoint Delta) {
  auto add = [](std::int32_t L, std::int32_t R) {
    return static_cast<std::int32_t>(static_cast<std::uint32_t>(L) + static_cast<std::uint32_t>(R));
  };
  return {add(A.X, Delta.X), add(A.Y, Delta.Y)};
}

float WireAngle(TPoint Start, TPoint End) {
  const long double dx = static_cast<long double>(End.X) - Start.X;
  const long double dy = static_cast<long double>(End.Y) - Start.Y;
  if (dx == 0) return static_cast<float>(std::numbers::pi / 2);
  return static_cast<float>(std::atan(dy / dx));
}

std::string CutShortString(std::string Text) {
  if (Text.size() > ShortStringCapacity) Text.resize(ShortStringCapacity);
  return Text;
}

std::string PointText(TPoint P) {
  // Appended piece by piece: GCC 12 at -O3 warns falsely (-Wrestrict) on "literal" + string.
  std::string text = "(";
  text += std::to_string(P.X);
  text += ", ";
  text += std::to_string(P.Y);
  text += ')';
  return text;
}

std::unique_ptr<TNode> TNode::CopyRecord() const {
  auto copy = std::make_unique<TNode>();
  copy->AssignRecord(*this);
  return copy;
}

void TNode::AssignRecord(const TNode& From) {
  FPos = From.FPos;
  FResistance = From.FResistance;
  FName = From.FName;
  FShowName = From.FShowName;
  FSource = From.FSource;
}

TNode::Record TNode::PackRecord() const {
  Record out{};
  putPoint(out.data(), FPos);
  putU16(out.data() + 8, FResistance);
  const std::size_t n = std::min(FName.size(), ShortStringCapacity);
  out[10] = static_cast<std::uint8_t>(n);
  std::memcpy(out.data() + 11, FName.data(), n);
  out[266] = FShowName;
  out[267] = FSource;
  return out;
}

void TNode::UnpackRecord(const std::uint8_t* Bytes) {
  FPos = getPoint(Bytes);
  FResistance = getU16(Bytes + 8);
  FName.assign(reinterpret_cast<const char*>(Bytes + 11), Bytes[10]);
  FShowName = Bytes[266];
  FSource = Bytes[267];
}

std::unique_ptr<TTrmLine> TTrmLine::CopyRecord() const {
  auto copy = std::make_unique<TTrmLine>();
  copy->AssignRecord(*this);
  return copy;
}

void TTrmLine::AssignRecord(const TTrmLine& From) {
  FStart = From.FStart;
  FEnd = From.FEnd;
  FImpedance = From.FImpedance;
  FLength = From.FLength;
  FAngle = From.FAngle;
  FReserved = From.FReserved;
  FShowLength = From.FShowLength;
}

TTrmLine::Record TTrmLine::PackRecord() const {
  Record out{};
  putPoint(out.data(), FStart);
  putPoint(out.data() + 8, FEnd);
  putU16(out.data() + 16, FImpedance);
  putU16(out.data() + 18, FLength);
  std::uint32_t angleBits = 0;
  static_assert(sizeof angleBits == sizeof FAngle);
  std::memcpy(&angleBits, &FAngle, sizeof angleBits);
  putU32(out.data() + 20, angleBits);
  std::memcpy(out.data() + 24, FReserved.data(), FReserved.size());
  out[280] = FShowLength;
  return out;
}

void TTrmLine::UnpackRecord(const std::uint8_t* Bytes) {
  FStart = getPoint(Bytes);
  FEnd = getPoint(Bytes + 8);
  FImpedance = getU16(Bytes + 16);
  FLength = getU16(Bytes + 18);
  const std::uint32_t angleBits = getU32(Bytes + 20);
  std::memcpy(&FAngle, &angleBits, sizeof FAngle);
  std::memcpy(FReserved.data(), Bytes + 24, FReserved.size());
  FShowLength = Bytes[280];
}

}  // namespace busweave

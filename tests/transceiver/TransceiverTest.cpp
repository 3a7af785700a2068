#include <gtest/gtest.h>

#include <algorithm>
#include <cstdlib>
#include <filesystem>
#include <sstream>

#include "TempFolder.h"
#include "base/FileErrors.h"
#include "transceiver/TransceiverCatalogue.h"

namespace busweave {
namespace {

using test::TempFolder;
using test::WriteBytes;

// The shipped classes as the build tree holds them, with an empty folder of the user's.
TTransceiverCatalogue shippedOnly(const TempFolder& User) {
  setenv("BUSWEAVE_TRANSCEIVERS", User.Path().c_str(), 1);
  return TTransceiverCatalogue(DefaultTransceiverFolders());
}

// The driver, a source behind its resistance, into Load ohms.
double driverInto(const TTransceiver& Class, double Load) {
  return Class.DriverDominantVoltage * (60.0 + Class.DriverSourceResistance) / 60.0 * Load /
         (Load + Class.DriverSourceResistance);
}

TEST(Transceiver, ShippedClassesLoadAndHoldTheLimitsTheyCite) {
  const TempFolder user;
  const TTransceiverCatalogue catalogue = shippedOnly(user);
  ASSERT_EQ(catalogue.Names(),
            (std::vector<std::string>{"iso11898-2-max", "iso11898-2-min", "iso11898-2-typ", "sic-cia601-4"}));
  EXPECT_EQ(LoadTransceiver().Name, kDefaultTransceiver);
  for (const std::string& name : catalogue.Names()) {
    SCOPED_TRACE(name);
    const TTransceiver c = catalogue.Load(name);
    EXPECT_TRUE(c.Replaces.empty());
    EXPECT_FALSE(c.Description.empty());
    EXPECT_EQ(c.Sources.size(), c.DrivesRecessivePhase ? 29u : 27u) << "every figure cites its source";
    EXPECT_DOUBLE_EQ(c.ReceiverRecessiveLimit, 0.5);
    EXPECT_DOUBLE_EQ(c.ReceiverDominantLimit, 0.9);
    EXPECT_GE(c.ReceiverFallingThreshold(), c.ReceiverRecessiveLimit - 1e-12);
    EXPECT_LE(c.ReceiverRisingThreshold(), c.ReceiverDominantLimit + 1e-12);
    EXPECT_LE(std::max(c.LoopDelayDominant(), c.LoopDelayRecessive()), c.LoopDelayLimit + 1e-15);
    // The driver output rows of the standard's datasheets, at every load they name.
    EXPECT_GE(driverInto(c, 45.0), 1.4);
    EXPECT_LE(driverInto(c, 70.0), 3.3);
    EXPECT_GE(driverInto(c, 2240.0), 1.5);
    EXPECT_LE(driverInto(c, 2240.0), 5.0);
    EXPECT_EQ(c.DrivesRecessivePhase, name.rfind("sic", 0) == 0);
  }
  const TTransceiver min = catalogue.Load("iso11898-2-min"), typ = catalogue.Load("iso11898-2-typ"),
                     max = catalogue.Load("iso11898-2-max");
  for (double TTransceiver::*field :
       {&TTransceiver::DriverDominantVoltage, &TTransceiver::DriverRiseTime, &TTransceiver::DriverFallTime,
        &TTransceiver::DriverDelayDominant, &TTransceiver::DriverDelayRecessive, &TTransceiver::ReceiverDelayDominant,
        &TTransceiver::ReceiverDelayRecessive, &TTransceiver::ReceiverThreshold, &TTransceiver::ReceiverHysteresis,
        &TTransceiver::InputResistance, &TTransceiver::InputCapacitance}) {
    EXPECT_LE(min.*field, typ.*field);
    EXPECT_LE(typ.*field, max.*field);
  }
  EXPECT_DOUBLE_EQ(min.DriverDominantVoltage, 1.5);
  EXPECT_DOUBLE_EQ(max.DriverDominantVoltage, 3.0);
  for (const TTransceiver* c : {&min, &typ, &max}) {
    const TBitTimingLimits& b500 = c->BitTiming[0];
    const TBitTimingLimits& b200 = c->BitTiming[1];
    EXPECT_NEAR(b500.BusBitMin, 435e-9, 1e-15);
    EXPECT_NEAR(b500.RxdBitMax, 550e-9, 1e-15);
    EXPECT_NEAR(b500.ReceiverSymmetryMin, -65e-9, 1e-15);
    EXPECT_NEAR(b200.BusBitMax, 210e-9, 1e-15);
    EXPECT_NEAR(b200.RxdBitMin, 120e-9, 1e-15);
    EXPECT_NEAR(b200.ReceiverSymmetryMax, 15e-9, 1e-15);
  }
  const TTransceiver sic = catalogue.Load("sic-cia601-4");
  EXPECT_LE(sic.SicTime, 530e-9 + 1e-15);
  EXPECT_GT(sic.BitTiming[1].BusBitMin, typ.BitTiming[1].BusBitMin);
}

// The typical class's text with the line of Key replaced (or, without Key, Line appended); Number
// is set to the line's number.
std::string withLine(const std::string& Text, const std::string& Key, const std::string& Line, int& Number) {
  std::istringstream in(Text);
  std::string out, line;
  Number = 0;
  for (int n = 1; std::getline(in, line); ++n) {
    if (!Key.empty() && line.rfind(Key + " =", 0) == 0) {
      Number = n;
      line = Line;
    }
    out += line + "\n";
  }
  if (Key.empty()) {
    Number = static_cast<int>(std::count(out.begin(), out.end(), '\n')) + 1;
    out += Line + "\n";
  }
  return out;
}

// Why the file at Path is refused, or "accepted".
std::string refusal(const std::string& Path) {
  try {
    ReadTransceiver(Path);
  } catch (const ETransceiverError& error) {
    return error.what();
  }
  return "accepted";
}

TEST(Transceiver, BadFilesAreRefusedNamingFileLineAndKey) {
  const TempFolder user;
  const std::string typical = shippedOnly(user).Load("iso11898-2-typ").Path;
  const std::string text = test::ReadBytes(typical);
  const std::string path = user.File("bad.transceiver");
  struct Case {
    std::string Key, Line, Expected;
  };
  for (const Case& c : std::vector<Case>{
           {"", "driver_rise_tme = 5 ns", "driver_rise_tme: unknown key; did you mean 'driver_rise_time'?"},
           {"", "driver_rise_time = 5 ns", "driver_rise_time: given twice (first on line"},
           {"", "just words", "'just words' is not of the form 'key = value'"},
           {"driver_dominant_voltage", "driver_dominant_voltage = 12 V",
            "driver_dominant_voltage: '12 V' is out of range: it lies between 100 mV and 10 V"},
           {"driver_rise_time", "driver_rise_time = 55", "driver_rise_time: '55' has no unit"},
           {"driver_rise_time", "driver_rise_time = 55 V", "'V' is no unit of time (s, ms, us, ns, ps)"},
           {"input_resistance", "input_resistance = many kohm", "is not a number and a unit"},
           {"input_resistance", "input_resistance = 1e999 kohm", "is not a finite number"},
           {"bit200_rec_max", "bit200_rec_max = -50 ns", "bit200_rec_max: lies below bit200_rec_min"},
           {"receiver_dominant_limit", "receiver_dominant_limit = 0.4 V", "must lie above receiver_recessive_limit"},
           {"", "sic_time = 530 ns", "sic_time: given without sic_resistance"},
           {"", "description = twice", "description: given twice"},
       }) {
    SCOPED_TRACE(c.Line);
    int line = 0;
    WriteBytes(path, withLine(text, c.Key, c.Line, line));
    ASSERT_GT(line, 0);
    const std::string message = refusal(path);
    EXPECT_NE(message.find(path + ":" + std::to_string(line) + ": "), std::string::npos) << message;
    EXPECT_NE(message.find(c.Expected), std::string::npos) << message;
  }
  int line = 0;
  WriteBytes(path, withLine(text, "input_capacitance", "", line));
  EXPECT_EQ(refusal(path),
            path + ": input_capacitance: missing (every key but sic_time and sic_resistance is required)");
  WriteBytes(path, text + std::string(kMostTransceiverFileBytes, '#'));
  EXPECT_THROW(ReadTransceiver(path), EFOpenError);
}

TEST(Transceiver, UsersFileReplacesTheShippedOneAndSaysSo) {
  const TempFolder shipped, user;
  const std::string text = test::ReadBytes(shippedOnly(user).Load("iso11898-2-typ").Path);
  WriteBytes(shipped.File("bus.transceiver"), text);
  WriteBytes(shipped.File("other.transceiver"), text);
  WriteBytes(shipped.File("notes.txt"), "not a class");
  int line = 0;
  WriteBytes(user.File("bus.transceiver"), withLine(text, "description", "description = my own", line));
  const TTransceiverCatalogue catalogue({user.Path().string(), {shipped.Path().string()}});

  EXPECT_EQ(catalogue.Names(), (std::vector<std::string>{"bus", "other"}));
  const TTransceiver own = catalogue.Load("bus");
  EXPECT_EQ(own.Description, "my own");
  EXPECT_EQ(own.Replaces, shipped.File("bus.transceiver"));
  EXPECT_EQ(ReplacementNotice(own), "Transceiver class 'bus' is the user's file " + user.File("bus.transceiver") +
                                        ", which replaces the shipped " + shipped.File("bus.transceiver") + ".");
  EXPECT_EQ(ReplacementNotice(catalogue.Load("other")), "");
  for (const char* name : {"../bus", "bus/", ".hidden", ""})
    EXPECT_THROW(catalogue.Load(name), ETransceiverError) << name;
  try {
    catalogue.Load("bsu");
    ADD_FAILURE() << "accepted";
  } catch (const ETransceiverError& error) {
    EXPECT_NE(std::string(error.what()).find("Did you mean 'bus'? The classes: bus, other."), std::string::npos)
        << error.what();
  }
}

}  // namespace
}  // namespace busweave

// Configuration tables and the conversion of raw readings to station values.
#include <cmath>

#include "common/fixed_text.h"
#include "transcribe/header.h"
#include "transcribe/records.h"
#include "transcribe/station_flow.h"
#include "transcribe/xlat_test_support.h"

namespace kal::xlat {
namespace {

using test::FakeConsole;

struct Bench : test::RecordBench {
  void feed(const std::string& record) {
    load(record);
    handle_survey_record(run);
  }
};

// Factor = 2 pi 9000 * 4e-7 pi * s^2 / 4 = 0.0018 pi^2 s^2 (pi and 4e-7 as
// their 32-bit floats): for 1 m 0.0018 * 9.8696050 * 1.0000000117 = 0.017765289.
TEST(CoilFactor, FormulaForEachSpacing) {
  struct Case {
    float spacing;
    float factor;
  };
  const Case cases[] = {
      {0.5f, 0.0044413223f},  // 0.0018 pi^2 / 4
      {0.6f, 0.0063955048f},  // 0.0018 pi^2 * 0.36
      {1.0f, 0.017765289f},
      {1.1f, 0.021496002f},   // * 1.21
      {2.0f, 0.071061157f},   // * 4
      {2.1f, 0.078344919f},   // * 4.41
      {4.0f, 0.28424463f},    // * 16
      {4.1f, 0.29863450f},    // * 16.81
      {0.0f, 0.0f},
  };
  for (const Case& c : cases) EXPECT_FLOAT_EQ(coil_factor(c.spacing), c.factor) << c.spacing;
}

TEST(AngleRule, TenthsUpTo320ThenOffsetBy300) {
  struct Case {
    std::int32_t raw;
    float degrees;
  };
  const Case cases[] = {{321, 21.0f},  {-321, -21.0f}, {320, 32.0f},  {-320, -32.0f},
                        {0, 0.0f},     {5, 0.5f},      {-125, -12.5f}, {650, 350.0f},
                        {-390, -90.0f}};
  for (const Case& c : cases) EXPECT_FLOAT_EQ(angle_from_raw(c.raw), c.degrees) << c.raw;
}

TEST(LengthCodes, SpacingsAndGeometryCounts) {
  struct Case {
    std::int32_t code;
    std::int32_t geometries;
    std::array<float, 3> hcp;
    std::array<float, 3> prp;
  };
  // Spacings beyond the geometry count keep the sentinel 9 of the start.
  const Case cases[] = {
      {1, 1, {1.0f, 9, 9}, {1.1f, 9, 9}},
      {5, 1, {0.5f, 9, 9}, {0.6f, 9, 9}},
      {15, 2, {0.5f, 1.0f, 9}, {0.6f, 1.1f, 9}},
      {2, 1, {2.0f, 9, 9}, {2.1f, 9, 9}},
      {21, 2, {1.0f, 2.0f, 9}, {1.1f, 2.1f, 9}},
      {215, 3, {0.5f, 1.0f, 2.0f}, {0.6f, 1.1f, 2.1f}},
      {42, 2, {2.0f, 4.0f, 9}, {2.1f, 4.1f, 9}},
      {62, 2, {2.0f, 6.0f, 9}, {2.1f, 6.1f, 9}},
      {620, 2, {2.0f, 6.0f, 9}, {2.1f, 6.1f, 9}},
      {421, 3, {1.0f, 2.0f, 4.0f}, {1.1f, 2.1f, 4.1f}},
      {621, 3, {1.0f, 2.0f, 6.0f}, {1.1f, 2.1f, 6.1f}},
      {642, 3, {2.0f, 4.0f, 6.0f}, {2.1f, 4.1f, 6.1f}},
      {842, 3, {2.0f, 4.0f, 8.0f}, {2.1f, 4.1f, 8.1f}},
      {4, 1, {4.0f, 9, 9}, {4.1f, 9, 9}},
      {7, 1, {4.0f, 9, 9}, {4.1f, 9, 9}},
  };
  for (const Case& c : cases) {
    Config config;
    config.HcpSpacing = {9, 9, 9};
    config.PrpSpacing = {9, 9, 9};
    apply_length_code(config, c.code);
    EXPECT_EQ(config.GeometryCount, c.geometries) << c.code;
    EXPECT_EQ(config.HcpSpacing, c.hcp) << c.code;
    EXPECT_EQ(config.PrpSpacing, c.prp) << c.code;
  }
}

TEST(LengthCodes, HeadingsOfTheHqInstruments) {
  Config config;
  apply_length_code(config, 21);
  EXPECT_EQ(trimmed(config.ColumnHeading), "");
  apply_length_code(config, 15);
  EXPECT_EQ(config.ColumnHeading.size(), 120u);
  EXPECT_EQ(trimmed(config.ColumnHeading),
            "HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt.");
  apply_length_code(config, 215);
  EXPECT_EQ(trimmed(config.ColumnHeading),
            "HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt."
            "HC2-mS/m.HI2-ppt.PC2-mS/m..PI2-ppt.");
  apply_length_code(config, 42);  // unchanged
  EXPECT_EQ(trimmed(config.ColumnHeading).size(), 105u);
}

// Readings HQ 1234, HI -567, PQ 2345, PI 89 on a 1 m instrument with the
// offsets 0.1, 0.2, 0.5, 0.4 ppt (O1..O4); factors 0.017765289 and 0.021496002.
TEST(Conversion, ByDataTypeWithOffsets) {
  struct Case {
    std::string type;
    float hc, hi, pc, pi;
  };
  const Case cases[] = {
      // 123.4 - 0.5/0.017765289, -5.67 - 0.1, 234.5 - 0.4/0.021496002, 0.89 - 0.2
      {"CONV", 95.25523f, -5.77f, 215.89189f, 0.69f},
      // (12.34 - 0.5)/0.017765289, (23.45 - 0.4)/0.021496002
      {"NULD", 666.46818f, -5.77f, 1072.2924f, 0.69f},
      {"RAW ", 666.46818f, -5.77f, 1072.2924f, 0.69f},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    Bench b;
    apply_length_code(b.run.config, 1);
    compute_factors(b.run.config, 1, 1);
    Station& s = b.run.station;
    s.DataType = c.type;
    s.RawHQ[0] = 1234;
    s.RawHI[0] = -567;
    s.RawPQ[0] = 2345;
    s.RawPI[0] = 89;
    s.RtmOffsets[0] = {0.1f, 0.2f, 0.5f, 0.4f};
    EXPECT_TRUE(convert_by_data_type(b.run, 1, 1));
    EXPECT_NEAR(s.HC[0], c.hc, 2e-3) << c.type;
    EXPECT_NEAR(s.HI[0], c.hi, 1e-5) << c.type;
    EXPECT_NEAR(s.PC[0], c.pc, 2e-3) << c.type;
    EXPECT_NEAR(s.PI[0], c.pi, 1e-5) << c.type;
  }
}

TEST(Conversion, OffsetOverUnknownFactorCountsNothing) {
  FakeConsole console;
  Bench b;  // no configuration: factors 0.0
  Station& s = b.run.station;
  s.DataType = "CONV";
  s.RawHQ[1] = 1234;
  s.RawPQ[1] = 2345;
  s.RtmOffsets[1] = {0.0f, 0.0f, 0.5f, 0.4f};
  EXPECT_TRUE(convert_by_data_type(b.run, 2, 2));
  EXPECT_FLOAT_EQ(s.HC[1], 123.4f);
  EXPECT_FLOAT_EQ(s.PC[1], 234.5f);
  EXPECT_TRUE(std::isfinite(s.HC[1]));
}

// An unknown data type refuses each geometry it is asked to convert: the
// T$ record's geometry 1, and geometries 2.. of an X$ record one by one.
TEST(Conversion, UnknownDataTypeKeepsValues) {
  struct Case {
    int first, last, refusals;
  };
  for (const Case c : {Case{1, 1, 1}, Case{2, 2, 1}, Case{2, 3, 2}}) {
    FakeConsole console;
    Bench b;
    Station& s = b.run.station;
    s.DataType = "ABCD";
    s.HC = {7.5f, 8.5f, 9.5f};
    s.RawHQ = {1000, 2000, 3000};
    EXPECT_FALSE(convert_by_data_type(b.run, c.first, c.last));
    EXPECT_EQ(s.HC, (std::array<float, 3>{7.5f, 8.5f, 9.5f}));
    EXPECT_EQ(console.count("    Data type not implemented ABCD"), c.refusals) << console.dump();
    EXPECT_EQ(console.lines.size(), static_cast<std::size_t>(c.refusals)) << console.dump();
  }
}

// O$: the index and four values in ppm, kept in ppt.
TEST(Records, OffsetsAreStoredPerGeometry) {
  FakeConsole console;
  Bench b;
  b.feed("O$ 2 100 -200 300 400");
  EXPECT_EQ(b.run.station.RtmOffsets[1], (std::array<float, 4>{0.1f, -0.2f, 0.3f, 0.4f}));
  EXPECT_TRUE(console.has(" Applying RTM offsets  2 100 -200 300 400")) << console.dump();
  // Outside 1..3: a console line, nothing changes.
  b.feed("O$ 4 1000 1000 1000 1000");
  b.feed("O$ 0 1000 1000 1000 1000");
  for (const auto& offsets : b.run.station.RtmOffsets) {
    for (float o : offsets) EXPECT_NE(o, 1.0f);
  }
  EXPECT_EQ(b.run.station.RtmOffsets[1], (std::array<float, 4>{0.1f, -0.2f, 0.3f, 0.4f}));
  EXPECT_TRUE(console.has(" *** O$ record ignored: geometry index " + test::rjust(4, 12))) << console.dump();
}

// AS$ of 21 columns: F5.3 voltage and F5.1 temperature; 12345 without a point
// reads 1234.5, above 1000 and so divided by 10.
TEST(Records, StatusRecordLayouts) {
  struct Case {
    std::string record;
    float voltage, temperature, pitch, roll;
  };
  const Case cases[] = {
      {"AS$101010 12.50 12345", 12.5f, 123.45f, 0.0f, 0.0f},
      {"AS$101010 12500  2345    150 -2500", 12.5f, 23.45f, 1.5f, -25.0f},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    Bench b;
    b.feed(c.record);
    EXPECT_FLOAT_EQ(b.run.station.Voltage, c.voltage) << c.record;
    EXPECT_FLOAT_EQ(b.run.station.Temperature, c.temperature) << c.record;
    EXPECT_FLOAT_EQ(b.run.station.Pitch, c.pitch) << c.record;
    EXPECT_FLOAT_EQ(b.run.station.Roll, c.roll) << c.record;
    EXPECT_EQ(b.run.station.Hour, 10);
    EXPECT_EQ(b.run.station.Second, 10);
  }
  FakeConsole console;
  Bench b;
  b.feed("AS$101010 12.50 12.3 9");
  EXPECT_TRUE(console.has(" S$ packet error:AS$101010 12.50 12.3 9")) << console.dump();
}

TEST(Records, T58KeepsAnglesAndOtherLengthsAreReported) {
  FakeConsole console;
  Bench b;
  apply_length_code(b.run.config, 1);
  compute_factors(b.run.config, 1, 1);
  b.run.station.Pitch = 3.5f;
  b.run.station.Roll = -1.5f;
  b.feed(test::t58("101010", 7, "CONV", {1, 2, 100, 200, 300, 400}));
  EXPECT_FLOAT_EQ(b.run.station.Pitch, 3.5f);
  EXPECT_FLOAT_EQ(b.run.station.Roll, -1.5f);
  EXPECT_EQ(b.run.station.StationNumber, 7);
  EXPECT_FLOAT_EQ(b.run.station.HC[0], 10.0f);
  // 80 columns: reported, readings as held.
  const std::string odd = test::t58("101011", 8, "CONV", {1, 2, 999, 999, 999, 999}) + "      123456789012345678901";
  b.feed(odd);
  EXPECT_TRUE(console.has(" T$ packet error: " + odd)) << console.dump();
  EXPECT_EQ(b.run.station.StationNumber, 7);
  EXPECT_FLOAT_EQ(b.run.station.HC[0], 10.0f);
}

TEST(Records, EmsRecordWithTooManyChannelsIsRejected) {
  FakeConsole console;
  Bench b;
  b.run.station.Hour = 1;
  b.feed("I$101010    0   0  50 12345  6 11111  22222  33333  44444  55555  66666");
  EXPECT_EQ(b.run.station.Hour, 1);
  EXPECT_EQ(b.run.station.ems_count, 0);
  EXPECT_TRUE(console.has(" *** I$ record ignored: channel count " + test::rjust(6, 12))) << console.dump();
}

}  // namespace
}  // namespace kal::xlat

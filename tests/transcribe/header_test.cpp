// Header records: identification, sampling frequency, comments, file headers.
#include "transcribe/header.h"

#include "common/fixed_text.h"
#include "transcribe/xlat_test_support.h"

namespace kal::xlat {
namespace {

using test::FakeConsole;

struct HeaderBench : test::RecordBench {
  void header(const std::string& record) {
    load(record);
    handle_header_record(run);
  }
};

// The identification text starts in column 11; "SW VERSION" in columns
// 34-43 marks the record, the version follows it.
TEST(Identification, HqModelSerialAndVersion) {
  FakeConsole console;
  HeaderBench b;
  b.header("C$100000 KALVOR-21HQ SN12345678 SW VERSION 5.1a");
  const Config& c = b.run.config;
  EXPECT_EQ(c.LengthCode, 215);  // 21H -> 215
  EXPECT_EQ(c.GeometryCount, 3);
  EXPECT_EQ(c.HcpSpacing, (std::array<float, 3>{0.5f, 1.0f, 2.0f}));
  EXPECT_EQ(c.PrpSpacing, (std::array<float, 3>{0.6f, 1.1f, 2.1f}));
  EXPECT_EQ(c.SerialNumber, "12345678");
  EXPECT_FLOAT_EQ(c.SoftwareVersion, 5.1f);
  EXPECT_EQ(c.SoftwareVersionSuffix, 'a');
  EXPECT_FALSE(c.SiblingInstrument);
  EXPECT_EQ(trimmed(c.ColumnHeading).size(), 105u);
  EXPECT_FLOAT_EQ(c.HcpFactor[2], 0.071061157f);  // 2.0 m
  EXPECT_EQ(b.run.station.Hour, 10);
  EXPECT_TRUE(console.has(" InstrumentID >KALVOR-21HQ SN12345678 SW VERSION 5.1a  ")) << console.dump();
}

TEST(Identification, NamePrefixes) {
  struct Case {
    std::string record;
    std::int32_t code;  // preset 42 stays when there is no known prefix
    bool sibling;
    bool missing_message;
  };
  const Case cases[] = {
      {"C$100000 pelors-421 SN00000001", 421, true, false},
      {"C$100000 PELOR-642  SN00000001", 642, true, false},
      {"C$100000 xKALVOR-4  SN00000001", 4, false, false},
      {"C$100000 kalvor-421 SN00000001", 42, false, true},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    HeaderBench b;
    b.run.config.LengthCode = 42;
    b.header(c.record);
    EXPECT_EQ(b.run.config.LengthCode, c.code) << c.record;
    EXPECT_EQ(b.run.config.SiblingInstrument, c.sibling) << c.record;
    EXPECT_EQ(console.has(" Missing name info in header string" + c.record), c.missing_message)
        << console.dump();
  }
}

TEST(Identification, UserOffsetsRecordIsIgnored) {
  FakeConsole console;
  HeaderBench b;
  b.header("C$000000 USER OFFSETS ENABLED");
  EXPECT_TRUE(console.lines.empty()) << console.dump();
  EXPECT_EQ(b.run.config.InstrumentId, std::string(40, ' '));
}

TEST(Identification, LetterInModelCodeSkipsRecord) {
  FakeConsole console;
  HeaderBench b;
  b.run.config.LengthCode = 42;
  b.header("C$100000 KALVOR-X1  SN00000001");
  EXPECT_EQ(b.run.config.LengthCode, 42);
  EXPECT_TRUE(console.has("*** Skipping this packet or station")) << console.dump();
}

TEST(SamplingFrequency, RateBetweenSampleAndHz) {
  struct Case {
    std::string record;
    std::string message;
    std::int32_t rate;
  };
  const Case cases[] = {
      {"C$100000 Sample   10Hz", " Sampling frequency is " + test::rjust(10, 12) + " Hz", 10},
      {"C$100000 Sample rate 5 Hz", "", 0},  // "rate " is not a number
      {"C$100000 Sample 12   Hz", " Sampling frequency is " + test::rjust(12, 12) + " Hz", 12},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    HeaderBench b;
    b.header(c.record);
    EXPECT_EQ(b.run.config.SampleRate, c.rate) << c.record;
    if (c.message.empty()) {
      EXPECT_TRUE(console.has("*** Skipping this packet or station")) << console.dump();
    } else {
      EXPECT_TRUE(console.has(c.message)) << console.dump();
    }
  }
}

// Comment records with the comment file open, as after a file header.
class Comments : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(folder.ready());
    ASSERT_TRUE(b.run.cmt.open(folder.file("c.CMT")));
  }

  FakeConsole console;
  test::TempDir folder;
  HeaderBench b;
};

TEST_F(Comments, NumberedOnceAndWrittenOnce) {
  b.header("C$100001 first note");
  EXPECT_EQ(b.run.station.CommentNumber, 1);
  b.header("C$100002 second note");
  EXPECT_EQ(b.run.station.CommentNumber, 2);
  b.header("C$100003 FIRST NOTE");  // the same text once upper-cased
  EXPECT_EQ(b.run.station.CommentNumber, 1);
  EXPECT_TRUE(b.run.output_used);
  b.run.cmt.close(Disposition::keep);
  EXPECT_EQ(test::read_lines(folder.file("c.CMT")),
            (std::vector<std::string>{"    1 FIRST NOTE      ", "    2 SECOND NOTE     "}));
  EXPECT_TRUE(console.has("Comment>first note       at:  10  0  1")) << console.dump();
  EXPECT_TRUE(console.has("Comment>FIRST NOTE       at:  10  0  3")) << console.dump();
}

TEST_F(Comments, HundredAndFirstTakesSlotHundred) {
  for (int k = 1; k <= 101; ++k) b.header("C$100000 NOTE " + std::to_string(k));
  EXPECT_EQ(b.run.station.CommentNumber, 100);
  EXPECT_EQ(b.run.config.CommentTable[99], "NOTE 101        ");
  b.run.cmt.close(Disposition::keep);
  const auto lines = test::read_lines(folder.file("c.CMT"));
  ASSERT_EQ(lines.size(), 101u);
  EXPECT_EQ(lines[99], "  100 NOTE 100        ");
  EXPECT_EQ(lines[100], "  100 NOTE 101        ");
}

TEST(FileHeader, LengthCodeAndFields) {
  struct Case {
    std::string record;
    std::int32_t code;
    std::int32_t geometries;
    float hcp1;
  };
  const Case cases[] = {
      {"H$101502 LINE0001 261208", 4, 1, 4.0f},      // blank length code
      {"H$101502 LINE0001 261208 abc", 4, 1, 4.0f},  // unreadable
      {"H$101502 LINE0001 261208 0", 4, 1, 4.0f},
      {"H$101502 LINE0001 261208 21", 21, 2, 1.0f},
      {"H$101502 LINE0001 261208   842  ", 842, 3, 2.0f},
  };
  for (const Case& c : cases) {
    FakeConsole console;
    HeaderBench b;
    b.load(c.record);
    EXPECT_FALSE(read_file_header(b.run).has_value()) << c.record;
    EXPECT_EQ(b.run.config.LengthCode, c.code) << c.record;
    EXPECT_EQ(b.run.config.GeometryCount, c.geometries) << c.record;
    EXPECT_FLOAT_EQ(b.run.config.HcpSpacing[0], c.hcp1) << c.record;
    EXPECT_EQ(b.run.survey_name, "LINE0001");
    EXPECT_EQ(b.run.config.Date1, 26);
    EXPECT_EQ(b.run.config.Date2, 12);
    EXPECT_EQ(b.run.config.Date3, 8);
    EXPECT_EQ(b.run.station.Hour, 10);
    EXPECT_EQ(b.run.station.Minute, 15);
    EXPECT_EQ(b.run.station.Second, 2);
    EXPECT_EQ(b.run.station.LineNumber, 1);
  }
}

TEST(FileHeader, PrototypeCode620) {
  FakeConsole console;
  HeaderBench b;
  b.load("H$101502 K62      261208 620");
  EXPECT_FALSE(read_file_header(b.run).has_value());
  EXPECT_FLOAT_EQ(b.run.config.ProtoScaleA, 0.44444445f);
  EXPECT_FLOAT_EQ(b.run.config.ProtoScaleB, 0.45176026f);
  EXPECT_EQ(b.run.survey_name, "K62");
  EXPECT_TRUE(console.has("***Prototype K-62 Configuration detected!***")) << console.dump();
}

TEST(FileHeader, UnreadableDateOrTimeIsFatal) {
  for (const std::string record : {"H$101502 LINE0001 26x208 1", "H$1015:2 LINE0001 261208 1"}) {
    FakeConsole console;
    HeaderBench b;
    b.load(record);
    const Stop stop = read_file_header(b.run);
    ASSERT_TRUE(stop.has_value()) << record;
    EXPECT_EQ(*stop, 2);
    EXPECT_TRUE(console.has(" *** Fatal read error in input at " + test::rjust(1, 12) + fixed(" " + record, 120)))
        << console.dump();
  }
}

TEST(GHeading, ColumnHeadingLine) {
  Config config;
  EXPECT_EQ(g_column_heading(config),
            "\\..STN.SP.LINE.LP..N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll"
            "......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode");
  apply_length_code(config, 15);
  EXPECT_EQ(g_column_heading(config),
            "\\..STN.SP.LINE.LP.HC5-mS/m.HI5-ppt.PC5-mS/m..PI5-ppt.HC1-mS/m.HI1-ppt.PC1-mS/m..PI1-ppt."
            ".N.HH.MM.SS.V.......T-K.....CN..Ptch...Roll"
            "......GPS_TIME..Lat..........Lon.........GPS_Alt.DMode");
}

}  // namespace
}  // namespace kal::xlat

// Speed of the formatted I/O layer on the shapes the transcription meets most:
// single F fields, whole XYZ station lines and the long T$ measurement record.
#include <benchmark/benchmark.h>

#include <cstdint>
#include <string>

#include "common/format.h"

namespace {

using namespace kal;

// A spread of magnitudes and signs so that no single digit count dominates.
constexpr double kValues[] = {12.5, -3.25, 0.004, 999.99, -0.125, 1234.5678, 0.1, -76.54321};
constexpr std::size_t kValueCount = sizeof(kValues) / sizeof(kValues[0]);

void BM_FixedField(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    std::string field = fmt::F(kValues[i], 9, 2);
    benchmark::DoNotOptimize(field);
    i = (i + 1) % kValueCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_FixedField);

void BM_GeneralFieldOfFloat(benchmark::State& state) {
  std::size_t i = 0;
  for (auto _ : state) {
    std::string field = fmt::G(static_cast<float>(kValues[i]), 15, 7);
    benchmark::DoNotOptimize(field);
    i = (i + 1) % kValueCount;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_GeneralFieldOfFloat);

constexpr fmt::Format kXyzLayout =
    "I6,I6,12F9.2,I2,2I3,F7.3,F7.3,F7.1,1X,I4,2F8.2,1X,I12,F12.6,1X,F12.6,1X,F7.1,1X,I2";

void BM_WriteXyzLine(benchmark::State& state) {
  std::int32_t station = 1;
  float conductivity = 12.5f;
  for (auto _ : state) {
    std::string line = fmt::write(
        kXyzLayout, {station, 1, conductivity, 0.25f, conductivity * 2, -0.5f, 3.0f, 0.75f, 4.5f, 1.0f, 5.25f,
                     -1.5f, 6.0f, 0.125f, 3, 14, 30, 15.250f, 12.345f, 23.4f, 7, 1.5f, -0.75f, 52215000,
                     45.123456, -75.654321, 123.4f, 4});
    benchmark::DoNotOptimize(line);
    ++station;
    conductivity += 0.01f;
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_WriteXyzLine);

constexpr fmt::Format kTRecordLayout = "3X,3I2,1X,I3,1X,I6,1X,A4,1X,6I6,1X,I5,1X,I5,1X,2I4";

void BM_ReadTRecord(benchmark::State& state) {
  const std::string record =
      "T$ 143015 250    101 CONV     -5    12  1234  -567    89     0 12345  2500  -12  34";
  std::int32_t h = 0, mi = 0, s = 0, ms = 0, station = 0, r[6] = {}, volts = 0, temp = 0, pitch = 0, roll = 0;
  std::string type;
  for (auto _ : state) {
    const bool ok = fmt::read(record, kTRecordLayout,
                              {h, mi, s, ms, station, type, r[0], r[1], r[2], r[3], r[4], r[5], volts, temp,
                               pitch, roll});
    benchmark::DoNotOptimize(ok);
    benchmark::DoNotOptimize(station);
  }
  state.SetItemsProcessed(state.iterations());
}
BENCHMARK(BM_ReadTRecord);

}  // namespace

BENCHMARK_MAIN();

// What one transcription leaves to the next within one run of the program:
// the UTM zone chosen, the end-of-input flag that skips the next pre-pass,
// the pre-pass fixes, the reference-seen flag and the length of the last
// output name. The caller owns it and hands the same object to each
// transcription of one RAW file; nothing reaches it from elsewhere.
#pragma once

#include <cstdint>
#include <vector>

namespace kal::xlat {

struct Persistent {
  std::int32_t utm_zone = 0;       // chosen once per process; 0: not yet
  bool end_of_input = false;       // the last call ended at the end of its RAW file
  bool ref_seen = false;           // an R$ record was met: keep the RAW-record copy
  std::int32_t out_name_len = 0;   // 0 until the first file header of the process
  std::vector<double> fix_latitude;
  std::vector<double> fix_longitude;
  std::vector<float> fix_altitude;
};

}  // namespace kal::xlat

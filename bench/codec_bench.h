#pragma once
// Item 1 of the table: building the largest request frame and reading the largest answer,
// each beside a plain copy of the same bytes, through Google Benchmark.

#include <cstddef>
#include <string>

namespace kestova::bench {

struct CodecFigure {
  std::size_t bytes = 0;          // per frame
  double ns_per_frame = 0.0;
  double NsPerByte() const { return bytes == 0 ? 0.0 : ns_per_frame / static_cast<double>(bytes); }
  double BytesPerSecond() const { return ns_per_frame <= 0.0 ? 0.0 : static_cast<double>(bytes) * 1e9 / ns_per_frame; }
};

struct CodecFigures {
  bool measured = false;
  CodecFigure build_block_write;  // BuildFrame of a 480-word block write, sum check on
  CodecFigure build_floor;        // a plain copy of that frame's wire bytes
  CodecFigure read_answer;        // AnswerReader over a 1940-byte answer, every data byte 0x10
  CodecFigure read_floor;         // a plain copy of those 1940 bytes
};

// Runs the four benchmarks (Google Benchmark's command-line flags apply when
// benchmark::Initialize has seen them). Throws std::runtime_error when one fails.
CodecFigures RunCodecBenchmarks();

}  // namespace kestova::bench

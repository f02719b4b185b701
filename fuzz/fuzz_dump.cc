// The dump command's decoders and listings on arbitrary bytes. The first byte picks the output
// kind (records, grid, line), text or JSON and the step of the plan listing; the rest is the file.
// What decodes must encode back to the same bytes.
#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>

#include "fuzz/fuzz_compile.h"
#include "format/decode.h"
#include "tools/dump.h"
#include "format/outputs.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace compactor;
  if (size == 0) return 0;
  const unsigned selector = data[0];
  const bool json = (selector / 3) % 2 != 0;
  const int every = 1 + static_cast<int>((selector / 6) % 8);
  std::string_view bytes(reinterpret_cast<const char*>(data) + 1, size - 1);
  DecodeError error;
  switch (selector % 3) {
    case 0: {
      auto items = decode_records(bytes, error);
      if (!items) {
        FUZZ_CHECK(error.offset <= bytes.size() && !error.reason.empty());
        break;
      }
      Model m;
      for (size_t i = 0; i < items->size(); ++i) m.items[i] = (*items)[i];
      FUZZ_CHECK(encode_record_output(m) == bytes);
      FUZZ_CHECK(!dump_records(*items, bytes.size(), json).empty());
      station_indexes(*items);
      for (int i = 0; i < kItemCount; ++i) FUZZ_CHECK(!record_role(*items, i).empty());
      break;
    }
    case 1: {
      auto cells = decode_grid(bytes, error);
      if (!cells) {
        FUZZ_CHECK(error.offset <= bytes.size() && !error.reason.empty());
        break;
      }
      Model m;
      m.track_grid = *cells;
      FUZZ_CHECK(encode_grid_output(m) == bytes);
      // The listing streamed from the bytes is the listing of the decoded cells.
      auto grid = check_grid(bytes, error);
      FUZZ_CHECK(grid.has_value());
      std::string streamed;
      TextSink sink;
      sink.write = [&streamed](std::string_view text) {
        streamed += text;
        return true;
      };
      FUZZ_CHECK(dump_grid(*grid, json, sink));
      FUZZ_CHECK(streamed == dump_grid(*cells, bytes.size(), json));
      break;
    }
    default: {
      auto plan = decode_line(bytes, error);
      if (!plan) {
        FUZZ_CHECK(error.offset <= bytes.size() && !error.reason.empty());
        break;
      }
      FUZZ_CHECK(plan->x.size() == plan->y.size());
      Model m;
      create_profile(m, static_cast<int32_t>(plan->x.size()) - 1);
      for (const TaggedValue& v : plan->x) m.plan.x.append(v);
      for (const TaggedValue& v : plan->y) m.plan.y.append(v);
      FUZZ_CHECK(encode_line_output(m) == bytes);
      auto line = check_line(bytes, error);
      FUZZ_CHECK(line.has_value() && line->shape.points == plan->x.size());
      TextSink sink;
      sink.write = [](std::string_view) { return true; };
      FUZZ_CHECK(dump_plan(*line, every, json, sink));
      break;
    }
  }
  return 0;
}

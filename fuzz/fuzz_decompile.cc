// decompile on damaged outputs: the outputs of a small scenario with every record kind, changed
// by the input's edits. Each edit is six bytes: which output (the low two bits: records, grid,
// line; the top bit cuts the file there instead), a 32-bit offset (modulo the file's size) and
// the new byte. The first byte of the input, when odd, leaves the line output out. Whatever the
// damage, decompile must return, and when it names nothing its sources must compile back to the
// very bytes it was given.
#include <cstddef>
#include <cstdint>
#include <string>

#include "compiler/compile.h"
#include "decompiler/decompile.h"
#include "format/outputs.h"
#include "fuzz/fuzz_compile.h"

namespace {

using namespace compactor;

constexpr const char* kLine =
    "[generale]\r\nlunghezza percorso, 20000\r\nprogressiva chilometrica due, 100, 1250, 1\r\n"
    "sfondo tre, 7\r\nripetizione segnali 4 codici, 650, 10000\r\n[curve]\r\n"
    "curvad3, 1000, 500\r\ncurvas6, 1500, 50\r\n[pendenze]\r\npendenza, 0, 5\r\n"
    "pendenza, 7000, -3\r\n[montagne]\r\nmontagna, 2000, 2960, 2\r\n"
    "montagna, 3124, 4000, 12\r\n[cartelli]\r\nindicatori_vmax, 800, 140, 145, 155, 1, 60, 5, 0, "
    "3\r\n"
    "cartello_indicatore, 900, (UNO)(DUE)\r\n[fine]\r\n";
constexpr const char* kTrain =
    "[generale]\r\nnumero vetture, 7\r\npercentuale massa frenata, 90\r\nsabbia, 3\r\n"
    "orologio, 8, 30, 0\r\n[aderenze]\r\naderenza, 2000, 70\r\n[vel_limite]\r\n"
    "velocita, 0, 30\r\nvelocita, 5000, 155\r\n[stazioni]\r\n"
    "stazione, 1000, 12, 600, 0, 1, 1, 1,1,0, 4,1,1, 0, 8,0,0, PRIMA\r\n"
    "stazione, 18000, 6, 400, 0, 1, 0, 1,1,0, 4,1,1, 0, 9,30,0, SECONDA\r\n"
    "[rallentamenti]\r\nrallentamento, 8000, 40, 600, 3, 1, 2\r\n[segnali]\r\n"
    "segnale, 5000, 1, 3,1,0, 1, 2, 3,1,0, 40\r\nsegnale, 6500, 2, 4,0,0, 0, 1, 2,0,0, 300\r\n"
    "[codici]\r\nabbattimento, 3000, 0\r\nabbattimento, 6400, 270\r\n[fine]\r\n";

const CompiledOutputs& undamaged() {
  static const CompiledOutputs outputs = [] {
    Model m;
    m.line_id = "QUELDRANO 2";
    m.train_number = "555";
    Sources s;
    s.line = {fuzz::kLineName, std::string(kLine), false};
    s.train = {fuzz::kTrainName, std::string(kTrain), false};
    FUZZ_CHECK(compile_model(m, true, s) == PassOutcome::kReady && m.error_code == 0);
    return CompiledOutputs{m.line_id, m.train_number, encode_record_output(m),
                           encode_grid_output(m), encode_line_output(m)};
  }();
  return outputs;
}

void apply_edit(CompiledOutputs& out, const uint8_t* e) {
  std::optional<std::string>* files[] = {&out.records, &out.grid, &out.line, &out.grid};
  std::optional<std::string>& file = *files[e[0] & 3];
  if (!file || file->empty()) return;
  const uint32_t at =
      (uint32_t{e[1]} | uint32_t{e[2]} << 8 | uint32_t{e[3]} << 16 | uint32_t{e[4]} << 24) %
      file->size();
  if (e[0] & 0x80) {
    file->resize(at);
  } else {
    (*file)[at] = static_cast<char>(e[5]);
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  CompiledOutputs damaged = undamaged();
  if (size > 0 && (data[0] & 1) != 0) damaged.line.reset();
  for (size_t i = 1; i + 6 <= size && i < 1 + 6 * 16; i += 6) apply_edit(damaged, data + i);
  const bool with_plan = damaged.line.has_value();
  Decompiled d = decompile(damaged);
  if (!d.unrecovered.empty()) return 0;
  // Nothing named: the sources give back every byte.
  Model m;
  m.line_id = damaged.line_id;
  m.train_number = damaged.train_number;
  Sources s;
  s.line = {fuzz::kLineName, d.line_source, false};
  s.train = {fuzz::kTrainName, d.train_source, false};
  FUZZ_CHECK(compile_model(m, with_plan, s) == PassOutcome::kReady && m.error_code == 0);
  FUZZ_CHECK(encode_record_output(m) == *damaged.records);
  FUZZ_CHECK(encode_grid_output(m) == *damaged.grid);
  FUZZ_CHECK(!with_plan || encode_line_output(m) == *damaged.line);
  return 0;
}

// In-process benchmarks: the writers, the compile of their sources and of the large generated
// scenario, and the three encoders. Files are not touched: bench/run.sh times whole runs.
#include <benchmark/benchmark.h>

#include <cstdlib>
#include <string>
#include <utility>
#include <vector>

#include "bench/generate.h"
#include "compiler/compiler.h"
#include "model/model.h"
#include "format/outputs.h"
#include "compiler/compile.h"
#include "scenario/texts.h"

namespace compactor {
namespace {

struct SourceTexts {
  std::string line;
  std::string train;
};

const SourceTexts& writers_sources() {
  static const SourceTexts texts{text_from_table(line_source_table()), text_from_table(train_source_table())};
  return texts;
}

const SourceTexts& large_sources() {
  static const SourceTexts texts = [] {
    bench::GeneratedSources g = bench::generate_scenario(bench::ScenarioShape{});
    return SourceTexts{std::move(g.line), std::move(g.train)};
  }();
  return texts;
}

// One whole compile, as the build run does it after reading the two files.
void compile(const SourceTexts& texts, int32_t with_plan, Model& m) {
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  Sources s;
  s.line = SourceFile{"line", texts.line, false};
  s.train = SourceFile{"train", texts.train, false};
  PassOutcome outcome = compile_model(m, with_plan, s);
  if (outcome != PassOutcome::kReady || m.error_code != 0) std::abort();
}

const Model& compiled(const SourceTexts& texts) {
  // One model per source set, compiled once with the plan.
  static std::vector<std::pair<const SourceTexts*, Model*>> cache;
  for (auto& [key, model] : cache) {
    if (key == &texts) return *model;
  }
  Model* m = new Model;
  compile(texts, 1, *m);
  cache.emplace_back(&texts, m);
  return *m;
}

const SourceTexts& scenario(int64_t which) {
  return which == 0 ? writers_sources() : large_sources();
}

// Argument 0: the writers' scenario, 1: the large one; second argument: with_plan.
void BM_Compile(benchmark::State& state) {
  const SourceTexts& texts = scenario(state.range(0));
  for (auto _ : state) {
    Model m;
    compile(texts, static_cast<int32_t>(state.range(1)), m);
    benchmark::DoNotOptimize(m.track_grid.data());
  }
  state.SetBytesProcessed(state.iterations() *
                          static_cast<int64_t>(texts.line.size() + texts.train.size()));
}
BENCHMARK(BM_Compile)
    ->ArgNames({"large", "plan"})
    ->Args({0, 1})
    ->Args({0, 0})
    ->Args({1, 1})
    ->Args({1, 0})
    ->Unit(benchmark::kMicrosecond);

template <std::vector<std::string> (*Table)()>
void BM_Writer(benchmark::State& state) {
  size_t bytes = 0;
  for (auto _ : state) {
    std::string text = text_from_table(Table());
    bytes = text.size();
    benchmark::DoNotOptimize(text.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Writer<line_source_table>)->Name("BM_Writer/linea")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Writer<train_source_table>)->Name("BM_Writer/treno")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Writer<notes_table>)->Name("BM_Writer/note")->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Writer<slow_order_form_table>)
    ->Name("BM_Writer/rallentamenti")
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Writer<timetable_card_table>)->Name("BM_Writer/scheda")->Unit(benchmark::kMicrosecond);

template <std::string (*Encode)(const Model&)>
void BM_Encode(benchmark::State& state) {
  const Model& m = compiled(scenario(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    std::string out = Encode(m);
    bytes = out.size();
    benchmark::DoNotOptimize(out.data());
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_Encode<encode_line_output>)
    ->Name("BM_Encode/line_output")
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode<encode_record_output>)
    ->Name("BM_Encode/record_output")
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);
BENCHMARK(BM_Encode<encode_grid_output>)
    ->Name("BM_Encode/grid_output")
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

// The line output as the build run writes it: in pieces, none held (the file write left out).
void BM_EncodeLinePieces(benchmark::State& state) {
  const Model& m = compiled(scenario(state.range(0)));
  size_t bytes = 0;
  for (auto _ : state) {
    bytes = 0;
    encode_line_output_in_pieces(m, [&bytes](const char* data, size_t size) {
      benchmark::DoNotOptimize(data);
      bytes += size;
      return true;
    });
  }
  state.SetBytesProcessed(state.iterations() * static_cast<int64_t>(bytes));
}
BENCHMARK(BM_EncodeLinePieces)
    ->Name("BM_Encode/line_output_in_pieces")
    ->ArgName("large")
    ->Arg(0)
    ->Arg(1)
    ->Unit(benchmark::kMicrosecond);

// What a build run computes in memory: the compile with the plan, then the line output in
// pieces. The plan's doubles are computed at the compile (where each stretch ends) and again for
// each half as the pieces are made; no block as long as the line output is touched.
void BM_CompileAndLinePieces(benchmark::State& state) {
  const SourceTexts& texts = scenario(state.range(0));
  for (auto _ : state) {
    Model m;
    compile(texts, 1, m);
    encode_line_output_in_pieces(m, [](const char* data, size_t) {
      benchmark::DoNotOptimize(data);
      return true;
    });
  }
}
BENCHMARK(BM_CompileAndLinePieces)->ArgName("large")->Arg(0)->Arg(1)->Unit(benchmark::kMicrosecond);

void BM_Generate(benchmark::State& state) {
  for (auto _ : state) {
    bench::GeneratedSources g = bench::generate_scenario(bench::ScenarioShape{});
    benchmark::DoNotOptimize(g.line.data());
  }
}
BENCHMARK(BM_Generate)->Unit(benchmark::kMillisecond);

}  // namespace
}  // namespace compactor

BENCHMARK_MAIN();

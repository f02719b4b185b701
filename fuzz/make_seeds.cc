// Writes the seed inputs that come from the writers' own sources into DIR/line, DIR/train,
// DIR/both, DIR/dump, DIR/lsp and DIR/syntax (the directories must exist), so that the seeds follow the
// writers' text; and into DIR/decompile the two undamaged starts, with and without the line output.
#include <cstdio>
#include <nlohmann/json.hpp>
#include <string>

#include "compiler/compiler.h"
#include "format/outputs.h"
#include "compiler/compile.h"
#include "scenario/texts.h"

namespace {

bool write(const std::string& path, const std::string& bytes) {
  std::FILE* f = std::fopen(path.c_str(), "wb");
  if (f == nullptr) return false;
  bool ok = std::fwrite(bytes.data(), 1, bytes.size(), f) == bytes.size();
  return std::fclose(f) == 0 && ok;
}

// A language server session on the writers' sources, as fuzz_lsp reads it (behind the byte
// that sets the size of its pieces): the editor opens both sources, asks for everything the
// server offers, changes a keyword, and ends the session.
std::string lsp_session(const std::string& line, const std::string& train) {
  using nlohmann::json;
  const std::string line_uri = "file:///s/QUELDRANO%202_linea.txt";
  const std::string train_uri = "file:///s/QUELDRANO%202_555-.txt";
  auto at = [](const std::string& uri, int l, int c) {
    return json{{"textDocument", {{"uri", uri}}}, {"position", {{"line", l}, {"character", c}}}};
  };
  const json range = {{"start", {{"line", 12}, {"character", 0}}},
                      {"end", {{"line", 12}, {"character", 4}}}};
  const json messages[] = {
      {{"id", 1}, {"method", "initialize"}, {"params", {{"capabilities", json::object()}}}},
      {{"method", "initialized"}, {"params", json::object()}},
      {{"method", "textDocument/didOpen"},
       {"params", {{"textDocument", {{"uri", line_uri}, {"version", 1}, {"text", line}}}}}},
      {{"method", "textDocument/didOpen"},
       {"params", {{"textDocument", {{"uri", train_uri}, {"version", 1}, {"text", train}}}}}},
      {{"id", 2}, {"method", "textDocument/hover"}, {"params", at(line_uri, 12, 12)}},
      {{"id", 3}, {"method", "textDocument/completion"}, {"params", at(train_uri, 3, 2)}},
      {{"id", 4}, {"method", "textDocument/documentSymbol"}, {"params", at(train_uri, 0, 0)}},
      {{"method", "textDocument/didChange"},
       {"params", {{"textDocument", {{"uri", line_uri}, {"version", 2}}},
                   {"contentChanges", {{{"range", range}, {"text", "pendenz"}}}}}}},
      {{"id", 5}, {"method", "textDocument/codeAction"},
       {"params", {{"textDocument", {{"uri", line_uri}}}, {"range", range}, {"context", json::object()}}}},
      {{"id", 6}, {"method", "shutdown"}},
      {{"method", "exit"}},
  };
  std::string stream(1, '\x3f');  // pieces of 64 bytes
  for (json m : messages) {
    m["jsonrpc"] = "2.0";
    std::string body = m.dump();
    stream += "Content-Length: " + std::to_string(body.size()) + "\r\n\r\n" + body;
  }
  return stream;
}

}  // namespace

int main(int argc, char** argv) {
  if (argc != 2) {
    std::fprintf(stderr, "usage: make_seeds DIR\n");
    return 2;
  }
  std::string dir = argv[1];
  std::string line = compactor::text_from_table(compactor::line_source_table());
  std::string train = compactor::text_from_table(compactor::train_source_table());
  // The outputs of the writers' scenario, behind the byte that makes fuzz_dump read them as
  // records (0), grid (1) or line output (2). The grid and the plan are cut to their first
  // metres: the fuzzer works on small inputs.
  compactor::Model m;
  m.line_id = "QUELDRANO 2";
  m.train_number = "555";
  compactor::Sources s;
  s.line.name = compactor::line_source_name(m);
  s.line.bytes = line;
  s.train.name = compactor::train_source_name(m);
  s.train.bytes = train;
  if (compactor::compile_model(m, 1, s) != compactor::PassOutcome::kReady) {
    std::fprintf(stderr, "make_seeds: the writers' scenario does not compile\n");
    return 1;
  }
  const std::string records = compactor::encode_record_output(m);
  const std::string grid = compactor::encode_grid_output(m).substr(0, 400 * compactor::kCellBytes);
  compactor::Model start;
  compactor::create_profile(start, 399);
  for (size_t i = 0; i < start.plan.x.points(); ++i) {
    start.plan.x.append(m.plan.x.at(i));
    start.plan.y.append(m.plan.y.at(i));
  }
  const std::string plan = compactor::encode_line_output(start);

  bool ok = write(dir + "/line/writers_line.txt", line) &&
            write(dir + "/train/writers_train.txt", train) &&
            write(dir + "/both/writers_both.txt", line + "\n#@#\n" + train) &&
            write(dir + "/dump/writers_records", std::string(1, '\0') + records) &&
            write(dir + "/dump/writers_grid", std::string(1, '\1') + grid) &&
            write(dir + "/dump/writers_line", std::string(1, '\2') + plan) &&
            write(dir + "/lsp/writers_session", lsp_session(line, train)) &&
            write(dir + "/syntax/writers_line.txt", line) &&
            write(dir + "/syntax/writers_train.txt", train) &&
            write(dir + "/decompile/undamaged", std::string(1, '\0')) &&
            write(dir + "/decompile/without_line", std::string(1, '\1'));
  if (!ok) {
    std::perror(dir.c_str());
    return 1;
  }
  return 0;
}

// compactor lsp: the message framing, the protocol state machine, and what the server says about
// the sources (diagnostics, hover, completion, symbols, quick fixes), driven as an editor would.
#include <gtest/gtest.h>

#include <algorithm>
#include <map>
#ifndef _WIN32
#include <sys/stat.h>
#endif
#include <nlohmann/json.hpp>
#include <string>
#include <vector>

#include "tests/test_support.h"
#include "tools/check.h"
#include "tools/lsp_features.h"
#include "tools/lsp_framing.h"
#include "tools/lsp_outline.h"
#include "tools/lsp_server.h"
#include "tools/lsp_text.h"

namespace compactor {
namespace {

using nlohmann::json;
using test::SourceText;

// --- Framing -----------------------------------------------------------------------------------

// What a reader makes of a stream fed in pieces of `piece` bytes: the bodies, and "!" for each
// stretch of bytes passed over.
std::vector<std::string> frames_of(const std::string& stream, size_t piece) {
  lsp::MessageReader reader;
  std::vector<std::string> seen;
  for (size_t at = 0; at < stream.size(); at += piece) {
    reader.feed(std::string_view(stream).substr(at, piece));
    while (std::optional<lsp::Frame> f = reader.next()) {
      seen.push_back(f->is_message ? f->body : "!");
    }
  }
  return seen;
}

TEST(LspFraming, FindsEveryMessageWhateverThePiecesAndAfterGarbage) {
  const std::string a = lsp::frame_message(R"({"a":1})");
  const std::string b = lsp::frame_message(R"({"b":"é\r\n"})");
  struct Case {
    const char* what;
    std::string stream;
    std::vector<std::string> frames;
  };
  const Case cases[] = {
      {"two messages", a + b, {R"({"a":1})", R"({"b":"é\r\n"})"}},
      {"other headers, any case",
       "Content-Type: application/vscode-jsonrpc; charset=utf-8\r\ncontent-length: 2\r\n\r\n{}",
       {"{}"}},
      {"garbage before a header", "hello" + a, {"!", R"({"a":1})"}},
      {"garbage block", "hello\r\n\r\n" + a, {"!", R"({"a":1})"}},
      {"no length", "Content-Type: x\r\n\r\n" + a, {"!", R"({"a":1})"}},
      {"length not a number", "Content-Length: 1e3\r\n\r\n" + a, {"!", R"({"a":1})"}},
      {"length too large", "Content-Length: 99999999999\r\n\r\n" + a, {"!", R"({"a":1})"}},
      {"header block too long",
       std::string(lsp::kMaxHeaderBytes + 10, 'x') + a,
       {"!", R"({"a":1})"}},
      {"empty body", "Content-Length: 0\r\n\r\n" + a, {"", R"({"a":1})"}},
  };
  for (const Case& c : cases) {
    for (size_t piece : {c.stream.size(), size_t{1}, size_t{7}}) {
      std::vector<std::string> got = frames_of(c.stream, piece);
      // Garbage fed byte by byte may be passed over in several stretches; its message survives.
      if (piece != c.stream.size()) {
        got.erase(std::unique(got.begin(), got.end()), got.end());
      }
      EXPECT_EQ(got, c.frames) << c.what << ", pieces of " << piece;
    }
  }
}

TEST(LspFraming, WaitsForTheWholeBody) {
  lsp::MessageReader reader;
  reader.feed("Content-Length: 10\r\n\r\n{\"a\":");
  EXPECT_FALSE(reader.next().has_value());
  reader.feed("1234}");
  std::optional<lsp::Frame> f = reader.next();
  ASSERT_TRUE(f && f->is_message);
  EXPECT_EQ(f->body, R"({"a":1234})");
  EXPECT_EQ(reader.pending(), 0u);
}

// --- Text positions ----------------------------------------------------------------------------

TEST(LspText, PositionsCountUtf16UnitsOrBytesAndLoneCrEndsALine) {
  // Line 1 holds "è" (2 bytes, 1 unit) and "😀" (4 bytes, 2 units); a lone CR ends line 2.
  const std::string text = "ab\r\nxè😀y\rz\nlast";
  lsp::LineIndex lines(text);
  ASSERT_EQ(lines.line_count(), 4u);
  const int64_t y = static_cast<int64_t>(text.find('y'));
  EXPECT_EQ(lines.position_of(y, lsp::PositionEncoding::kUtf16), (lsp::Position{1, 4}));
  EXPECT_EQ(lines.position_of(y, lsp::PositionEncoding::kUtf8), (lsp::Position{1, 7}));
  EXPECT_EQ(lines.offset_of({1, 4}, lsp::PositionEncoding::kUtf16), y);
  EXPECT_EQ(lines.offset_of({2, 0}, lsp::PositionEncoding::kUtf16),
            static_cast<int64_t>(text.find('z')));
  EXPECT_EQ(lines.offset_of({3, 99}, lsp::PositionEncoding::kUtf16),
            static_cast<int64_t>(text.size()));
  EXPECT_EQ(lines.line_text(1), "xè😀y");
  // "€" takes 3 bytes and 1 unit.
  const std::string euro = "€ 5,x";
  const int64_t x = static_cast<int64_t>(euro.find('x'));
  EXPECT_EQ(lsp::LineIndex(euro).position_of(x, lsp::PositionEncoding::kUtf16),
            (lsp::Position{0, 4}));
  EXPECT_EQ(lsp::LineIndex(euro).position_of(x, lsp::PositionEncoding::kUtf8),
            (lsp::Position{0, 6}));
}

TEST(LspText, AppliesRangeChangesAndFixesLoneCrs) {
  std::string text = "montagan, 1\r\npendenza, 0";
  lsp::apply_change(text, {lsp::Range{{0, 6}, {0, 8}}, "na"}, lsp::PositionEncoding::kUtf16);
  EXPECT_EQ(text, "montagna, 1\r\npendenza, 0");
  lsp::apply_change(text, {lsp::Range{{1, 10}, {1, 11}}, "50\r\n[fine]"},
                    lsp::PositionEncoding::kUtf16);
  EXPECT_EQ(text, "montagna, 1\r\npendenza, 50\r\n[fine]");

  std::string mac = "a\rb\r\nc\r";
  std::vector<lsp::TextEdit> edits = lsp::lone_cr_edits(mac, lsp::PositionEncoding::kUtf16);
  ASSERT_EQ(edits.size(), 2u);
  // Applied from the last to the first, as an editor applies edits of one version.
  for (auto e = edits.rbegin(); e != edits.rend(); ++e) {
    lsp::apply_change(mac, {e->range, e->new_text}, lsp::PositionEncoding::kUtf16);
  }
  EXPECT_EQ(mac, "a\r\nb\r\nc\r\n");
}

TEST(LspText, FileUrisAndPaths) {
  EXPECT_EQ(lsp::path_of_uri("file:///work/my%20line/QUELDRANO%202_linea.txt"),
            "/work/my line/QUELDRANO 2_linea.txt");
  EXPECT_EQ(lsp::path_of_uri("file:///c%3A/lines/x.txt"), "c:/lines/x.txt");
  EXPECT_EQ(lsp::path_of_uri("untitled:Untitled-1"), std::nullopt);
  EXPECT_EQ(lsp::uri_of_path("/work/QUELDRANO 2_555-.txt"), "file:///work/QUELDRANO%202_555-.txt");
  for (const char* path : {"/work/my line/QUELDRANO 2_555-.txt", "/a/è%#?.txt"}) {
    EXPECT_EQ(lsp::path_of_uri(lsp::uri_of_path(path)), path);
  }
}

// A NUL would end the path where the system reads it: "/etc/passwd%00_linea.txt" would be taken for
// a line source and open /etc/passwd. Such a URI names no file.
TEST(LspText, AUriWhosePathHoldsANulNamesNoFile) {
  EXPECT_EQ(lsp::path_of_uri("file:///etc/passwd%00_linea.txt"), std::nullopt);
  EXPECT_EQ(lsp::path_of_uri(std::string("file:///etc/passwd\0_linea.txt", 30)), std::nullopt);
  EXPECT_EQ(lsp::path_of_uri("file:///etc/x%01_linea.txt"), "/etc/x\x01_linea.txt");
}

// --- A client of the server ----------------------------------------------------------------------

const std::string kDir = "/scenario";
const std::string kLinePath = kDir + "/" + test::kLineSource;
const std::string kTrainPath = kDir + "/" + test::kTrainSource;
const std::string kLineUri = lsp::uri_of_path(kLinePath);
const std::string kTrainUri = lsp::uri_of_path(kTrainPath);

// Drives a server as an editor does, over a disk held in memory.
class Client {
 public:
  using Disk = std::map<std::string, std::string>;
  explicit Client(Disk disk = {}) : disk_(std::move(disk)), server_(access()) {}

  // Sends a request and returns its response; notifications sent with it are kept.
  json request(const std::string& method, const json& params) {
    int id = ++last_id_;
    json response;
    for (json& m : send({{"jsonrpc", "2.0"}, {"id", id}, {"method", method}, {"params", params}})) {
      if (m.contains("id") && m["id"] == id) response = std::move(m);
    }
    return response;
  }
  void notify(const std::string& method, const json& params) {
    send({{"jsonrpc", "2.0"}, {"method", method}, {"params", params}});
  }
  std::vector<json> send(const json& message) { return send_body(message.dump()); }
  std::vector<json> send_body(std::string_view body) { return parsed(server_.receive(body)); }
  std::vector<json> flush() { return parsed(server_.flush()); }

  void initialize(const json& capabilities = json::object()) {
    ASSERT_TRUE(request("initialize", {{"capabilities", capabilities}}).contains("result"));
    notify("initialized", json::object());
  }
  void open(const std::string& uri, const std::string& text) {
    notify("textDocument/didOpen",
           {{"textDocument",
             {{"uri", uri}, {"languageId", "compactor"}, {"version", 1}, {"text", text}}}});
  }
  void change(const std::string& uri, const json& changes) {
    notify("textDocument/didChange", {{"textDocument", {{"uri", uri}, {"version", ++version_}}},
                                      {"contentChanges", changes}});
  }
  json at(const std::string& method, const std::string& uri, lsp::Position p) {
    return request(method, {{"textDocument", {{"uri", uri}}}, {"position", lsp::to_json(p)}});
  }

  lsp::Server& server() { return server_; }
  std::vector<json> notifications;  // every notification the server sent
  int reads = 0;                    // files read from the disk

 private:
  lsp::FileAccess access() {
    lsp::FileAccess files;
    files.read = [this](const std::string& path) -> std::optional<std::string> {
      ++reads;
      auto it = disk_.find(path);
      return it == disk_.end() ? std::nullopt : std::optional<std::string>(it->second);
    };
    files.list = [this](const std::string& dir) {
      std::vector<std::string> names;
      for (const auto& [path, bytes] : disk_) {
        if (lsp::directory_of(path) == dir) names.push_back(lsp::file_name_of(path));
      }
      return names;
    };
    return files;
  }
  std::vector<json> parsed(const std::vector<std::string>& bodies) {
    std::vector<json> out;
    for (const std::string& b : bodies) {
      out.push_back(json::parse(b));
      if (!out.back().contains("id")) notifications.push_back(out.back());
    }
    return out;
  }

  std::map<std::string, std::string> disk_;
  lsp::Server server_;
  int last_id_ = 0;
  int version_ = 1;
};

// The diagnostics published for each URI by a batch of messages.
std::map<std::string, std::vector<json>> published(const std::vector<json>& messages) {
  std::map<std::string, std::vector<json>> by_uri;
  for (const json& m : messages) {
    if (m.value("method", "") != "textDocument/publishDiagnostics") continue;
    by_uri[m["params"]["uri"]].push_back(m["params"]["diagnostics"]);
  }
  return by_uri;
}

// The position of the first `needle` on or after the first line that begins with `line_start`,
// plus `shift` characters (the sources are ASCII: a byte is a character).
lsp::Position position_of(const std::string& text, const std::string& line_start,
                          const std::string& needle, int64_t shift = 0) {
  size_t line_at = text.rfind(line_start, 0) == 0 ? 0 : text.find("\n" + line_start);
  EXPECT_NE(line_at, std::string::npos) << line_start;
  size_t at = text.find(needle, line_at);
  EXPECT_NE(at, std::string::npos) << needle;
  lsp::Position p =
      lsp::LineIndex(text).position_of(static_cast<int64_t>(at), lsp::PositionEncoding::kUtf16);
  p.character += shift;
  return p;
}

// The README's broken scenario: a misspelt tunnel keyword in the line source, and a slow order
// that ends in the cell of a later signal (error 16) in the train source.
std::string broken_line() {
  return SourceText::default_line().replace("montagna,   78000", "montagan,   78000").text();
}
std::string broken_train() {
  return SourceText::default_train()
      .insert_before("rallentamento,  119250", {"rallentamento,   52000,    60, 1500, 0,  1,  0"})
      .text();
}

// --- Lifecycle and robustness ------------------------------------------------------------------

TEST(LspServer, InitializesShutsDownAndExitsWithStatusZero) {
  Client c;
  json early = c.request("textDocument/hover", json::object());
  EXPECT_EQ(early["error"]["code"], -32002);
  json init = c.request("initialize", {{"capabilities", json::object()}});
  const json& caps = init["result"]["capabilities"];
  EXPECT_EQ(caps["textDocumentSync"]["change"], 2);
  EXPECT_EQ(caps["positionEncoding"], "utf-16");
  EXPECT_TRUE(caps["hoverProvider"].get<bool>());
  EXPECT_EQ(c.request("initialize", {{"capabilities", json::object()}})["error"]["code"], -32600);
  EXPECT_TRUE(c.request("shutdown", nullptr)["result"].is_null());
  EXPECT_EQ(c.request("textDocument/documentSymbol", json::object())["error"]["code"], -32600);
  EXPECT_FALSE(c.server().exited());
  c.notify("exit", nullptr);
  EXPECT_TRUE(c.server().exited());
  EXPECT_EQ(c.server().exit_status(), 0);

  Client abrupt;
  abrupt.initialize();
  abrupt.notify("exit", nullptr);
  EXPECT_TRUE(abrupt.server().exited());
  EXPECT_EQ(abrupt.server().exit_status(), 1);
}

// The server counts positions in UTF-8 bytes when the client offers that, else in UTF-16 units.
TEST(LspServer, PositionEncodingFollowsWhatTheClientOffers) {
  struct Case {
    json offered;
    const char* chosen;
  };
  const Case cases[] = {
      {json::array({"utf-8"}), "utf-8"},
      {json::array({"utf-16", "utf-8"}), "utf-8"},
      {json::array({"utf-16"}), "utf-16"},
      {json::array({"utf-32"}), "utf-16"},
  };
  for (const Case& k : cases) {
    Client c;
    json init = c.request("initialize",
                          {{"capabilities", {{"general", {{"positionEncodings", k.offered}}}}}});
    EXPECT_EQ(init["result"]["capabilities"]["positionEncoding"], k.chosen) << k.offered.dump();
  }
}

TEST(LspServer, AnswersMalformedMessagesWithErrorsAndGoesOn) {
  Client c;
  c.initialize();
  c.open(kLineUri, SourceText::default_line().text());
  struct Case {
    const char* what;
    std::string body;
    int code;  // 0: no answer
    json id;
  };
  const std::string hover_at = R"("params":{"textDocument":{"uri":")" + kLineUri + R"("},)";
  const Case cases[] = {
      {"not JSON", "{\"jsonrpc\":", -32700, nullptr},
      {"not an object", "[1,2]", -32600, nullptr},
      {"no jsonrpc", R"({"id":1,"method":"shutdown"})", -32600, 1},
      {"bad id", R"({"jsonrpc":"2.0","id":{},"method":"shutdown"})", -32600, nullptr},
      {"method not a string", R"({"jsonrpc":"2.0","id":2,"method":5})", -32600, 2},
      {"params not structured", R"({"jsonrpc":"2.0","id":3,"method":"x","params":1})", -32600, 3},
      {"unknown method", R"({"jsonrpc":"2.0","id":"s","method":"workspace/nothing"})", -32601, "s"},
      {"unknown notification", R"({"jsonrpc":"2.0","method":"workspace/nothing"})", 0, nullptr},
      {"a response from the client", R"({"jsonrpc":"2.0","id":9,"result":null})", 0, nullptr},
      {"position of the wrong type",
       R"({"jsonrpc":"2.0","id":4,"method":"textDocument/hover",)" + hover_at +
           R"("position":{"line":"1","character":0}}})",
       -32602, 4},
      {"no position",
       R"({"jsonrpc":"2.0","id":5,"method":"textDocument/hover",)" +
           hover_at.substr(0, hover_at.size() - 1) + "}}",
       -32602, 5},
      {"document not open",
       R"({"jsonrpc":"2.0","id":6,"method":"textDocument/documentSymbol","params":{"textDocument":{"uri":"file:///x"}}})",
       -32602, 6},
      {"change without changes",
       R"({"jsonrpc":"2.0","id":7,"method":"textDocument/didChange","params":{"textDocument":{"uri":")" +
           kLineUri + R"("}}})",
       -32602, 7},
  };
  for (const Case& k : cases) {
    std::vector<json> out = c.send_body(k.body);
    if (k.code == 0) {
      EXPECT_TRUE(out.empty()) << k.what;
      continue;
    }
    ASSERT_EQ(out.size(), 1u) << k.what;
    EXPECT_EQ(out[0]["error"]["code"], k.code) << k.what << ": " << out[0].dump();
    EXPECT_EQ(out[0]["id"], k.id) << k.what;
  }
  // A notification that fails is told in the editor's log; the server still answers.
  std::vector<json> logged = c.send({{"jsonrpc", "2.0"},
                                     {"method", "textDocument/didChange"},
                                     {"params", {{"textDocument", 1}}}});
  ASSERT_EQ(logged.size(), 1u);
  EXPECT_EQ(logged[0]["method"], "window/logMessage");
  EXPECT_FALSE(c.at("textDocument/hover", kLineUri, {1, 2})["result"].is_null());
  EXPECT_EQ(c.server().framing_error("x").size(), 1u);
}

// A message nested too deep or holding too many values is refused before it is parsed, with an
// error the editor can read; the server goes on. Its bytes are looked at outside strings only.
TEST(LspServer, RefusesAMessageTooDeepOrTooLargeBeforeParsingIt) {
  Client c;
  c.initialize();
  const std::string deep = std::string(100000, '[') + std::string(100000, ']');
  std::string many = "[0";
  for (size_t i = 0; i < lsp::kMaxValues; ++i) many += ",0";
  many += "]";
  const std::string nested_in_string =
      R"({"jsonrpc":"2.0","method":"x","params":{"s":")" + std::string(1000, '[') + R"("}})";
  struct Case {
    const char* what;
    std::string body;
    const char* refused;  // the reason, or nullptr when the message is handled
  };
  const Case cases[] = {
      {"100,000 levels", deep, "the message nests deeper than 64 levels"},
      {"65 levels", std::string(65, '{'), "the message nests deeper than 64 levels"},
      {"too many values", many, "the message holds more than 1048576 values"},
      {"brackets in a string", nested_in_string, nullptr},
  };
  for (const Case& k : cases) {
    SCOPED_TRACE(k.what);
    std::vector<json> out = c.send_body(k.body);
    if (k.refused == nullptr) {
      EXPECT_TRUE(out.empty());
      continue;
    }
    ASSERT_EQ(out.size(), 1u);
    EXPECT_EQ(out[0]["error"]["code"], -32600);
    EXPECT_EQ(out[0]["error"]["message"], k.refused);
    EXPECT_TRUE(out[0]["id"].is_null());
  }
  EXPECT_EQ(c.request("shutdown", nullptr)["result"], nullptr);
}

// --- Diagnostics -------------------------------------------------------------------------------

// The diagnostics check gives for these sources, as (file, LSP line, start, end, code, message).
std::vector<std::tuple<std::string, int64_t, int64_t, int64_t, json, std::string>> check_says(
    const std::string& line, const std::string& train) {
  test::Compiled r = test::compile_in_memory(line, train);
  CheckReport report = make_report(r.m, r.warnings);
  std::vector<std::tuple<std::string, int64_t, int64_t, int64_t, json, std::string>> out;
  for (const Diagnostic& d : report.diagnostics) {
    json code = d.name.empty() ? json(d.code) : json(d.name);
    out.emplace_back(d.file, d.line - 1, d.column - 1, std::max(d.end_column, d.column) - 1, code,
                     d.message);
  }
  return out;
}

TEST(LspDiagnostics, AreCheckDiagnosticsOnTheirFieldsInBothSourcesAndAreClearedWhenFixed) {
  const std::string line = broken_line();
  Client c(Client::Disk{{kLinePath, line}, {kTrainPath, SourceText::default_train().text()}});
  c.initialize();
  c.open(kTrainUri, broken_train());
  std::map<std::string, std::vector<json>> first = published(c.flush());
  ASSERT_EQ(first.size(), 2u);
  ASSERT_EQ(first[kLineUri].size(), 1u);
  ASSERT_EQ(first[kTrainUri].size(), 1u);
  std::vector<json> shown = first[kLineUri][0];
  for (const json& d : first[kTrainUri][0]) shown.push_back(d);
  auto expected = check_says(line, broken_train());
  ASSERT_EQ(shown.size(), expected.size());
  ASSERT_EQ(expected.size(), 2u);  // the misspelt keyword's error, then error 16
  for (size_t i = 0; i < shown.size(); ++i) {
    const auto& [file, l, start, end, code, message] = expected[i];
    const json& d = shown[i];
    EXPECT_EQ(d["range"]["start"], lsp::to_json(lsp::Position{l, start})) << message;
    EXPECT_EQ(d["range"]["end"], lsp::to_json(lsp::Position{l, end})) << message;
    EXPECT_EQ(d["code"], code);
    EXPECT_EQ(d["message"], message);
    EXPECT_EQ(d["severity"], 1);
  }
  EXPECT_GT(std::get<3>(expected[1]), std::get<2>(expected[1]));  // a range over the field

  // The slow order is shortened to 1000 m in the editor: the train source is clean, the line
  // source (from the disk) keeps its warning.
  lsp::Position length = position_of(broken_train(), "rallentamento,   52000", "1500");
  c.change(kTrainUri,
           json::array(
               {{{"range", lsp::to_json(lsp::Range{length, {length.line, length.character + 4}})},
                 {"text", "1000"}}}));
  std::map<std::string, std::vector<json>> fixed = published(c.flush());
  ASSERT_EQ(fixed[kTrainUri].size(), 1u);
  EXPECT_TRUE(fixed[kTrainUri][0].empty());
  EXPECT_EQ(fixed[kLineUri][0].size(), 1u);
  // Nothing changed since: nothing is compiled or sent.
  EXPECT_TRUE(c.flush().empty());
  // Closing the last source of the scenario clears what was shown.
  c.notify("textDocument/didClose", {{"textDocument", {{"uri", kTrainUri}}}});
  std::map<std::string, std::vector<json>> closed = published(c.notifications);
  EXPECT_TRUE(closed[kLineUri].back().empty());
  EXPECT_TRUE(closed[kTrainUri].back().empty());
}

// An error of the line source that stops the train half: the error in the line source with the
// note as related information, and the note in the train source, pointing back.
TEST(LspDiagnostics, ALineErrorThatStopsTheTrainHalfShowsInBothSources) {
  const std::string line = SourceText::default_line()
                               .insert_before("montagna", {"montagna,   240000,  240550,  2"})
                               .text();
  Client c(Client::Disk{{kTrainPath, SourceText::default_train().text()}});
  c.initialize();
  c.open(kLineUri, line);
  std::map<std::string, std::vector<json>> p = published(c.flush());
  ASSERT_EQ(p[kLineUri].size(), 1u);
  ASSERT_EQ(p[kLineUri][0].size(), 1u);
  const json& error = p[kLineUri][0][0];
  EXPECT_EQ(error["code"], 15);
  ASSERT_EQ(error["relatedInformation"].size(), 1u);
  EXPECT_EQ(error["relatedInformation"][0]["location"]["uri"], kTrainUri);
  EXPECT_EQ(error["relatedInformation"][0]["location"]["range"]["start"]["line"], 67);
  ASSERT_EQ(p[kTrainUri][0].size(), 1u);
  const json& note = p[kTrainUri][0][0];
  EXPECT_EQ(note["range"]["start"]["line"], 67);
  EXPECT_EQ(note["message"], error["relatedInformation"][0]["message"]);
  EXPECT_EQ(note["relatedInformation"][0]["location"]["uri"], kLineUri);
}

// Changes that come faster than compiles: only the latest text is compiled, once, and the disk
// is read once for the source that is not open.
TEST(LspDiagnostics, OnlyTheLatestTextOfABurstIsCompiled) {
  Client c(Client::Disk{{kLinePath, SourceText::default_line().text()}});
  c.initialize();
  c.open(kTrainUri, SourceText::default_train().text());
  const std::string stations[] = {"stazione,   12210", "stazione,   12200", "stazione,   12230"};
  for (const std::string& s : stations) {
    c.change(kTrainUri,
             json::array(
                 {{{"text", SourceText::default_train().replace("stazione,   12200", s).text()}}}));
  }
  c.reads = 0;
  std::map<std::string, std::vector<json>> p = published(c.flush());
  EXPECT_EQ(c.reads, 1);
  ASSERT_EQ(p[kTrainUri].size(), 1u);
  ASSERT_EQ(p[kTrainUri][0].size(), 1u);
  EXPECT_EQ(p[kTrainUri][0][0]["code"], 8);
  EXPECT_NE(p[kTrainUri][0][0]["message"].get<std::string>().find("12230"), std::string::npos);
}

// Positions after a lone CR: the editor counts it as a line end, the compile does not.
TEST(LspDiagnostics, RangesFollowTheEditorsLinesAfterALoneCr) {
  const std::string line = SourceText::default_line()
                               .replace("[curve]\r\n", "[curve]\r\r\n")
                               .replace("montagna,   78000", "montagan,   78000")
                               .text();
  Client c(Client::Disk{{kTrainPath, SourceText::default_train().text()}});
  c.initialize();
  c.open(kLineUri, line);
  std::vector<json> shown = published(c.flush())[kLineUri].at(0);
  ASSERT_EQ(shown.size(), 2u);
  EXPECT_EQ(shown[0]["code"], "lone-cr");
  EXPECT_EQ(shown[0]["range"]["start"], lsp::to_json(position_of(line, "[curve]", "\r")));
  EXPECT_EQ(shown[1]["code"], "unknown-keyword");
  EXPECT_EQ(shown[1]["range"]["start"], lsp::to_json(position_of(line, "montagan", "montagan")));
}

// --- Hover -------------------------------------------------------------------------------------

TEST(LspHover, ExplainsKeywordsFieldsAndTheCellOfAPosition) {
  const std::string line = SourceText::default_line().text();
  const std::string train = broken_train();
  Client c;
  c.initialize();
  c.open(kLineUri, line);
  c.open(kTrainUri, train);
  struct Case {
    const std::string* text;
    const std::string& uri;
    std::string line_start;
    std::string needle;
    std::vector<std::string> says;
  };
  const Case cases[] = {
      {&train,
       kTrainUri,
       "rallentamento,   52000",
       "52000",
       {"`rallentamento` (a slow order), field 1 of 6: `x`, m", "where the slow order starts",
        "cell 1041, 52,050 m", "P / 50 + 1", "Warning board: cell 1017, 50,850 m"}},
      {&train,
       kTrainUri,
       "rallentamento,   52000",
       "1500",
       {"field 3 of 6: `l`, m", "end cell: cell 1071, 53,550 m ((x + l) / 50 + 1)"}},
      {&line,
       kLineUri,
       "pendenza,  1350",
       "1350",
       {"`pendenza`", "`position`", "cell 27, 1,350 m", "P / 50, the rule of gradients"}},
      {&line,
       kLineUri,
       "montagna,   78000",
       "78800",
       {"`end`", "cell 1575, 78,750 m", "the tunnel's last cell", "P / 50 - 1"}},
      {&train,
       kTrainUri,
       "orologio",
       "7",
       {"field 2 of 3: `minutes`, min", "A whole number of 16 bits: -32768 to 32767."}},
      {&train,
       kTrainUri,
       "stazione,       0",
       "ROMA",
       {"field 17 of 17: `name`", "A text, up to the next comma or the line end."}},
      {&line,
       kLineUri,
       "montagna,   78000",
       "montagna",
       {"`montagna`: a tunnel.", "montagna, start, end, type",
        "the feature part of the line source"}},
  };
  for (const Case& k : cases) {
    json h = c.at("textDocument/hover", k.uri, position_of(*k.text, k.line_start, k.needle, 1));
    const std::string value = h["result"]["contents"]["value"];
    for (const std::string& s : k.says) {
      EXPECT_NE(value.find(s), std::string::npos) << k.needle << ": no \"" << s << "\" in\n"
                                                  << value;
    }
  }
  // The hover's range is the field's.
  lsp::Position p = position_of(train, "rallentamento,   52000", "52000");
  json h = c.at("textDocument/hover", kTrainUri, p);
  EXPECT_EQ(h["result"]["range"], lsp::to_json(lsp::Range{p, {p.line, p.character + 5}}));
  // Off any record (a section header) there is nothing to say.
  EXPECT_TRUE(c.at("textDocument/hover", kLineUri, {0, 3})["result"].is_null());
}

TEST(LspHover, APositionOffTheGridIsPlacedInTheNearestCell) {
  EXPECT_EQ(lsp::cell_text(1041), "cell 1041, 52,050 m");
  const RecordKind* signal = nullptr;
  for (const RecordKind& k : record_kinds()) {
    if (std::string_view(k.keyword) == "segnale") signal = &k;
  }
  ASSERT_NE(signal, nullptr);
  std::string text = lsp::describe_field(*signal, 0, {"52020"});
  EXPECT_NE(text.find("cell 1041, 52,050 m"), std::string::npos) << text;
  EXPECT_NE(text.find("52,020 m is not a multiple of 50 m"), std::string::npos) << text;
  EXPECT_NE(lsp::describe_field(*signal, 0, {"5x"}).find("Not a whole number"), std::string::npos);
}

// --- Completion --------------------------------------------------------------------------------

std::vector<std::string> labels(const json& items) {
  std::vector<std::string> out;
  for (const json& i : items) out.push_back(i["label"]);
  return out;
}

TEST(LspCompletion, OffersTheKeywordsOfTheSectionWithSnippetsAndSectionNames) {
  const std::string line = "[generale]\r\nlun\r\n[curve]\r\nmon\r\n[\r\npendenza, 1";
  const std::string train = "[generale]\r\nsta";
  Client c;
  c.initialize(
      {{"textDocument", {{"completion", {{"completionItem", {{"snippetSupport", true}}}}}}}});
  c.open(kLineUri, line);
  c.open(kTrainUri, train);
  auto has = [](const std::vector<std::string>& v, const std::string& s) {
    return std::find(v.begin(), v.end(), s) != v.end();
  };
  std::vector<std::string> general =
      labels(c.at("textDocument/completion", kLineUri, {1, 3})["result"]);
  EXPECT_TRUE(has(general, "lunghezza percorso"));
  EXPECT_FALSE(has(general, "montagna"));
  json features = c.at("textDocument/completion", kLineUri, {3, 3})["result"];
  EXPECT_FALSE(has(labels(features), "lunghezza percorso"));
  EXPECT_FALSE(has(labels(features), "stazione"));
  for (const json& item : features) {
    if (item["label"] != "montagna") continue;
    EXPECT_EQ(item["textEdit"]["newText"], "montagna, ${1:start}, ${2:end}, ${3:type}");
    EXPECT_EQ(item["textEdit"]["range"], lsp::to_json(lsp::Range{{3, 0}, {3, 3}}));
    EXPECT_EQ(item["insertTextFormat"], 2);
  }
  std::vector<std::string> in_train =
      labels(c.at("textDocument/completion", kTrainUri, {1, 3})["result"]);
  EXPECT_TRUE(has(in_train, "stazione"));
  EXPECT_FALSE(has(in_train, "montagna"));
  std::vector<std::string> sections =
      labels(c.at("textDocument/completion", kLineUri, {4, 1})["result"]);
  EXPECT_TRUE(has(sections, "[montagne]"));
  EXPECT_TRUE(c.at("textDocument/completion", kLineUri, {5, 11})["result"].empty());  // a value
}

// A client without snippet support (none said, or false) gets the record as plain text: the
// keyword and each field's name, with no "${" for it to insert literally.
TEST(LspCompletion, FallsBackToAPlainFieldTemplateWithoutSnippetSupport) {
  const std::string line = "[generale]\r\nrip\r\n[curve]\r\nmon\r\n[\r\npendenza, 1";
  for (const json& capabilities :
       {json::object(),
        json{{"textDocument",
              {{"completion", {{"completionItem", {{"snippetSupport", false}}}}}}}}}) {
    Client plain;
    plain.initialize(capabilities);
    plain.open(kLineUri, line);
    std::map<std::string, std::string> inserted;
    const json features = plain.at("textDocument/completion", kLineUri, {3, 3});
    const json general = plain.at("textDocument/completion", kLineUri, {1, 3});
    for (const json& item : features["result"]) {
      EXPECT_EQ(item["insertTextFormat"], 1);
      inserted[item["label"].get<std::string>()] = item["textEdit"]["newText"].get<std::string>();
    }
    for (const json& item : general["result"]) {
      inserted[item["label"].get<std::string>()] = item["textEdit"]["newText"].get<std::string>();
    }
    EXPECT_EQ(inserted["montagna"], "montagna, start, end, type");
    EXPECT_EQ(inserted["curva"].substr(0, 9), "curvad1, ");
    EXPECT_EQ(inserted["ripetizione segnali"].substr(0, 30), "ripetizione segnali 9 codici, ");
    for (const auto& [label, text] : inserted) EXPECT_EQ(text.find("${"), std::string::npos);
  }
}

// --- Symbols -----------------------------------------------------------------------------------

size_t lines_starting(const std::string& text, const std::string& start) {
  size_t n = 0;
  for (size_t at = text.find("\n" + start); at != std::string::npos;
       at = text.find("\n" + start, at + 1)) {
    ++n;
  }
  return n;
}

TEST(LspSymbols, ListStationsSlowOrdersSignalsAndTunnelsUnderTheirSections) {
  const std::string line = SourceText::default_line().text();
  const std::string train = SourceText::default_train().text();
  Client c;
  c.initialize();
  c.open(kLineUri, line);
  c.open(kTrainUri, train);
  std::map<std::string, std::vector<std::string>> by_section;
  json symbols =
      c.request("textDocument/documentSymbol", {{"textDocument", {{"uri", kTrainUri}}}})["result"];
  for (const json& s : symbols) {
    for (const json& child : s["children"]) by_section[s["name"]].push_back(child["name"]);
  }
  ASSERT_EQ(by_section.size(), 3u);
  EXPECT_EQ(by_section["[stazioni]"].size(), lines_starting(train, "stazione,"));
  EXPECT_EQ(by_section["[stazioni]"].front(), "ROMA TERMINI");
  EXPECT_EQ(by_section["[stazioni]"].back(), "NAPOLI CENTRALE");
  EXPECT_EQ(by_section["[rallentamenti]"].size(), lines_starting(train, "rallentamento,"));
  EXPECT_EQ(by_section["[rallentamenti]"].front(), "rallentamento at 19450 m, 40 km/h over 300 m");
  EXPECT_EQ(by_section["[segnali]"].size(), lines_starting(train, "segnale,"));

  json tunnels =
      c.request("textDocument/documentSymbol", {{"textDocument", {{"uri", kLineUri}}}})["result"];
  ASSERT_EQ(tunnels.size(), 1u);
  EXPECT_EQ(tunnels[0]["name"], "[montagne]");
  EXPECT_EQ(tunnels[0]["children"].size(), lines_starting(line, "montagna,"));
  EXPECT_EQ(tunnels[0]["children"][0]["name"], "montagna 9500 to 9550 m");
}

// --- Code actions ------------------------------------------------------------------------------

TEST(LspCodeActions, FixAMisspeltKeywordAndLoneCrLineEnds) {
  const std::string line = broken_line();
  Client c(Client::Disk{{kTrainPath, SourceText::default_train().text()}});
  c.initialize();
  c.open(kLineUri, line);
  json warning = published(c.flush())[kLineUri].at(0).at(0);
  ASSERT_EQ(warning["code"], "unknown-keyword");
  json actions =
      c.request("textDocument/codeAction", {{"textDocument", {{"uri", kLineUri}}},
                                            {"range", warning["range"]},
                                            {"context", {{"diagnostics", {warning}}}}})["result"];
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0]["title"], "Change \"montagan\" to \"montagna\"");
  EXPECT_EQ(actions[0]["diagnostics"], json::array({warning}));
  // What the editor added to the diagnostic is not sent back: only the members this server sets.
  json with_data = warning;
  with_data["data"] = json::parse(std::string(40, '[') + std::string(40, ']'));
  with_data["tags"] = {1};
  json echoed = c.request("textDocument/codeAction",
                          {{"textDocument", {{"uri", kLineUri}}},
                           {"range", warning["range"]},
                           {"context", {{"diagnostics", {with_data}}}}})["result"];
  ASSERT_EQ(echoed.size(), 1u);
  EXPECT_EQ(echoed[0]["diagnostics"], json::array({warning}));
  const json& edit = actions[0]["edit"]["changes"][kLineUri][0];
  EXPECT_EQ(edit["newText"], "montagna");
  EXPECT_EQ(edit["range"], warning["range"]);

  // The keywords of the source (either section of the line source), or of its written forms,
  // close enough to be misspellings: the suggestion the compile's warning makes.
  struct Case {
    const char* field;
    bool line_source;
    const char* keyword;  // null: no suggestion
  };
  const Case cases[] = {{"pendenz", true, "pendenza"},
                        {"RALENTAMENTO", false, "rallentamento"},
                        {"cruvad3", true, "curvad3"},
                        {"ripetizione segnal 9 codici", true, "ripetizione segnali 9 codici"},
                        {"ripetizione segnal", true, "ripetizione segnali"},
                        {"stazone", true, nullptr},
                        {"4", false, nullptr},
                        {"curvx3", true, nullptr},
                        {"velocta", false, "velocita"}};
  for (const Case& k : cases) {
    const char* got = closest_keyword(k.field, k.line_source);
    EXPECT_STREQ(got, k.keyword) << k.field;
  }

  std::string mac = SourceText::default_line().replace("[curve]\r\n", "[curve]\r").text();
  c.change(kLineUri, json::array({{{"text", mac}}}));
  json fixes = c.request("textDocument/codeAction",
                         {{"textDocument", {{"uri", kLineUri}}},
                          {"range", lsp::to_json(lsp::Range{})},
                          {"context", {{"diagnostics", json::array()}}}})["result"];
  ASSERT_EQ(fixes.size(), 1u);
  const json& edits = fixes[0]["edit"]["changes"][kLineUri];
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_EQ(edits[0]["newText"], "\r\n");
  lsp::apply_change(
      mac,
      {lsp::Range{{edits[0]["range"]["start"]["line"], edits[0]["range"]["start"]["character"]},
                  {edits[0]["range"]["end"]["line"], edits[0]["range"]["end"]["character"]}},
       "\r\n"},
      lsp::PositionEncoding::kUtf16);
  EXPECT_EQ(mac, SourceText::default_line().text());
}

// A train source whose "[generale]" field is misspelt: the quick fix writes it over that field.
TEST(LspCodeActions, FixAMisspeltGeneralField) {
  Client c(Client::Disk{{kLinePath, SourceText::default_line().text()}});
  c.initialize();
  c.open(kTrainUri, SourceText::default_train().replace("[generale]", "[general]").text());
  json error = published(c.flush())[kTrainUri].at(0).at(0);
  ASSERT_EQ(error["code"], "no-general-section");
  json actions =
      c.request("textDocument/codeAction", {{"textDocument", {{"uri", kTrainUri}}},
                                            {"range", error["range"]},
                                            {"context", {{"diagnostics", {error}}}}})["result"];
  ASSERT_EQ(actions.size(), 1u);
  EXPECT_EQ(actions[0]["title"], "Change \"[general]\" to \"[generale]\"");
  EXPECT_EQ(actions[0]["diagnostics"], json::array({error}));
  const json& edit = actions[0]["edit"]["changes"][kTrainUri][0];
  EXPECT_EQ(edit["newText"], "[generale]");
  EXPECT_EQ(edit["range"], lsp::to_json(lsp::Range{{0, 0}, {0, 9}}));
}

// check and the language server make the same suggestion for a misspelt keyword, and offer none
// where check offers none: "curvx3" is two edits from every curve keyword.
TEST(LspCodeActions, SuggestWhatCheckSuggests) {
  struct Case {
    const char* misspelt;
    const char* suggested;  // null: none
  };
  for (const Case& k : {Case{"curvd3", "curvad3"}, Case{"curvx3", nullptr}}) {
    std::string misspelt_record = k.misspelt;
    misspelt_record.push_back(',');
    const std::string line = SourceText::default_line().replace("curvad3,", misspelt_record).text();
    auto said = check_says(line, SourceText::default_train().text());
    ASSERT_EQ(said.size(), 1u) << k.misspelt;
    const std::string message = std::get<5>(said[0]);
    std::string expected = "\"";
    expected.append(k.misspelt).append("\" is not a record keyword, and the line is not read");
    if (k.suggested != nullptr) {
      expected.append("; did you mean \"").append(k.suggested).append("\"?");
    }
    EXPECT_EQ(message, expected);

    Client c(Client::Disk{{kTrainPath, SourceText::default_train().text()}});
    c.initialize();
    c.open(kLineUri, line);
    json warning = published(c.flush())[kLineUri].at(0).at(0);
    json actions =
        c.request("textDocument/codeAction", {{"textDocument", {{"uri", kLineUri}}},
                                              {"range", warning["range"]},
                                              {"context", {{"diagnostics", {warning}}}}})["result"];
    if (k.suggested == nullptr) {
      EXPECT_TRUE(actions.empty()) << actions.dump();
      continue;
    }
    ASSERT_EQ(actions.size(), 1u);
    EXPECT_EQ(actions[0]["edit"]["changes"][kLineUri][0]["newText"], k.suggested);
  }
}

// --- The command -------------------------------------------------------------------------------

#ifndef _WIN32
// The program itself, with garbage among the messages on its standard input: it answers what it
// can, says what it passed over, and ends with status 0 after shutdown and exit, 1 without.
TEST(LspCommand, ServesStandardInputAndExitsWithTheStatusAsked) {
  test::ScratchDir dir;
  auto message = [](const json& m) { return lsp::frame_message(m.dump()); };
  const std::string init = message({{"jsonrpc", "2.0"},
                                    {"id", 1},
                                    {"method", "initialize"},
                                    {"params", {{"capabilities", json::object()}}}});
  const std::string stop = message({{"jsonrpc", "2.0"}, {"id", 2}, {"method", "shutdown"}}) +
                           message({{"jsonrpc", "2.0"}, {"method", "exit"}});
  struct Case {
    std::string input;
    int status;
  };
  const Case cases[] = {{init + "garbage\r\n\r\n" + stop, 0}, {init, 1}};
  for (const Case& k : cases) {
    test::write_bytes(dir.path() / "in", k.input);
    test::Result r = test::run_program("/bin/sh", {"-c", std::string("exec '") + COMPACTOR_BINARY +
                                                             "' lsp < '" + dir.file("in") + "'"});
    EXPECT_EQ(r.exit_status, k.status) << r.err;
    lsp::MessageReader reader;
    reader.feed(r.out);
    std::vector<json> out;
    while (std::optional<lsp::Frame> f = reader.next()) {
      ASSERT_TRUE(f->is_message) << r.out;
      out.push_back(json::parse(f->body));
    }
    ASSERT_FALSE(out.empty());
    EXPECT_TRUE(out[0]["result"].contains("capabilities"));
    if (k.status == 0) {
      ASSERT_EQ(out.size(), 3u) << r.out;
      EXPECT_EQ(out[1]["error"]["code"], -32700);
      EXPECT_EQ(out[2]["id"], 2);
    }
  }
  EXPECT_EQ(test::run_compactor({"lsp", "extra"}).exit_status, 2);
}

// A line source that is there but cannot be read is named by what it is, not "does not exist".
TEST(LspCommand, ALineSourceThatIsAFifoIsNamedAsOne) {
  test::ScratchDir dir;
  ASSERT_EQ(mkfifo(dir.file(test::kLineSource).c_str(), 0600), 0);
  auto message = [](const json& m) { return lsp::frame_message(m.dump()); };
  const std::string input =
      message({{"jsonrpc", "2.0"},
               {"id", 1},
               {"method", "initialize"},
               {"params", {{"capabilities", json::object()}}}}) +
      message({{"jsonrpc", "2.0"}, {"method", "initialized"}, {"params", json::object()}}) +
      message({{"jsonrpc", "2.0"},
               {"method", "textDocument/didOpen"},
               {"params",
                {{"textDocument",
                  {{"uri", lsp::uri_of_path(dir.file(test::kTrainSource))},
                   {"languageId", "compactor"},
                   {"version", 1},
                   {"text", SourceText::default_train().text()}}}}}});
  // The input ends without exit: the server compiles what it has been sent, then ends with 1.
  test::write_bytes(dir.path() / "in", input);
  test::Result r = test::run_program("/bin/sh", {"-c", std::string("exec '") + COMPACTOR_BINARY +
                                                           "' lsp < '" + dir.file("in") + "'"});
  EXPECT_EQ(r.exit_status, 1) << r.err;
  EXPECT_NE(r.out.find("the line source file cannot be read: Is a FIFO, not a regular file"),
            std::string::npos)
      << r.out;
  EXPECT_EQ(r.out.find("does not exist"), std::string::npos) << r.out;
}
// Document formatting: the whole text replaced by fmt's layout, with the range in the editor's
// lines; no edit for a text in the layout already.
TEST(LspServer, FormatsADocumentAsFmtDoes) {
  Client c;
  json init = c.request("initialize", {{"capabilities", json::object()}});
  EXPECT_TRUE(init["result"]["capabilities"]["documentFormattingProvider"].get<bool>());
  const std::string text = "[generale]\n  lunghezza percorso, 5000\n[fine]";
  c.open(kLineUri, text);
  const json params = {{"textDocument", {{"uri", kLineUri}}}, {"options", json::object()}};
  const json edits = c.request("textDocument/formatting", params)["result"];
  ASSERT_EQ(edits.size(), 1u);
  EXPECT_EQ(edits[0]["newText"], "[generale]\r\nlunghezza percorso, 5000\r\n[fine]");
  EXPECT_EQ(edits[0]["range"]["start"], lsp::to_json(lsp::Position{0, 0}));
  EXPECT_EQ(edits[0]["range"]["end"], lsp::to_json(lsp::Position{2, 6}));
  c.change(kLineUri, json::array({{{"text", edits[0]["newText"]}}}));
  EXPECT_EQ(c.request("textDocument/formatting", params)["result"], json::array());
}

#endif

}  // namespace
}  // namespace compactor

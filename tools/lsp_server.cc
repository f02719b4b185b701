#include "tools/lsp_server.h"

#include <map>
#include <nlohmann/json.hpp>
#include <set>
#include <tuple>

#include "tools/lsp_diagnostics.h"
#include "tools/lsp_features.h"
#include "tools/lsp_framing.h"
#include "tools/lsp_outline.h"
#include "tools/lsp_text.h"

namespace compactor::lsp {

using nlohmann::json;

// --- State -------------------------------------------------------------------------------------

// A source open in the editor.
struct Document {
  std::string path;  // "" for a URI that is not a file
  std::string text;
  int64_t version = 0;
  SourceKind kind = SourceKind::kOther;
  // A line source open without a train source of its own: the train number of the train
  // source found beside it on disk ("" when there is none).
  std::string partner_number;
  // Made when first asked for, dropped at each change.
  std::optional<Outline> outline;
  std::optional<LineIndex> lines;
};

// A scenario: the line source and train source of one directory and line id.
struct ScenarioKey {
  std::string dir;
  std::string line_id;
  std::string train_number;  // "" when no train source goes with the line source
  auto operator<=>(const ScenarioKey&) const = default;
};

struct ServerState {
  FileAccess files;
  bool initialized = false;
  bool shut_down = false;
  bool exited = false;
  PositionEncoding encoding = PositionEncoding::kUtf16;
  bool snippets = false;
  std::map<std::string, Document> documents;  // by URI
  std::set<ScenarioKey> changed;              // to compile at the next flush
  std::set<std::string> published;            // URIs whose last diagnostics were not empty
  std::vector<json> outbox;                   // notifications to send
};

namespace {

// --- JSON-RPC ----------------------------------------------------------------------------------

constexpr int kParseError = -32700;
constexpr int kInvalidRequest = -32600;
constexpr int kMethodNotFound = -32601;
constexpr int kInvalidParams = -32602;
constexpr int kInternalError = -32603;
constexpr int kServerNotInitialized = -32002;

// Thrown by a handler: the error to answer with.
struct RpcError {
  int code;
  std::string message;
};

json error_response(const json& id, int code, const std::string& message) {
  return {{"jsonrpc", "2.0"}, {"id", id}, {"error", {{"code", code}, {"message", message}}}};
}

json notification(const char* method, json params) {
  return {{"jsonrpc", "2.0"}, {"method", method}, {"params", std::move(params)}};
}

// A member of an object, or null when the value is no object or lacks it.
const json& member(const json& j, const char* key) {
  static const json kNull;
  if (!j.is_object()) return kNull;
  auto it = j.find(key);
  return it == j.end() ? kNull : *it;
}

std::string required_string(const json& j, const char* key) {
  const json& v = member(j, key);
  if (!v.is_string())
    throw RpcError{kInvalidParams, std::string("\"") + key + "\" must be a string"};
  return v.get<std::string>();
}

Position required_position(const json& j) {
  const json& line = member(j, "line");
  const json& character = member(j, "character");
  if (!line.is_number_integer() || !character.is_number_integer()) {
    throw RpcError{kInvalidParams, "a position needs a whole \"line\" and \"character\""};
  }
  return Position{line.get<int64_t>(), character.get<int64_t>()};
}

Range required_range(const json& j) {
  return Range{required_position(member(j, "start")), required_position(member(j, "end"))};
}

// --- Sources and scenarios ---------------------------------------------------------------------

struct SourceName {
  SourceKind kind = SourceKind::kOther;
  std::string dir;
  std::string line_id;
  std::string train_number;
};

SourceName source_name(const std::string& path) {
  SourceName n;
  std::string name = file_name_of(path);
  n.kind = source_kind_of(name);
  n.dir = directory_of(path);
  if (n.kind == SourceKind::kLine) {
    n.line_id = name.substr(0, name.size() - std::string_view("_linea.txt").size());
  } else if (n.kind == SourceKind::kTrain) {
    std::string stem = name.substr(0, name.size() - std::string_view("-.txt").size());
    size_t underscore = stem.rfind('_');
    n.line_id = stem.substr(0, underscore);
    n.train_number = stem.substr(underscore + 1);
  }
  return n;
}

std::string in_dir(const std::string& dir, const std::string& name) {
  return dir.empty() ? name : dir + "/" + name;
}

std::string line_path(const ScenarioKey& k) {
  return in_dir(k.dir, k.line_id + "_linea.txt");
}

std::string train_path(const ScenarioKey& k) {
  return in_dir(k.dir, k.line_id + "_" + k.train_number + "-.txt");
}

const Document* open_document(const ServerState& st, const std::string& path,
                              std::string* uri = nullptr) {
  for (const auto& [u, doc] : st.documents) {
    if (doc.path != path) continue;
    if (uri != nullptr) *uri = u;
    return &doc;
  }
  return nullptr;
}

std::string uri_for(const ServerState& st, const std::string& path) {
  std::string uri;
  return open_document(st, path, &uri) != nullptr ? uri : uri_of_path(path);
}

// The train number of the first train source on disk beside a line source ("" when none).
std::string train_on_disk(const ServerState& st, const SourceName& line) {
  std::string found;
  if (!st.files.list) return found;
  for (const std::string& name : st.files.list(line.dir)) {
    SourceName n = source_name(in_dir(line.dir, name));
    if (n.kind != SourceKind::kTrain || n.line_id != line.line_id) continue;
    if (found.empty() || n.train_number < found) found = n.train_number;
  }
  return found;
}

// The scenarios a source takes part in: a train source's own, and for a line source one with
// each open train source of its line, or else with the train source beside it on disk.
std::vector<ScenarioKey> scenarios_of(const ServerState& st, const Document& doc) {
  SourceName n = source_name(doc.path);
  if (doc.path.empty() || n.kind == SourceKind::kOther) return {};
  if (n.kind == SourceKind::kTrain) return {ScenarioKey{n.dir, n.line_id, n.train_number}};
  std::vector<ScenarioKey> keys;
  for (const auto& [uri, other] : st.documents) {
    SourceName o = source_name(other.path);
    if (o.kind == SourceKind::kTrain && o.dir == n.dir && o.line_id == n.line_id) {
      keys.push_back(ScenarioKey{n.dir, n.line_id, o.train_number});
    }
  }
  if (keys.empty()) keys.push_back(ScenarioKey{n.dir, n.line_id, doc.partner_number});
  return keys;
}

void mark_changed(ServerState& st, const Document& doc) {
  for (ScenarioKey& k : scenarios_of(st, doc)) st.changed.insert(std::move(k));
}

void publish(ServerState& st, const std::string& uri, json diagnostics, std::vector<json>& out) {
  json params = {{"uri", uri}, {"diagnostics", std::move(diagnostics)}};
  auto open = st.documents.find(uri);
  if (open != st.documents.end()) params["version"] = open->second.version;
  if (params["diagnostics"].empty()) {
    st.published.erase(uri);
  } else {
    st.published.insert(uri);
  }
  out.push_back(notification("textDocument/publishDiagnostics", std::move(params)));
}

// A source, from the editor or the disk; `unreadable` says why one on the disk gave no bytes.
SourceFile load(const ServerState& st, const std::string& path, std::string* unreadable = nullptr) {
  SourceFile f;
  f.name = path;
  if (const Document* doc = open_document(st, path)) {
    f.bytes = doc->text;
  } else if (st.files.read) {
    f.bytes = st.files.read(path);
    if (!f.bytes && unreadable != nullptr && st.files.why_unreadable) {
      *unreadable = st.files.why_unreadable(path);
    }
  }
  return f;
}

void compile_scenario(ServerState& st, const ScenarioKey& key, std::vector<json>& out) {
  ScenarioSources sources;
  sources.line_id = key.line_id;
  sources.train_number = key.train_number;
  sources.line = load(st, line_path(key), &sources.line_unreadable);
  if (key.train_number.empty()) {
    sources.train.name = in_dir(key.dir, key.line_id + "_-.txt");
  } else {
    sources.train = load(st, train_path(key));
  }
  auto uri_of = [&st](const std::string& path) { return uri_for(st, path); };
  for (auto& [path, diagnostics] : scenario_diagnostics(sources, st.encoding, uri_of)) {
    publish(st, uri_for(st, path), std::move(diagnostics), out);
  }
}

// --- Documents ---------------------------------------------------------------------------------

Document& document(ServerState& st, const json& params) {
  std::string uri = required_string(member(params, "textDocument"), "uri");
  auto it = st.documents.find(uri);
  if (it == st.documents.end()) throw RpcError{kInvalidParams, "the document is not open: " + uri};
  return it->second;
}

DocumentView view(ServerState& st, const json& params) {
  Document& doc = document(st, params);
  if (!doc.outline) doc.outline = scan_outline(doc.text, doc.kind);
  if (!doc.lines) doc.lines.emplace(doc.text);
  const std::string& uri = required_string(member(params, "textDocument"), "uri");
  return DocumentView{st.documents.find(uri)->first, doc.text, *doc.outline, *doc.lines,
                      st.encoding};
}

json did_open(ServerState& st, const json& params) {
  const json& td = member(params, "textDocument");
  std::string uri = required_string(td, "uri");
  Document doc;
  doc.text = required_string(td, "text");
  doc.version = member(td, "version").is_number_integer() ? td["version"].get<int64_t>() : 0;
  doc.path = path_of_uri(uri).value_or("");
  SourceName n = source_name(doc.path.empty() ? file_name_of(uri) : doc.path);
  doc.kind = n.kind;
  if (n.kind == SourceKind::kLine && !doc.path.empty()) doc.partner_number = train_on_disk(st, n);
  st.documents[uri] = std::move(doc);
  // A train source that opens takes the place of the one on disk in its line's scenario.
  for (const auto& [u, other] : st.documents) {
    SourceName o = source_name(other.path);
    if (u == uri || (!other.path.empty() && o.dir == n.dir && o.line_id == n.line_id)) {
      mark_changed(st, other);
    }
  }
  return nullptr;
}

TextChange text_change(const json& change) {
  TextChange c;
  c.text = required_string(change, "text");
  if (member(change, "range").is_object()) c.range = required_range(change["range"]);
  return c;
}

json did_change(ServerState& st, const json& params) {
  Document& doc = document(st, params);
  const json& changes = member(params, "contentChanges");
  if (!changes.is_array()) throw RpcError{kInvalidParams, "\"contentChanges\" must be an array"};
  std::vector<TextChange> parsed;
  for (const json& c : changes) parsed.push_back(text_change(c));
  for (const TextChange& c : parsed) apply_change(doc.text, c, st.encoding);
  const json& version = member(member(params, "textDocument"), "version");
  if (version.is_number_integer()) doc.version = version.get<int64_t>();
  doc.outline.reset();
  doc.lines.reset();
  mark_changed(st, doc);
  return nullptr;
}

json did_save(ServerState& st, const json& params) {
  Document& doc = document(st, params);
  SourceName n = source_name(doc.path);
  if (n.kind == SourceKind::kLine) doc.partner_number = train_on_disk(st, n);
  mark_changed(st, doc);
  return nullptr;
}

// A source that closes: the others of its line are compiled again without its buffer; when none
// is left open, the diagnostics of its line's sources are cleared.
json did_close(ServerState& st, const json& params) {
  std::string uri = required_string(member(params, "textDocument"), "uri");
  auto it = st.documents.find(uri);
  if (it == st.documents.end()) return nullptr;
  SourceName closed = source_name(it->second.path);
  st.documents.erase(it);
  bool others = false;
  for (const auto& [u, doc] : st.documents) {
    SourceName n = source_name(doc.path);
    if (doc.path.empty() || n.dir != closed.dir || n.line_id != closed.line_id) continue;
    others = true;
    mark_changed(st, doc);
  }
  std::set<std::string> cleared = {uri};
  for (const std::string& u : st.published) {
    SourceName n = source_name(path_of_uri(u).value_or(""));
    if (!others && n.dir == closed.dir && n.line_id == closed.line_id) cleared.insert(u);
  }
  for (const std::string& u : cleared) publish(st, u, json::array(), st.outbox);
  return nullptr;
}

// --- Requests ----------------------------------------------------------------------------------

json initialize(ServerState& st, const json& params) {
  if (st.initialized) throw RpcError{kInvalidRequest, "initialize came twice"};
  if (!params.is_object()) throw RpcError{kInvalidParams, "initialize needs its parameters"};
  const json& capabilities = member(params, "capabilities");
  const json& encodings = member(member(capabilities, "general"), "positionEncodings");
  if (encodings.is_array()) {
    for (const json& e : encodings) {
      if (e == "utf-8") st.encoding = PositionEncoding::kUtf8;
    }
  }
  const json& item =
      member(member(member(capabilities, "textDocument"), "completion"), "completionItem");
  st.snippets = member(item, "snippetSupport") == true;
  st.initialized = true;
  return {{"capabilities",
           {{"positionEncoding", st.encoding == PositionEncoding::kUtf8 ? "utf-8" : "utf-16"},
            {"textDocumentSync",
             {{"openClose", true}, {"change", 2}, {"save", {{"includeText", false}}}}},
            {"hoverProvider", true},
            {"completionProvider", {{"triggerCharacters", {"["}}}},
            {"documentSymbolProvider", true},
            {"documentFormattingProvider", true},
            {"codeActionProvider", {{"codeActionKinds", {"quickfix"}}}}}},
          {"serverInfo", {{"name", "compactor"}}}};
}

json shutdown(ServerState& st, const json&) {
  st.shut_down = true;
  return nullptr;
}

json exit_server(ServerState& st, const json&) {
  st.exited = true;
  return nullptr;
}

json nothing(ServerState&, const json&) {
  return nullptr;
}

json hover_request(ServerState& st, const json& params) {
  DocumentView doc = view(st, params);
  return hover(doc, required_position(member(params, "position")));
}

json completion_request(ServerState& st, const json& params) {
  DocumentView doc = view(st, params);
  return completion(doc, required_position(member(params, "position")), st.snippets);
}

json symbols_request(ServerState& st, const json& params) {
  return document_symbols(view(st, params));
}

json formatting_request(ServerState& st, const json& params) {
  return formatting_edits(view(st, params));
}

json code_action_request(ServerState& st, const json& params) {
  DocumentView doc = view(st, params);
  return code_actions(doc, required_range(member(params, "range")), member(params, "context"));
}

struct Method {
  std::string_view name;
  json (*handle)(ServerState& st, const json& params);
};

constexpr Method kMethods[] = {
    {"initialize", initialize},
    {"initialized", nothing},
    {"shutdown", shutdown},
    {"exit", exit_server},
    {"$/cancelRequest", nothing},
    {"$/setTrace", nothing},
    {"textDocument/didOpen", did_open},
    {"textDocument/didChange", did_change},
    {"textDocument/didSave", did_save},
    {"textDocument/didClose", did_close},
    {"textDocument/hover", hover_request},
    {"textDocument/completion", completion_request},
    {"textDocument/documentSymbol", symbols_request},
    {"textDocument/codeAction", code_action_request},
    {"textDocument/formatting", formatting_request},
};

const Method* find_method(std::string_view name) {
  for (const Method& m : kMethods) {
    if (m.name == name) return &m;
  }
  return nullptr;
}

// --- Messages ----------------------------------------------------------------------------------

// Why a message cannot be handled at all, or "".
std::string malformed(const json& message) {
  if (!message.is_object()) return "a message must be a JSON object";
  if (member(message, "jsonrpc") != "2.0") return "\"jsonrpc\" must be \"2.0\"";
  const json& id = member(message, "id");
  if (message.contains("id") && !id.is_string() && !id.is_number_integer() && !id.is_null()) {
    return "\"id\" must be a string or a whole number";
  }
  if (!member(message, "method").is_string()) return "\"method\" must be a string";
  const json& params = member(message, "params");
  if (!params.is_null() && !params.is_object() && !params.is_array()) {
    return "\"params\" must be an object or an array";
  }
  return "";
}

// Runs a method; the error to answer with when it fails.
std::optional<RpcError> run(ServerState& st, const Method& m, const json& params, json& result) {
  try {
    result = m.handle(st, params);
    return std::nullopt;
  } catch (const RpcError& e) {
    return e;
  } catch (const json::exception& e) {
    return RpcError{kInvalidParams, std::string("bad parameters: ") + e.what()};
  } catch (const std::exception& e) {
    return RpcError{kInternalError, std::string("the server failed: ") + e.what()};
  }
}

// The answer to a request, or for a notification that failed a message in the editor's log.
void handle(ServerState& st, const json& message, std::vector<json>& out) {
  bool request = message.is_object() && message.contains("id");
  const json& given = member(message, "id");
  json id = given.is_string() || given.is_number_integer() ? given : json();
  if (std::string why = malformed(message); !why.empty()) {
    // A response from the client has no method; this server sends no requests, so none is due.
    if (message.is_object() && !message.contains("method") &&
        (message.contains("result") || message.contains("error"))) {
      return;
    }
    out.push_back(error_response(id, kInvalidRequest, why));
    return;
  }
  std::string name = message["method"].get<std::string>();
  const Method* m = find_method(name);
  std::optional<RpcError> failed;
  json result;
  if (m == nullptr) {
    if (!request) return;  // unknown notifications are passed over
    failed = RpcError{kMethodNotFound, "no method " + name};
  } else if (!st.initialized && name != "initialize" && name != "exit") {
    if (!request) return;
    failed = RpcError{kServerNotInitialized, "the server is not initialized"};
  } else if (st.shut_down && name != "exit") {
    if (!request) return;
    failed = RpcError{kInvalidRequest, "the server is shut down"};
  } else {
    failed = run(st, *m, member(message, "params"), result);
  }
  if (request) {
    out.push_back(failed ? error_response(id, failed->code, failed->message)
                         : json{{"jsonrpc", "2.0"}, {"id", id}, {"result", result}});
  } else if (failed) {
    out.push_back(notification("window/logMessage",
                               {{"type", 1}, {"message", name + ": " + failed->message}}));
  }
}

std::vector<std::string> serialized(std::vector<json>& messages) {
  std::vector<std::string> bodies;
  for (const json& m : messages) {
    bodies.push_back(m.dump(-1, ' ', false, json::error_handler_t::replace));
  }
  messages.clear();
  return bodies;
}

}  // namespace

Server::Server(FileAccess files) : state_(std::make_unique<ServerState>()) {
  state_->files = std::move(files);
}

Server::~Server() = default;

std::vector<std::string> Server::receive(std::string_view body) {
  std::vector<json> out;
  json message;
  if (std::string problem = body_shape_problem(body); !problem.empty()) {
    out.push_back(error_response(nullptr, kInvalidRequest, problem));
  } else if (message = json::parse(body, nullptr, false); message.is_discarded()) {
    out.push_back(error_response(nullptr, kParseError, "the message is not JSON"));
  } else {
    handle(*state_, message, out);
  }
  for (json& n : state_->outbox) out.push_back(std::move(n));
  state_->outbox.clear();
  return serialized(out);
}

std::vector<std::string> Server::framing_error(std::string_view reason) {
  std::vector<json> out = {
      error_response(nullptr, kParseError, "bytes that make no message: " + std::string(reason))};
  return serialized(out);
}

std::vector<std::string> Server::flush() {
  std::vector<json> out;
  ServerState& st = *state_;
  for (const ScenarioKey& key : st.changed) {
    try {
      compile_scenario(st, key, out);
    } catch (const std::exception& e) {
      out.push_back(notification(
          "window/logMessage",
          {{"type", 1}, {"message", "compiling " + line_path(key) + " failed: " + e.what()}}));
    }
  }
  st.changed.clear();
  return serialized(out);
}

bool Server::exited() const {
  return state_->exited;
}

int Server::exit_status() const {
  return state_->shut_down ? 0 : 1;
}

}  // namespace compactor::lsp

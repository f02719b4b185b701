#include "app/identity.h"

#include <set>
#include <string_view>

#include "app/cli.h"
#include "format/outputs.h"
#include "platform/files.h"
#include "scenario/texts.h"

namespace compactor {

namespace {

constexpr std::string_view kLineSourceEnd = "_linea.txt";
constexpr std::string_view kTrainSourceEnd = "-.txt";
constexpr std::string_view kRecordOutputEnd = ".sim";
// At most this many identities are listed in the usage problem; a count gives the rest.
constexpr size_t kListed = 10;

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool starts_with(std::string_view s, std::string_view head) {
  return s.size() >= head.size() && s.substr(0, head.size()) == head;
}

bool acceptable(const Identity& id, const std::optional<std::string>& line_id,
                const std::optional<std::string>& train_number) {
  return identity_problem(id.line_id).empty() && identity_problem(id.train_number).empty() &&
         (!line_id || *line_id == id.line_id) &&
         (!train_number || *train_number == id.train_number);
}

// Each train source "L_N-.txt" whose line source "L_linea.txt" is among the names.
std::vector<Identity> source_identities(const std::vector<std::string>& names) {
  std::set<std::string> line_ids;
  for (const std::string& n : names) {
    if (ends_with(n, kLineSourceEnd))
      line_ids.insert(n.substr(0, n.size() - kLineSourceEnd.size()));
  }
  std::vector<Identity> out;
  for (const std::string& n : names) {
    if (!ends_with(n, kTrainSourceEnd)) continue;
    std::string_view stem(n.data(), n.size() - kTrainSourceEnd.size());
    for (const std::string& line_id : line_ids) {
      if (stem.size() > line_id.size() + 1 && starts_with(stem, line_id + "_")) {
        out.push_back({line_id, std::string(stem.substr(line_id.size() + 1))});
      }
    }
  }
  return out;
}

// A record output's name without ".sim", split into line id and train number.
std::optional<Identity> split_output_stem(std::string_view stem,
                                          const std::optional<std::string>& line_id,
                                          const std::optional<std::string>& train_number) {
  size_t split = stem.rfind('_');
  if (line_id) {
    if (!starts_with(stem, *line_id + "_")) return std::nullopt;
    split = line_id->size();
  } else if (train_number) {
    if (!ends_with(stem, "_" + *train_number)) return std::nullopt;
    split = stem.size() - train_number->size() - 1;
  }
  if (split == std::string_view::npos) return std::nullopt;
  return Identity{std::string(stem.substr(0, split)), std::string(stem.substr(split + 1))};
}

std::vector<Identity> output_identities(const std::vector<std::string>& names,
                                        const std::optional<std::string>& line_id,
                                        const std::optional<std::string>& train_number) {
  std::vector<Identity> out;
  for (const std::string& n : names) {
    if (!ends_with(n, kRecordOutputEnd)) continue;
    std::string_view stem(n.data(), n.size() - kRecordOutputEnd.size());
    if (auto id = split_output_stem(stem, line_id, train_number)) out.push_back(*id);
  }
  return out;
}

// "DIR holds the sources of more than one scenario (line "A" train "1"; ...): choose one with
// --line-id and --train", naming only the options whose values differ among them.
std::string more_than_one(const std::string& dir, IdentityFiles kind,
                          const std::vector<Identity>& found) {
  std::string text = dir + " holds the " +
                     (kind == IdentityFiles::kSources ? "sources" : "outputs") +
                     " of more than one scenario (";
  bool lines_differ = false;
  bool trains_differ = false;
  for (size_t i = 0; i < found.size(); ++i) {
    lines_differ = lines_differ || found[i].line_id != found[0].line_id;
    trains_differ = trains_differ || found[i].train_number != found[0].train_number;
    if (i >= kListed) continue;
    if (i > 0) text += "; ";
    text += "line \"" + found[i].line_id + "\" train \"" + found[i].train_number + "\"";
  }
  if (found.size() > kListed) text += "; and " + std::to_string(found.size() - kListed) + " more";
  text += "): choose one with ";
  if (lines_differ) text += trains_differ ? "--line-id and " : "--line-id";
  if (trains_differ) text += "--train";
  return text;
}

std::string folded(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

}  // namespace

std::vector<Identity> identities_in(const std::vector<std::string>& names, IdentityFiles kind,
                                    const std::optional<std::string>& line_id,
                                    const std::optional<std::string>& train_number) {
  std::vector<Identity> all = kind == IdentityFiles::kSources
                                  ? source_identities(names)
                                  : output_identities(names, line_id, train_number);
  std::vector<Identity> kept;
  for (Identity& id : all) {
    if (acceptable(id, line_id, train_number)) kept.push_back(std::move(id));
  }
  return kept;
}

std::string find_identity(const std::string& dir, IdentityFiles kind,
                          const std::optional<std::string>& line_id,
                          const std::optional<std::string>& train_number, Identity& identity) {
  Identity chosen{line_id.value_or(kDefaultLineId), train_number.value_or(kDefaultTrainNumber)};
  FileResult listed;
  std::optional<std::vector<std::string>> names;
  if (!line_id || !train_number) names = list_directory(dir, listed);
  if (names) {
    std::vector<Identity> found = identities_in(*names, kind, line_id, train_number);
    if (found.size() > 1) {
      return more_than_one(dir, kind, found);
    }
    if (found.size() == 1) chosen = found.front();
  }
  identity = chosen;
  return "";
}

std::string picture_name(const Identity& identity) {
  return identity.line_id + "_" + identity.train_number + ".svg";
}

std::string shared_file_name(const Identity& identity) {
  Model m;
  m.line_id = identity.line_id;
  m.train_number = identity.train_number;
  std::vector<std::string> names;
  for (const ScenarioText& text : kScenarioTexts) names.push_back(text.name(m));
  names.insert(names.end(), {line_output_name(m), record_output_name(m), grid_output_name(m),
                             picture_name(identity)});
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i + 1; j < names.size(); ++j) {
      if (folded(names[i]) == folded(names[j])) return names[i];
    }
  }
  return "";
}

}  // namespace compactor

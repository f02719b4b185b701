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
constexpr std::string_view kLineOutputEnd = "_linea.dat";
// At most this many identities are listed in the usage problem; a count gives the rest.
constexpr size_t kListed = 10;

std::string folded(std::string s) {
  for (char& c : s) {
    if (c >= 'A' && c <= 'Z') c = static_cast<char>(c - 'A' + 'a');
  }
  return s;
}

// The name among `names` that is `wanted` but for letter case; "" when there is none.
std::string differing_in_case(const std::vector<std::string>& names, const std::string& wanted) {
  for (const std::string& n : names) {
    if (n != wanted && folded(n) == folded(wanted)) return n;
  }
  return "";
}

bool ends_with(std::string_view s, std::string_view tail) {
  return s.size() >= tail.size() && s.substr(s.size() - tail.size()) == tail;
}

bool starts_with(std::string_view s, std::string_view head) {
  return s.size() >= head.size() && s.substr(0, head.size()) == head;
}

bool acceptable(const Identity& id, const std::optional<std::string>& line_id,
                const std::optional<std::string>& train_number) {
  return identities_problem(id.line_id, id.train_number).empty() &&
         (!line_id || *line_id == id.line_id) &&
         (!train_number || *train_number == id.train_number);
}

// The line ids that the names ending in one of `line_ends` ("L_linea.txt", "L_linea.dat") show.
std::set<std::string> line_ids_in(const std::vector<std::string>& names,
                                  std::initializer_list<std::string_view> line_ends) {
  std::set<std::string> line_ids;
  for (const std::string& n : names) {
    for (std::string_view end : line_ends) {
      if (ends_with(n, end)) line_ids.insert(n.substr(0, n.size() - end.size()));
    }
  }
  return line_ids;
}

// Each scenario a name "L_N" + `scenario_end` shows, paired with a line id L of `line_ids`, as
// compile pairs a train source with its line source. A record output that no line id pairs is
// split where the line id or train number given says, else at its last "_".
std::vector<Identity> paired_identities(const std::vector<std::string>& names,
                                        std::string_view scenario_end,
                                        std::set<std::string> line_ids, bool split_unpaired,
                                        const std::optional<std::string>& line_id,
                                        const std::optional<std::string>& train_number) {
  std::vector<Identity> out;
  for (const std::string& n : names) {
    if (!ends_with(n, scenario_end)) continue;
    std::string_view stem(n.data(), n.size() - scenario_end.size());
    std::set<std::string> splits = line_ids;
    if (split_unpaired && line_id) splits.insert(*line_id);
    if (split_unpaired && train_number && ends_with(stem, "_" + *train_number)) {
      splits.insert(std::string(stem.substr(0, stem.size() - train_number->size() - 1)));
    }
    const size_t before = out.size();
    for (const std::string& l : splits) {
      if (stem.size() > l.size() + 1 && starts_with(stem, l + "_")) {
        out.push_back({l, std::string(stem.substr(l.size() + 1))});
      }
    }
    const size_t last = stem.rfind('_');
    if (split_unpaired && out.size() == before && !line_id && !train_number &&
        last != std::string_view::npos) {
      out.push_back({std::string(stem.substr(0, last)), std::string(stem.substr(last + 1))});
    }
  }
  return out;
}

// Each train source "L_N-.txt" whose line source "L_linea.txt" is among the names.
std::vector<Identity> source_identities(const std::vector<std::string>& names) {
  return paired_identities(names, kTrainSourceEnd, line_ids_in(names, {kLineSourceEnd}), false,
                           std::nullopt, std::nullopt);
}

// Each record output "L_N.sim" paired as compile pairs its train source: with a line output
// "L_linea.dat" or a line source "L_linea.txt" among the names.
std::vector<Identity> output_identities(const std::vector<std::string>& names,
                                        const std::optional<std::string>& line_id,
                                        const std::optional<std::string>& train_number) {
  return paired_identities(names, kRecordOutputEnd,
                           line_ids_in(names, {kLineSourceEnd, kLineOutputEnd}), true, line_id,
                           train_number);
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

// The line sources that a train source "A_B_7-.txt" may go with: "A_linea.txt or A_B_linea.txt".
std::string line_sources_for(std::string_view stem) {
  std::string text;
  for (size_t split = stem.find('_'); split != std::string_view::npos;
       split = stem.find('_', split + 1)) {
    if (split == 0 || split + 1 == stem.size()) continue;
    if (!text.empty()) text += " or ";
    text += std::string(stem.substr(0, split)) + std::string(kLineSourceEnd);
  }
  return text;
}

// When the names hold train sources without a line source, and not the default scenario's own
// (whose line source a compile then names), what they need: "DIR holds no line source for its
// train source L_2-.txt: it needs L_linea.txt"; "" otherwise. Only train sources that fit the
// line id and train number given are named.
std::string missing_line_sources(const std::string& dir, const std::vector<std::string>& names,
                                 const std::optional<std::string>& line_id,
                                 const std::optional<std::string>& train_number) {
  const Identity fallback{line_id.value_or(kDefaultLineId),
                          train_number.value_or(kDefaultTrainNumber)};
  const std::string own = fallback.line_id + "_" + fallback.train_number;
  std::vector<std::string> needs;
  for (const std::string& n : names) {
    if (!ends_with(n, kTrainSourceEnd)) continue;
    std::string_view stem(n.data(), n.size() - kTrainSourceEnd.size());
    if (stem == own) return "";
    if (line_id && !starts_with(stem, *line_id + "_")) continue;
    if (train_number && !ends_with(stem, "_" + *train_number)) continue;
    std::string lines = line_sources_for(stem);
    if (lines.empty()) continue;
    std::string need = n + ": it needs " + lines;
    for (size_t split = stem.find('_'); split != std::string_view::npos;
         split = stem.find('_', split + 1)) {
      const std::string line = std::string(stem.substr(0, split)) + std::string(kLineSourceEnd);
      if (std::string other = differing_in_case(names, line); !other.empty()) {
        need += " (found " + other + ", whose letter case differs)";
      }
    }
    needs.push_back(need);
  }
  if (needs.empty()) return "";
  std::string text = dir + " holds no line source for its train source ";
  for (size_t i = 0; i < needs.size() && i < kListed; ++i) text += (i > 0 ? "; " : "") + needs[i];
  if (needs.size() > kListed) text += "; and " + std::to_string(needs.size() - kListed) + " more";
  return text;
}

Model model_named(const Identity& identity) {
  Model m;
  m.line_id = identity.line_id;
  m.train_number = identity.train_number;
  return m;
}

// The program's own texts of a scenario beside its sources ("_note.txt", ...): how their names
// end after the train number.
std::vector<std::string> text_name_ends() {
  const Model m = model_named(Identity{std::string("L"), std::string("N")});
  std::vector<std::string> ends;
  for (const ScenarioText& text : kScenarioTexts) {
    const std::string name = text.name(m);
    if (starts_with(name, "L_N_")) ends.push_back(name.substr(3));
  }
  return ends;
}

// What a file among `names` that the author may have meant as the train source of line
// `line_id` is named wrongly for: "L_2417.txt (a train source name ends in "-.txt")",
// "l_2417-.txt (its letter case differs from L_linea.txt's)"; "" when it is none.
std::string misnamed_train_source(const std::string& n, const std::string& line_id) {
  const std::string start = line_id + "_";
  if (folded(n).rfind(folded(start), 0) != 0 || !ends_with(folded(n), ".txt") ||
      n.size() <= start.size() + 4 || folded(n) == folded(line_id + std::string(kLineSourceEnd))) {
    return "";
  }
  for (const std::string& end : text_name_ends()) {
    if (ends_with(folded(n), folded(end))) return "";
  }
  if (!ends_with(n, kTrainSourceEnd)) {
    return n + " (a train source name ends in \"" + std::string(kTrainSourceEnd) + "\")";
  }
  return n + " (its letter case differs from " + line_id + std::string(kLineSourceEnd) + "'s)";
}

// When the names hold a line source whose line has no train source there, and not the default
// scenario's sources: "no train source for line "L" in DIR: found L_2417.txt (a train source name
// ends in "-.txt")", or "...: it needs L_NUM-.txt" when nothing there looks meant as one; ""
// otherwise. Only line sources that fit the line id given are named.
std::string missing_train_sources(const std::string& dir, const std::vector<std::string>& names,
                                  const std::optional<std::string>& line_id,
                                  const std::optional<std::string>& train_number) {
  const Identity fallback{line_id.value_or(kDefaultLineId),
                          train_number.value_or(kDefaultTrainNumber)};
  const Model own = model_named(fallback);
  for (const std::string& n : names) {
    if (n == line_source_name(own) || n == train_source_name(own)) return "";
  }
  for (const std::string& line : line_ids_in(names, {kLineSourceEnd})) {
    if (line_id && *line_id != line) continue;
    std::string found;
    for (const std::string& n : names) {
      std::string misnamed = misnamed_train_source(n, line);
      if (!misnamed.empty()) found += (found.empty() ? "" : "; ") + misnamed;
    }
    const std::string number = train_number.value_or("NUM");
    return "no train source for line \"" + line + "\" in " + dir + ": " +
           (found.empty() ? "it needs " + line + "_" + number + std::string(kTrainSourceEnd)
                          : "found " + found);
  }
  return "";
}

// The names of every file the program makes for a scenario: its texts, outputs and picture.
std::vector<std::string> file_names_of(const Identity& identity) {
  const Model m = model_named(identity);
  std::vector<std::string> names;
  for (const ScenarioText& text : kScenarioTexts) names.push_back(text.name(m));
  names.insert(names.end(), {line_output_name(m), record_output_name(m), grid_output_name(m),
                             picture_name(identity)});
  return names;
}

// The file of another scenario in `names` (or of another line source's line) that `output`
// would overwrite, with whose file it is; "" when there is none.
std::string owner_of(const std::string& output, const Identity& own,
                     const std::vector<std::string>& names) {
  const std::string own_stem = own.line_id + "_" + own.train_number;
  for (const Identity& other : source_identities(names)) {
    // The same train source paired with another line gives the same names: that is the choice
    // between the two lines, which --line-id makes, not another scenario's file.
    if (other.line_id + "_" + other.train_number == own_stem ||
        !identity_problem(other.line_id).empty() ||
        !identity_problem(other.train_number).empty()) {
      continue;
    }
    const std::string shared_line_output = line_output_name(model_named(other));
    for (const std::string& name : file_names_of(other)) {
      // The trains of one line share its line output: the same bytes from the same source.
      if (other.line_id == own.line_id && name == shared_line_output) continue;
      if (folded(name) == folded(output)) {
        return "line \"" + other.line_id + "\" train \"" + other.train_number + "\"";
      }
    }
  }
  for (const std::string& line_id : line_ids_in(names, {kLineSourceEnd})) {
    if (line_id == own.line_id) continue;
    if (folded(line_output_name(model_named({line_id, ""}))) == folded(output)) {
      return "line \"" + line_id + "\"";
    }
  }
  return "";
}

}  // namespace

std::string output_name_taken(const std::string& dir, const Identity& identity) {
  FileResult listed;
  const std::optional<std::vector<std::string>> names = list_directory(dir, listed);
  return names ? output_name_taken_in(*names, dir, identity) : "";
}

std::string output_name_taken_in(const std::vector<std::string>& names, const std::string& dir,
                                 const Identity& identity) {
  const Model m = model_named(identity);
  for (const std::string& output : {line_output_name(m), record_output_name(m),
                                    grid_output_name(m)}) {
    if (std::string owner = owner_of(output, identity, names); !owner.empty()) {
      return "line \"" + identity.line_id + "\" train \"" + identity.train_number +
             "\" would write " + output + ", which is a file of " + owner + " in " + dir +
             ": rename one of their sources";
    }
  }
  return "";
}

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
  FileResult listed;
  std::optional<std::vector<std::string>> names;
  if (!line_id || !train_number) names = list_directory(dir, listed);
  if (!names) {
    identity = {line_id.value_or(kDefaultLineId), train_number.value_or(kDefaultTrainNumber)};
    return "";
  }
  return find_identity_in(*names, dir, kind, line_id, train_number, identity);
}

std::string find_identity_in(const std::vector<std::string>& names, const std::string& dir,
                             IdentityFiles kind, const std::optional<std::string>& line_id,
                             const std::optional<std::string>& train_number, Identity& identity) {
  Identity chosen{line_id.value_or(kDefaultLineId), train_number.value_or(kDefaultTrainNumber)};
  // Both given: nothing is to be found.
  if (!line_id || !train_number) {
    std::vector<Identity> found = identities_in(names, kind, line_id, train_number);
    if (found.size() > 1) {
      return more_than_one(dir, kind, found);
    }
    if (found.size() == 1) chosen = found.front();
    if (found.empty() && kind == IdentityFiles::kSources) {
      if (std::string p = missing_line_sources(dir, names, line_id, train_number); !p.empty()) {
        return p;
      }
      if (std::string p = missing_train_sources(dir, names, line_id, train_number); !p.empty()) {
        return p;
      }
    }
  }
  identity = chosen;
  return "";
}

std::string picture_name(const Identity& identity) {
  return identity.line_id + "_" + identity.train_number + ".svg";
}

std::string shared_file_name(const Identity& identity) {
  const std::vector<std::string> names = file_names_of(identity);
  for (size_t i = 0; i < names.size(); ++i) {
    for (size_t j = i + 1; j < names.size(); ++j) {
      if (folded(names[i]) == folded(names[j])) return names[i];
    }
  }
  return "";
}

}  // namespace compactor

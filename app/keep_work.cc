#include "app/keep_work.h"

#include "model/errors.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "scenario/texts.h"
#include "tools/diagnostics.h"

namespace compactor {

std::string changed_texts(const RunOptions& opts) {
  if (opts.force) return "";
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  std::string refusals;
  for (const ScenarioText& text : kScenarioTexts) {
    std::string path = join_path(opts.dir, text.name(m));
    if (!file_exists(path)) continue;
    FileResult r;
    std::optional<std::string> bytes = read_file(path, r);
    if (bytes && *bytes == text_from_table(text.table())) continue;
    if (!bytes && r.short_of_resources) {
      // Not a text that differs: the run itself is short of descriptors or memory, --force would
      // not help it, and the texts after this one would say the same.
      return refusals + format_note(path + " cannot be read (" + r.reason +
                                    "): the run is short of open files or memory, not the file; "
                                    "run it again when more are free");
    }
    std::string why = bytes ? "exists and differs from the scenario's text"
                            : "exists and cannot be read (" + r.reason + ")";
    refusals += format_note(path + " " + why + "; --force overwrites it");
  }
  return refusals;
}

bool holds_the_error(const Model& m, const Sources&, const SourceFile& f) {
  if (m.error_code == 0) return false;
  // Where the errors arose, not where the outcome points: a line-source error that stopped the
  // train half at one of its records is in the line source alone. Every error the compile
  // records is in the log.
  for (const RecordedError& e : m.error_log) {
    if (e.source.file.empty() || e.source.file == f.name) return true;
  }
  return false;
}

}  // namespace compactor

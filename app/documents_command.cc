#include "app/documents_command.h"

#include <cstdio>

#include "compiler/compile.h"
#include "compiler/document_facts.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "scenario/driver_documents.h"
#include "tools/diagnostics.h"

namespace compactor {

namespace {

constexpr int kCannotFinish = 3;

// A document to write: its path and what it says.
struct PlannedDocument {
  std::string path;
  LaidOutDocument text;
};

// A document's path as the author gave the directory: "." adds nothing.
std::string document_path(const RunOptions& opts, const std::string& name) {
  return opts.dir == "." ? name : join_path(opts.dir, name);
}

// The form and the card, and the notes when none stand in the directory.
std::vector<PlannedDocument> planned_documents(const RunOptions& opts, const Model& m,
                                               const DocumentFacts& facts) {
  std::vector<PlannedDocument> planned = {
      {document_path(opts, slow_order_form_name(m)), slow_order_form_document(facts)},
      {document_path(opts, timetable_card_name(m)), timetable_card_document(facts)},
  };
  const std::string notes = document_path(opts, notes_name(m));
  if (!file_exists(notes)) planned.push_back({notes, notes_document(facts)});
  return planned;
}

// A line for each document that stands there and differs from what would be written.
std::string refusals(const std::vector<PlannedDocument>& planned) {
  std::string text;
  for (const PlannedDocument& doc : planned) {
    if (!file_exists(doc.path)) continue;
    FileResult r;
    const std::optional<std::string> bytes = read_file(doc.path, r);
    if (bytes && *bytes == doc.text.bytes) continue;
    const std::string why = bytes ? "exists and differs from the document made from the sources"
                                  : "exists and cannot be read (" + r.reason + ")";
    text += format_note(doc.path + " " + why + "; --force overwrites it");
  }
  return text;
}

int write_documents(const RunOptions& opts, const std::vector<PlannedDocument>& planned) {
  StagedFiles staged;
  for (const PlannedDocument& doc : planned) {
    if (FileResult r = staged.add(doc.path, doc.text.bytes); !r.ok) {
      std::fputs(format_note("cannot write " + doc.path + ": " + r.reason).c_str(), stderr);
      return kCannotFinish;
    }
  }
  std::string failed_path;
  if (FileResult r = staged.commit(failed_path); !r.ok) {
    std::fputs(format_note("cannot write " + failed_path + ": " + r.reason).c_str(), stderr);
    return kCannotFinish;
  }
  for (const PlannedDocument& doc : planned) {
    if (opts.verbose) {
      std::printf("wrote %s (%zu bytes)\n", doc.path.c_str(), doc.text.bytes.size());
    }
  }
  return 0;
}

// What the layout had to do that the page does not hold as it stands.
void print_notices(const RunOptions& opts, const std::vector<PlannedDocument>& planned) {
  if (opts.quiet) return;
  for (const PlannedDocument& doc : planned) {
    for (const std::string& notice : doc.text.notices) {
      const std::string text = "warning: " + doc.path + ": " + escaped_text(notice);
      std::fputs(format_note(text, opts.color).c_str(), stderr);
    }
  }
}

}  // namespace

int run_documents(const RunOptions& opts) {
  DirectoryLock lock;
  if (int status =
          lock_run_directory(opts.dir, LockMode::kExclusive, opts.no_wait, opts.quiet, lock);
      status >= 0) {
    return status;
  }
  Model m;
  m.line_id = opts.line_id;
  m.train_number = opts.train_number;
  Sources s;
  if (!load_sources(opts.dir, m, s)) return kCannotFinish;
  if (!s.train.bytes) {
    std::fputs(format_note("no train source " + s.train.name +
                           ": nothing to make the documents "
                           "from")
                   .c_str(),
               stderr);
    return kCannotFinish;
  }
  if (compile_model(m, opts.with_plan, s) != PassOutcome::kReady || m.error_code != 0) {
    std::fputs(format_note("documents not written: the sources hold an error (check " + opts.dir +
                               " shows it)",
                           opts.color)
                   .c_str(),
               stderr);
    return 1;
  }
  const std::vector<PlannedDocument> planned =
      planned_documents(opts, m, document_facts(m, *s.train.bytes));
  if (std::string refused = opts.force ? "" : refusals(planned); !refused.empty()) {
    std::fputs(refused.c_str(), stderr);
    return kCannotFinish;
  }
  print_notices(opts, planned);
  return write_documents(opts, planned);
}

}  // namespace compactor

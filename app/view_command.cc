#include "app/view_command.h"

#include <cstdio>
#include <optional>
#include <utility>

#include "app/author_tools.h"
#include "app/build_run.h"
#include "platform/files.h"
#include "platform/platform.h"
#include "scenario/texts.h"
#include "tools/diagnostics.h"
#include "tools/view.h"

namespace compactor {

namespace {

// The diagnostics of the sources beside the outputs, when at least one of them is there.
// -1 when done, else the exit status.
int add_source_report(const PlotOptions& opts, ViewData& data) {
  const Model names = names_of(opts.identity);
  Sources s;
  if (!load_sources(opts.dir, names, s)) return 3;
  // The page names the sources by their bare file names: it is read away from the directory.
  s.line.name = line_source_name(names);
  s.train.name = train_source_name(names);
  if (!s.line.bytes && !s.train.bytes) return -1;
  data.sources = report_sources(names, opts.with_plan, std::move(s));
  return -1;
}

}  // namespace

int run_view(const PlotOptions& opts) {
  // Held until the sources are read too: the page shows one state of the directory.
  DirectoryLock lock;
  if (int status = lock_for_reading(opts, lock); status >= 0) return status;
  PlotData outputs;
  if (int status = read_outputs(opts, outputs); status >= 0) return status;
  ViewData data;
  data.line_id = outputs.line_id;
  data.train_number = outputs.train_number;
  data.items = std::move(outputs.items);
  data.cells = std::move(outputs.cells);
  data.plan = std::move(outputs.plan);
  data.outputs_older_than_sources = warn_if_outputs_older(opts);
  if (int status = add_source_report(opts, data); status >= 0) return status;
  return write_page(opts, ".html", view_html(data));
}

}  // namespace compactor

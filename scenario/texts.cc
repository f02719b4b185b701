#include "scenario/texts.h"

namespace compactor {

std::string text_from_table(const std::vector<std::string>& table) {
  std::string text;
  for (const std::string& line : table) {
    if (line == kTableSentinel) break;
    text += line;
    text += "\r\n";
  }
  return text;
}

std::string line_source_name(const Model& m) {
  return m.line_id + "_linea.txt";
}

std::string train_source_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "-.txt";
}

std::string notes_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_note.txt";
}

std::string slow_order_form_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_rallentamenti.txt";
}

std::string timetable_card_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_scheda_treno.txt";
}

}  // namespace compactor

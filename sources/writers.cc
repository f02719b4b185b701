#include "sources/writers.h"

#include "app/files.h"
#include "app/platform.h"

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

std::string linea_file_name(const Model& m) {
  return m.line_id + "_linea.txt";
}

std::string treno_file_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "-.txt";
}

std::string note_file_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_note.txt";
}

std::string rallentamenti_file_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_rallentamenti.txt";
}

std::string scheda_file_name(const Model& m) {
  return m.line_id + "_" + m.train_number + "_scheda_treno.txt";
}

namespace {

void write_table(const std::string& dir, const std::string& name,
                 const std::vector<std::string>& table) {
  write_file_or_exit(join_path(dir, name), text_from_table(table));
}

}  // namespace

void dati_linea(const Model& m, const std::string& dir) {
  write_table(dir, linea_file_name(m), linea_table());
}

void dati_treno(const Model& m, const std::string& dir) {
  write_table(dir, treno_file_name(m), treno_table());
}

void dati_note(const Model& m, const std::string& dir) {
  write_table(dir, note_file_name(m), note_table());
}

void dati_rallentamenti(const Model& m, const std::string& dir) {
  write_table(dir, rallentamenti_file_name(m), rallentamenti_table());
}

void dati_scheda(const Model& m, const std::string& dir) {
  write_table(dir, scheda_file_name(m), scheda_table());
}

}  // namespace compactor

// The five writers of the scenario's text files: line source, train source, notes, slow-order
// form and timetable card. Every line is fixed scenario text; the identity enters only the names.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"

namespace compactor {

// Ends every writer's line table; never written, and no content line may equal it.
inline constexpr const char* kTableSentinel = "riferimento fine del file";

// The bytes of a file written from a line table: each entry up to (not including) the first one
// that equals the sentinel exactly, each followed by CR LF.
std::string text_from_table(const std::vector<std::string>& table);

// Each writer's line table, sentinel included.
std::vector<std::string> linea_table();
std::vector<std::string> treno_table();
std::vector<std::string> note_table();
std::vector<std::string> rallentamenti_table();
std::vector<std::string> scheda_table();

// File names (without directory).
std::string linea_file_name(const Model& m);          // line_id + "_linea.txt"
std::string treno_file_name(const Model& m);          // line_id + "_" + train_number + "-.txt"
std::string note_file_name(const Model& m);           // ... "_note.txt"
std::string rallentamenti_file_name(const Model& m);  // ... "_rallentamenti.txt"
std::string scheda_file_name(const Model& m);         // ... "_scheda_treno.txt"

// Write one file into dir, replacing any file of that name. A failure ends the run (exit 3).
void dati_linea(const Model& m, const std::string& dir);
void dati_treno(const Model& m, const std::string& dir);
void dati_note(const Model& m, const std::string& dir);
void dati_rallentamenti(const Model& m, const std::string& dir);
void dati_scheda(const Model& m, const std::string& dir);

}  // namespace compactor

// The scenario's five text files: line source, train source, notes, slow-order form and
// timetable card. Every line is fixed scenario text; the identity enters only the names. Nothing
// here reads or writes a file: the build run writes what these functions give.
#pragma once

#include <string>
#include <vector>

#include "model/model.h"

namespace compactor {

// The identity of the default scenario.
inline constexpr const char* kDefaultLineId = "QUELDRANO 2";
inline constexpr const char* kDefaultTrainNumber = "555";

// Ends every line table; never written, and no content line may equal it.
inline constexpr const char* kTableSentinel = "riferimento fine del file";

// The bytes of a file written from a line table: each entry up to (not including) the first one
// that equals the sentinel exactly, each followed by CR LF.
std::string text_from_table(const std::vector<std::string>& table);

// Each text's line table, sentinel included.
std::vector<std::string> line_source_table();
std::vector<std::string> train_source_table();
std::vector<std::string> notes_table();
std::vector<std::string> slow_order_form_table();
std::vector<std::string> timetable_card_table();

// File names (without directory).
std::string line_source_name(const Model& m);      // line_id + "_linea.txt"
std::string train_source_name(const Model& m);     // line_id + "_" + train_number + "-.txt"
std::string notes_name(const Model& m);            // ... "_note.txt"
std::string slow_order_form_name(const Model& m);  // ... "_rallentamenti.txt"
std::string timetable_card_name(const Model& m);   // ... "_scheda_treno.txt"

// One of the five texts: its file name for an identity and its line table.
struct ScenarioText {
  std::string (*name)(const Model& m);
  std::vector<std::string> (*table)();
};

// The five texts in the order the build run writes them.
inline constexpr ScenarioText kScenarioTexts[] = {
    {line_source_name, line_source_table},
    {train_source_name, train_source_table},
    {notes_name, notes_table},
    {slow_order_form_name, slow_order_form_table},
    {timetable_card_name, timetable_card_table},
};

}  // namespace compactor

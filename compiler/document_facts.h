// The facts of the driver's documents, taken from a compiled model and its train source.
#pragma once

#include <string_view>
#include <vector>

#include "model/documents.h"
#include "model/model.h"
#include "syntax/lexer.h"

namespace compactor {

// A slow-order record of the train source that was read whole, with where its keyword stands.
struct SourceSlowOrder {
  DocumentSlowOrder order;
  LexedField keyword;
};

// Every slow-order record of the train source read whole, in the order of the source.
std::vector<SourceSlowOrder> source_slow_orders(std::string_view train_source);

// The stations of the compiled records (1 upwards, up to the first empty record).
std::vector<DocumentStation> compiled_stations(const Model& m);

// Each cell up to the line's length where the compiled speed limit changes (the first cell
// included), in metres and km/h.
std::vector<DocumentSpeedChange> compiled_speed_changes(const Model& m);

// All the facts: the identity, braked mass, stations and speed limit of the compiled model and the
// slow orders of the train source in order of position.
DocumentFacts document_facts(const Model& m, std::string_view train_source);

}  // namespace compactor

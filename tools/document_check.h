// What check says about the driver's documents beside the sources: a slow-order form that does
// not list the train source's slow orders, and a form or timetable card of another train.
#pragma once

#include <optional>
#include <string>
#include <vector>

#include "compiler/compiler.h"

namespace compactor {

// A document as read from its file.
struct DriverDocument {
  std::string path;
  std::string bytes;
};

// A row of a slow-order form: kilometre (in metres), speed and length, each unset where its cell
// holds no number, and its line.
struct FormRow {
  std::optional<int32_t> start;
  std::optional<int32_t> speed;
  std::optional<int32_t> length;
  int32_t line = 0;
};

// The rows of a form that give a kilometre ("Km 19.450"), in the order of the form.
std::vector<FormRow> form_rows(const std::string& form);

// The train number a form ("del treno 555 di ...") or card ("TRENO n. 555") names, with its line;
// nullopt when the document names none.
struct NamedTrain {
  std::string number;
  int32_t line = 0;
  std::string rest;  // the line after "del treno " or "TRENO n. "
};
std::optional<NamedTrain> form_train(const std::string& form);
std::optional<NamedTrain> card_train(const std::string& card);

// The warnings: each slow order of the train source that the form does not list (by kilometre,
// speed and length), each form row that matches no slow order, and each document that names
// another train than `train_number`. The card's rows are not checked: a card may be made by hand.
std::vector<Warning> stale_document_warnings(const std::optional<DriverDocument>& form,
                                             const std::optional<DriverDocument>& card,
                                             const std::string& train_number,
                                             const SourceFile& train);

}  // namespace compactor

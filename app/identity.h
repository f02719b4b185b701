// A scenario's identity (line id and train number): found from the files in its directory, and
// checked so that no two of its files share a name.
#pragma once

#include <optional>
#include <string>
#include <vector>

namespace compactor {

struct Identity {
  std::string line_id;
  std::string train_number;
  bool operator==(const Identity&) const = default;
};

// Which files show a scenario's identity.
enum class IdentityFiles {
  kSources,  // a line source ID_linea.txt with a train source ID_NUM-.txt
  kOutputs,  // a record output ID_NUM.sim
};

// Every identity that these file names show, in the order of the names, kept to the line id and
// the train number that are given. A train source "L_N-.txt" or a record output "L_N.sim" shows
// the scenario of line L when a line source "L_linea.txt" is among the names (or, for a record
// output, a line output "L_linea.dat"), as compile pairs them; a record output that none pairs is
// split where the line id or train number given says, else at its last "_". Identities that
// identities_problem refuses are left out.
std::vector<Identity> identities_in(const std::vector<std::string>& names, IdentityFiles kind,
                                    const std::optional<std::string>& line_id,
                                    const std::optional<std::string>& train_number);

// The identity of the scenario in `dir`: the line id and train number given, and what is not
// given taken from the files in `dir` when they show exactly one identity, or the default
// scenario's when they show none (or `dir` cannot be listed). When they show more than one, or
// (for sources) none while train sources there lack their line source, `identity` is left as it
// is and the usage problem that names them is returned; "" otherwise.
std::string find_identity(const std::string& dir, IdentityFiles kind,
                          const std::optional<std::string>& line_id,
                          const std::optional<std::string>& train_number, Identity& identity);
// The same from the names a look at `dir` found.
std::string find_identity_in(const std::vector<std::string>& names, const std::string& dir,
                             IdentityFiles kind, const std::optional<std::string>& line_id,
                             const std::optional<std::string>& train_number, Identity& identity);

// Why the scenario `identity` must not write its outputs in `dir`, or "": the name of one of them
// is the name of a file of another scenario whose sources are there (an output, a text or the
// picture), or the line output of another line source there. Letters are compared without case.
std::string output_name_taken(const std::string& dir, const Identity& identity);
// The same from the names a look at `dir` found.
std::string output_name_taken_in(const std::vector<std::string>& names, const std::string& dir,
                                 const Identity& identity);

// The name of the picture plot draws: ID_NUM.svg.
std::string picture_name(const Identity& identity);

// A file name that two of the program's files would share for this identity (letters compared
// without case, as Windows compares them), or "" when every name is its own.
std::string shared_file_name(const Identity& identity);

}  // namespace compactor

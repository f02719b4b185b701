// The slow-order form handed to the driver, line by line. Lines 9 to 40 form a grid with
// cells of 3, 28, 12, 10, 9 and 12 characters; rows 13 to 16 restate the four slow orders of the
// train source file.
#include "scenario/line_table.h"
#include "scenario/texts.h"

namespace compactor {
namespace {

constexpr const char* kLines[] = {
    "",
    "                               Modulo M. 3",
    "                           ORDINE DI RALLENTAMENTO",
    " ________________________________________________________________________________",
    "  Linea  Queldrano",
    "",
    "  Si ordina al macchinista del treno 555 di effettura i seguenti rallentamenti",
    "  _______________________________________________________________________________",
    " |   |                            |Inizio dopo |          |         |            |",
    " | N.|      FRA LE STAZIONI       | il cippo   | Velocita'|Lunghezza|Prescrizioni|",
    " |   |   (o nelle Stazioni di)    |chilometrico|          |   metri | specifiche |",
    " |___|____________________________|____________|__________|_________|____________|",
    " | 1 | Torricola - Pomezia        |Km 19.450   |  40 Km/h |   300   |            |",
    " | 2 | Campoleone - Cisterna      |Km 37.300   |  50 Km/h |   200   |            |",
    " | 3 | Fondi - Itri               |Km 119.250  |  40 Km/h |   200   |            |",
    " | 4 | Aversa                     |Km 194.800  |  80 Km/h |   750   |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |   |                            |            |          |         |            |",
    " |___|____________________________|____________|__________|_________|____________|",
    "",
    "              Prescrizioni specifiche",
    " A - Da rispettare con tutto il treno (per i treni viaggiatori)",
    " B - Interessa anche la stazione di.......",
    " D - Rallentamneto N. ... e N. ...  sono contigui",
    " C - Da rispettare dalle ore ....  alle ore ..... di tutti",
    "     i giorni esclusi i seguenti:.........",
};

}  // namespace

std::vector<std::string> slow_order_form_table() {
  return table_with_sentinel(kLines);
}

}  // namespace compactor

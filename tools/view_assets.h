// The page's template, script and style from web/, built into the program (the build turns each
// file into a string in the generated view_assets.cc), so that the program needs no file at run
// time.
#pragma once

#include <string_view>

namespace compactor {

// web/view.html: the page, with the place holders @TITLE@, /*@STYLE@*/, @HEADING@, @DATA@ and
// /*@SCRIPT@*/, in this order.
extern const std::string_view kViewTemplate;
// web/view.css
extern const std::string_view kViewStyle;
// web/view.js
extern const std::string_view kViewScript;

}  // namespace compactor

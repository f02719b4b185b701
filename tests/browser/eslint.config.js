// The lint of the page's script (web/view.js): ESLint's recommended rules for a browser script,
// and a few that keep it plain. Run from the top of the repository (scripts/test-browser.sh):
//   tests/browser/node_modules/.bin/eslint --config tests/browser/eslint.config.js web tests/browser
import js from "@eslint/js";
import globals from "globals";

export default [
  { ignores: ["tests/browser/node_modules/**"] },
  js.configs.recommended,
  {
    files: ["web/**/*.js"],
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: "script",
      globals: { ...globals.browser },
    },
    rules: {
      "no-var": "error",
      "prefer-const": "error",
      eqeqeq: "error",
      "no-implicit-globals": "error",
      "no-shadow": "error",
      curly: ["error", "multi-line"],
      strict: ["error", "global"],
    },
  },
  {
    // The tests run in node; the functions they hand to the page run in the browser.
    files: ["tests/browser/**/*.js"],
    languageOptions: {
      ecmaVersion: 2022,
      sourceType: "module",
      globals: { ...globals.node, ...globals.browser },
    },
  },
];

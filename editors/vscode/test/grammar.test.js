// The grammar of the two sources, run by the same TextMate engine as the editor's: every pattern
// compiles, and sample lines of both sources get the scopes of their keywords, numbers, sections,
// texts and remarks.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const fs = require('node:fs');
const path = require('node:path');
const vsctm = require('vscode-textmate');
const oniguruma = require('vscode-oniguruma');

const root = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));
const grammarPath = path.join(root, manifest.contributes.grammars[0].path);
const grammarText = fs.readFileSync(grammarPath, 'utf8');

const onigLib = (async () => {
  const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
  await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
  return {
    createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
    createOnigString: (s) => new oniguruma.OnigString(s),
  };
})();

async function loadGrammar() {
  const registry = new vsctm.Registry({
    onigLib,
    loadGrammar: async (scope) =>
      scope === manifest.contributes.grammars[0].scopeName
        ? vsctm.parseRawGrammar(grammarText, grammarPath)
        : null,
  });
  return registry.loadGrammar(manifest.contributes.grammars[0].scopeName);
}

// Every "match" of the grammar, wherever it stands.
function patterns(node, out = []) {
  if (node && typeof node === 'object') {
    for (const [key, value] of Object.entries(node)) {
      if (['match', 'begin', 'end'].includes(key)) out.push(value);
      else patterns(value, out);
    }
  }
  return out;
}

// The text of each token of a line with the most specific scope it has.
function tokens(grammar, line) {
  const result = grammar.tokenizeLine(line, vsctm.INITIAL);
  return result.tokens.map((t) => [line.slice(t.startIndex, t.endIndex), t.scopes[t.scopes.length - 1]]);
}

function scopeOf(grammar, line, text) {
  const found = tokens(grammar, line).find(([t]) => t === text);
  assert.ok(found, `no token "${text}" in ${JSON.stringify(tokens(grammar, line))}`);
  return found[1];
}

test('every pattern compiles in Oniguruma', async () => {
  await onigLib;
  const all = patterns(JSON.parse(grammarText));
  assert.ok(all.length >= 5);
  for (const p of all) assert.doesNotThrow(() => new oniguruma.OnigScanner([p]), p);
});

test('the manifest maps both sources to the language of the grammar', () => {
  const language = manifest.contributes.languages[0];
  assert.deepStrictEqual(language.filenamePatterns, ['*_linea.txt', '*-.txt']);
  assert.strictEqual(manifest.contributes.grammars[0].language, language.id);
});

test('sample lines of both sources get their scopes', async () => {
  const grammar = await loadGrammar();
  const cases = [
    ['[generale]', '[generale]', 'entity.name.section.compactor'],
    ['lunghezza percorso,    228000', 'lunghezza percorso', 'keyword.control.record.compactor'],
    ['lunghezza percorso,    228000', '228000', 'constant.numeric.compactor'],
    ['ripetizione segnali 9 codici,    650,    211050', 'ripetizione segnali 9 codici', 'keyword.control.record.compactor'],
    ['curvad3,  1000,  500', 'curvad3', 'keyword.control.record.compactor'],
    ['pendenza,  1350,   -2', '-2', 'constant.numeric.compactor'],
    ['MONTAGNA,   9500,  9550,  2', 'MONTAGNA', 'keyword.control.record.compactor'],
    ['cartello_indicatore,  30000, (GALLERIA)(VIVOLA  )(M. 4500 )', '(GALLERIA)(VIVOLA  )(M. 4500 )', 'string.unquoted.text.compactor'],
    ['orologio,    19              7             30 ', '7', 'constant.numeric.compactor'],
    ['stazione,   23950, 12,  500,  0, 0, 1,  1,1,0,  4,1,1,    0,   0, 0, 0, POMEZIA-S. PALOMBA', 'POMEZIA-S. PALOMBA', 'string.unquoted.text.compactor'],
    ['stazione,   23950, 12,  500,  0, 0, 1,  1,1,0,  4,1,1,    0,   0, 0, 0, POMEZIA-S. PALOMBA', '23950', 'constant.numeric.compactor'],
    ['-- the viaduct starts here --', '-- the viaduct starts here --', 'comment.line.remark.compactor'],
    ['[vel-limite]', '[vel-limite]', 'comment.line.remark.compactor'],
  ];
  for (const [line, text, scope] of cases) {
    assert.strictEqual(scopeOf(grammar, line, text), scope, `${text} in ${line}`);
  }
  // A misspelt keyword is no keyword.
  for (const [, scope] of tokens(grammar, 'montagan,   30000,  30600,  2')) {
    assert.notStrictEqual(scope, 'keyword.control.record.compactor');
  }
});

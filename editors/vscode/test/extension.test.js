// The client starts `compactor lsp` (or the program set in compactor.path) for the language of
// the grammar, with the editor's module and the language client replaced by recorders.
'use strict';

const test = require('node:test');
const assert = require('node:assert');
const Module = require('node:module');

const started = [];
let configured = {};
const fakes = {
  vscode: {
    workspace: {
      getConfiguration: (section) => ({
        get: (key, fallback) => (section === 'compactor' && key in configured ? configured[key] : fallback),
      }),
    },
  },
  'vscode-languageclient/node': {
    LanguageClient: class {
      constructor(id, name, server, client) {
        this.args = { id, name, server, client };
        this.running = false;
      }
      async start() {
        this.running = true;
        started.push(this);
      }
      async stop() {
        this.running = false;
      }
    },
  },
};
const load = Module._load;
Module._load = function (request, ...rest) {
  return request in fakes ? fakes[request] : load.call(this, request, ...rest);
};
const extension = require('../extension.js');
const manifest = require('../package.json');

test('starts compactor lsp for the scenario sources and stops it', async () => {
  const context = { subscriptions: [] };
  await extension.activate(context);
  const client = started.pop();
  assert.deepStrictEqual(client.args.server, { command: 'compactor', args: ['lsp'] });
  assert.deepStrictEqual(client.args.client.documentSelector, [
    { scheme: 'file', language: manifest.contributes.languages[0].id },
  ]);
  assert.ok(client.running);
  await extension.deactivate();
  assert.ok(!client.running);
});

test('takes the program from compactor.path', async () => {
  configured = { path: '/opt/compactor/bin/compactor' };
  await extension.activate({ subscriptions: [] });
  assert.strictEqual(started.pop().args.server.command, '/opt/compactor/bin/compactor');
  configured = {};
});

// The client side of `compactor lsp`: starts the server for the line and train sources of a
// scenario (files named ID_linea.txt and ID_NUM-.txt) and hands it the editor's documents.
'use strict';

const vscode = require('vscode');
const { LanguageClient } = require('vscode-languageclient/node');

let client;

// How the server is started: the program set in `compactor.path`, with the argument `lsp`.
function serverOptions() {
  const command = vscode.workspace.getConfiguration('compactor').get('path', 'compactor');
  return { command, args: ['lsp'] };
}

function clientOptions() {
  return { documentSelector: [{ scheme: 'file', language: 'compactor-scenario' }] };
}

async function activate(context) {
  client = new LanguageClient('compactor', 'compactor', serverOptions(), clientOptions());
  context.subscriptions.push({ dispose: () => client && client.stop() });
  await client.start();
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate, serverOptions, clientOptions };

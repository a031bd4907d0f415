// The Velmora extension: starts velmora-lsp for Velmora programs and offers
// the tasks "コンパイル" and "実行", which call velmora-run and mark its
// FILE:LINE:COL: messages through the problem matchers.
'use strict';
const vscode = require('vscode');
const { LanguageClient, TransportKind } = require('vscode-languageclient/node');

let client;

function settings() {
  return vscode.workspace.getConfiguration('velmora');
}

function startServer(context) {
  const serverOptions = { command: settings().get('serverPath') || 'velmora-lsp', transport: TransportKind.stdio };
  const clientOptions = {
    documentSelector: [{ language: 'velmora' }],
    initializationOptions: { velmora: { home: settings().get('home') || '' } },
    // velmora.home changes reach the server as workspace/didChangeConfiguration.
    synchronize: { configurationSection: 'velmora' },
  };
  client = new LanguageClient('velmora', 'Velmora', serverOptions, clientOptions);
  client.start();
  context.subscriptions.push({ dispose: () => client && client.stop() });
}

// A task of velmora-run on one program: "compile" checks it (velmora-run
// --check: every error and warning as FILE:LINE:COL: severity: explanation,
// nothing run), "run" compiles and runs it.
function makeTask(command, file, definition) {
  const runner = settings().get('runPath') || 'velmora-run';
  const args = command === 'compile' ? ['--check', file] : [file];
  const home = settings().get('home');
  const options = home ? { env: { VELMORA_HOME: home } } : {};
  const task = new vscode.Task(
    definition || { type: 'velmora', command },
    vscode.TaskScope.Workspace,
    command === 'compile' ? 'コンパイル' : '実行',
    'velmora',
    new vscode.ProcessExecution(runner, args, options),
    ['$velmora', '$velmora-note', '$velmora-info'],
  );
  task.group = command === 'compile' ? vscode.TaskGroup.Build : vscode.TaskGroup.Test;
  return task;
}

function activeProgram() {
  const editor = vscode.window.activeTextEditor;
  return editor && editor.document.languageId === 'velmora' ? editor.document.uri.fsPath : undefined;
}

function activate(context) {
  startServer(context);
  context.subscriptions.push(
    vscode.tasks.registerTaskProvider('velmora', {
      provideTasks() {
        const file = activeProgram();
        return file ? [makeTask('compile', file), makeTask('run', file)] : [];
      },
      resolveTask(task) {
        const file = task.definition.file || activeProgram();
        return file ? makeTask(task.definition.command, file, task.definition) : undefined;
      },
    }),
  );
}

function deactivate() {
  return client ? client.stop() : undefined;
}

module.exports = { activate, deactivate, makeTask };

// Starts `tarvo --lsp` for the documents of both languages and keeps its
// settings in step with VS Code's.
'use strict';

const vscode = require('vscode');
const { LanguageClient, DidChangeConfigurationNotification } = require('vscode-languageclient/node');
const { serverSettings, programPath, languageFor } = require('./settings');

let client;
// A language change reaches extensions as a close and an open of the same
// document in one turn; such an open is the user's choice (or ours) and
// is left alone.
let closing;

function folderPath() {
    const folders = vscode.workspace.workspaceFolders;
    return folders && folders.length > 0 ? folders[0].uri.fsPath : undefined;
}

function settings() {
    const config = vscode.workspace.getConfiguration('tarvo');
    return { tarvo: serverSettings((name, fallback) => config.get(name, fallback), folderPath()) };
}

async function startClient() {
    const config = vscode.workspace.getConfiguration('tarvo');
    const command = programPath((name, fallback) => config.get(name, fallback), folderPath());
    // No transport given: the client would add --stdio to the arguments.
    // Includes are relative to the working directory, as on the command line.
    const server = { command, args: ['--lsp'], options: { cwd: folderPath() } };
    client = new LanguageClient('tarvo', 'tarvo', server, {
        documentSelector: [{ language: 'v810' }, { language: 'v810-gnu' }],
        initializationOptions: settings(),
        outputChannelName: 'tarvo',
    });
    try {
        await client.start();
    } catch (error) {
        client = undefined;
        vscode.window.showErrorMessage(
            `tarvo: cannot start "${command} --lsp" (${error.message || error}); set tarvo.path to the program.`);
    }
}

async function stopClient() {
    const running = client;
    client = undefined;
    if (running) await running.stop();
}

function chooseLanguage(document) {
    if (closing === document.uri.toString()) return;
    const syntax = vscode.workspace.getConfiguration('tarvo', document.uri).get('syntax', 'default');
    const id = languageFor(document.languageId, document.fileName, syntax);
    if (id !== undefined) vscode.languages.setTextDocumentLanguage(document, id);
}

async function activate(context) {
    context.subscriptions.push(
        vscode.workspace.onDidOpenTextDocument(chooseLanguage),
        vscode.workspace.onDidCloseTextDocument((document) => {
            closing = document.uri.toString();
            queueMicrotask(() => (closing = undefined));
        }),
        vscode.workspace.onDidChangeConfiguration(async (event) => {
            if (!event.affectsConfiguration('tarvo')) return;
            if (event.affectsConfiguration('tarvo.path')) {
                await stopClient();
                await startClient();
            } else if (client) {
                await client.sendNotification(DidChangeConfigurationNotification.type, { settings: settings() });
            }
        }),
        vscode.commands.registerCommand('tarvo.restartServer', async () => {
            await stopClient();
            await startClient();
        }),
        { dispose: stopClient });
    vscode.workspace.textDocuments.forEach(chooseLanguage);
    await startClient();
}

function deactivate() {
    return stopClient();
}

module.exports = { activate, deactivate };

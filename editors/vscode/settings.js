// The tarvo settings as the language server takes them, apart from VS Code
// so that the tests can load it.
'use strict';

const FOLDER = /\$\{workspaceFolder\}/g;

// get(name, fallback) reads one setting of the "tarvo" section; folder is
// the first workspace folder's path, or undefined.
function serverSettings(get, folder) {
    const expand = (text) => (folder === undefined ? text : text.replace(FOLDER, folder));
    const defines = {};
    // JSON settings may hold numbers or booleans where tarvo reads a text.
    for (const [name, value] of Object.entries(get('defines', {}) || {})) defines[name] = String(value);
    return {
        syntax: get('syntax', 'default') === 'gnu' ? 'gnu' : 'default',
        includeDirs: (get('includeDirs', []) || []).filter((d) => typeof d === 'string' && d !== '').map(expand),
        defines,
        strict: get('strict', false) === true,
        classic: get('classic', false) === true,
    };
}

function programPath(get, folder) {
    const path = get('path', 'tarvo') || 'tarvo';
    return folder === undefined ? path : path.replace(FOLDER, folder);
}

// The language a newly opened document should have, or undefined to keep
// its own: a .S file (letter case counts, which VS Code's file associations
// ignore) and, with the syntax setting "gnu", every file of the default
// language are GNU syntax.
function languageFor(languageId, fileName, syntax) {
    if (languageId !== 'v810') return undefined;
    if (fileName.endsWith('.S') || syntax === 'gnu') return 'v810-gnu';
    return undefined;
}

module.exports = { serverSettings, programPath, languageFor };

'use strict';

const { test } = require('node:test');
const assert = require('node:assert/strict');
const fs = require('node:fs');
const path = require('node:path');
const { serverSettings, programPath, languageFor } = require('../settings');

const root = path.join(__dirname, '..');
const manifest = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8'));
const readJson = (file) => JSON.parse(fs.readFileSync(path.join(root, file), 'utf8'));

test('the manifest names files that exist and parse', () => {
    const { languages, grammars } = manifest.contributes;
    assert.deepEqual(languages.map((l) => l.id), ['v810', 'v810-gnu']);
    assert.deepEqual(languages[0].extensions, ['.s', '.asm', '.inc']);
    for (const language of languages) assert.ok(readJson(language.configuration).brackets.length > 0, language.id);
    assert.equal(readJson(languages[0].configuration).comments.lineComment, ';');
    assert.deepEqual(readJson(languages[1].configuration).comments, { lineComment: '#', blockComment: ['/*', '*/'] });
    assert.deepEqual(grammars.map((g) => g.language), ['v810', 'v810-gnu']);
    for (const grammar of grammars) assert.equal(readJson(grammar.path).scopeName, grammar.scopeName);
    assert.ok(fs.existsSync(path.join(root, manifest.main)));
});

test('the settings the server gets', () => {
    const given = { defines: { PCFX: 1, NAME: 'x' }, includeDirs: ['${workspaceFolder}/lib', '', 'inc'], strict: true, path: '${workspaceFolder}/build/tarvo' };
    const get = (name, fallback) => (name in given ? given[name] : fallback);
    assert.deepEqual(serverSettings(get, '/w'), {
        syntax: 'default', includeDirs: ['/w/lib', 'inc'], defines: { PCFX: '1', NAME: 'x' }, strict: true, classic: false,
    });
    assert.equal(programPath(get, '/w'), '/w/build/tarvo');
    assert.equal(programPath(() => undefined, undefined), 'tarvo');
    const contributed = Object.keys(manifest.contributes.configuration.properties).sort();
    const sent = [...Object.keys(serverSettings(get, '/w')), 'path'].map((k) => `tarvo.${k}`).sort();
    assert.deepEqual(contributed, sent);
});

test('GNU syntax for .S files and on request', () => {
    const rows = [
        ['v810', 'crt0.S', 'default', 'v810-gnu'],
        ['v810', 'crt0.s', 'default', undefined],
        ['v810', 'lib.inc', 'gnu', 'v810-gnu'],
        ['v810-gnu', 'main.s', 'default', undefined],
        ['c', 'x.S', 'gnu', undefined],
    ];
    for (const [id, file, syntax, want] of rows) assert.equal(languageFor(id, file, syntax), want, `${id} ${file} ${syntax}`);
});

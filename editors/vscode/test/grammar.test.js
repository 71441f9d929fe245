// The grammars over sample lines, tokenized as VS Code does (vscode-textmate
// over the Oniguruma WebAssembly build).
'use strict';

const { test } = require('node:test');
const fs = require('node:fs');
const path = require('node:path');
const assert = require('node:assert/strict');
const oniguruma = require('vscode-oniguruma');
const textmate = require('vscode-textmate');

const root = path.join(__dirname, '..');
const { grammars } = JSON.parse(fs.readFileSync(path.join(root, 'package.json'), 'utf8')).contributes;

const registry = (async () => {
    const wasm = fs.readFileSync(require.resolve('vscode-oniguruma/release/onig.wasm'));
    await oniguruma.loadWASM(wasm.buffer.slice(wasm.byteOffset, wasm.byteOffset + wasm.byteLength));
    return new textmate.Registry({
        onigLib: Promise.resolve({
            createOnigScanner: (patterns) => new oniguruma.OnigScanner(patterns),
            createOnigString: (text) => new oniguruma.OnigString(text),
        }),
        loadGrammar: async (scopeName) => {
            const file = path.join(root, grammars.find((g) => g.scopeName === scopeName).path);
            return textmate.parseRawGrammar(fs.readFileSync(file, 'utf8'), file);
        },
    });
})();

// Every token of text (lines joined by \n), with its offsets and scopes.
async function tokenize(scopeName, text) {
    const grammar = await (await registry).loadGrammar(scopeName);
    const tokens = [];
    let state = textmate.INITIAL;
    let offset = 0;
    for (const line of text.split('\n')) {
        const result = grammar.tokenizeLine(line, state);
        for (const t of result.tokens)
            tokens.push({ start: offset + t.startIndex, end: offset + Math.min(t.endIndex, line.length), scopes: t.scopes });
        state = result.ruleStack;
        offset += line.length + 1;
    }
    return tokens;
}

// row: [text, [part, scope]...]. Each part is looked for after the one
// before, as whole tokens (the "hi" of "hi(x)", not of "movhi"), and each of
// its tokens must have a scope that begins with scope. A scope written "!x"
// means that no token of the part's first occurrence has one beginning with x.
async function checkRow(scopeName, [text, ...parts]) {
    const tokens = await tokenize(scopeName, text);
    const starts = new Set(tokens.map((t) => t.start));
    const ends = new Set(tokens.map((t) => t.end));
    let from = 0;
    for (const [part, scope] of parts) {
        const negative = scope.startsWith('!');
        let start = text.indexOf(part, from);
        while (!negative && start >= 0 && !(starts.has(start) && ends.has(start + part.length)))
            start = text.indexOf(part, start + 1);
        assert.ok(start >= 0, `"${part}" is no whole tokens in ${JSON.stringify(text)}`);
        const end = start + part.length;
        from = end;
        const covering = tokens.filter((t) => t.start < end && t.end > start);
        const seen = covering.map((t) => `${text.slice(t.start, t.end)} = ${t.scopes.slice(1).join(' ')}`).join('; ');
        const where = `"${part}" in ${JSON.stringify(text)}: ${seen}`;
        if (negative) assert.ok(covering.every((t) => !t.scopes.some((s) => s.startsWith(scope.slice(1)))), where);
        else assert.ok(covering.every((t) => t.scopes.some((s) => s.startsWith(scope))), `wants ${scope}: ${where}`);
    }
}

const LABEL = 'entity.name.function.label';
const DIRECTIVE = 'keyword.control.directive';
const MNEMONIC = 'keyword.other.mnemonic';
const REGISTER = 'variable.other.register';
const SYSTEM = 'support.variable.system-register';
const NUMBER = 'constant.numeric';
const STRING = 'string.quoted.double';
const ESCAPE = 'constant.character.escape';
const OPERATOR = 'keyword.operator';
const PARAM = 'variable.parameter';

const defaultRows = [
    ['; whole line', ['; whole line', 'comment.line.semicolon']],
    ['\tadd -1, $5 ;x', ['add', MNEMONIC], ['-', OPERATOR], ['1', NUMBER], ['$5', REGISTER], [';x', 'comment']],
    ['\tld.w 4[$3], r31 ; load', ['ld.w', MNEMONIC], ['4', NUMBER], ['$3', REGISTER], ['r31', REGISTER], ['; load', 'comment']],
    ['\tmov $5;x, $32', [';x', '!comment'], ['$32', '!variable']],
    ['lb. loop', ['lb.', DIRECTIVE], ['loop', LABEL]],
    ['start: 1:add 2, sp', ['start', LABEL], ['1', 'entity.name.function.label.local'], ['add', MNEMONIC], ['sp', REGISTER]],
    ['\tbne @1b', ['bne', MNEMONIC], ['@', 'keyword.operator.target'], ['1b', 'variable.other.label']],
    ['\tjal @(print + 4)', ['@', 'keyword.operator.target'], ['+', OPERATOR], ['4', NUMBER]],
    ['df. WRAM 0x05000000', ['df.', DIRECTIVE], ['WRAM', 'variable.other.constant'], ['0x05000000', 'constant.numeric.hex']],
    ['org. 017', ['org.', DIRECTIVE], ['017', 'constant.numeric.octal']],
    ['area. 16, 0xFF', ['area.', DIRECTIVE]],
    ['if. (0b101 == \'A\')', ['if.', DIRECTIVE], ['0b101', 'constant.numeric.binary'], ['==', OPERATOR], ["'A'", 'constant.character']],
    ['\tmovhi hi(BUF), $0, $6', ['movhi', MNEMONIC], ['hi', 'support.function'], ['BUF', '!support']],
    ['\tmovea lo(x + 4), $6, $6', ['lo', 'support.function']],
    ['\tldsr $6, psw ;stsr sr24', ['ldsr', MNEMONIC], ['psw', SYSTEM], ['sr24', '!support']],
    ['\tstsr sr24, r7', ['sr24', SYSTEM]],
    ['\tsetf z, $1', ['setf', MNEMONIC], ['z', 'support.constant.condition']],
    ['\t.mov32 0x12348000, $6', ['.mov32', 'keyword.other.pseudo']],
    ['\t.call (strcpy)', ['.call', 'keyword.other.pseudo']],
    ['XB cvt.ws movnbsu BZ', ['XB', MNEMONIC], ['cvt.ws', MNEMONIC], ['movnbsu', MNEMONIC], ['BZ', MNEMONIC]],
    ['str. "a\\n\\x41\\101;", "\\q"', ['str.', DIRECTIVE], ['"a', STRING], ['\\n', ESCAPE], ['\\x41', ESCAPE], ['\\101', ESCAPE], [';', '!comment'], ['\\q', '!constant']],
    ['ds. "raw\\n" ; bytes', ['ds.', DIRECTIVE], ['\\n', '!constant'], ['; bytes', 'comment']],
    ['ds. "open', ['"open', STRING]],
    ['dw. (table), (.)', ['dw.', DIRECTIVE], ['.', 'variable.language.location']],
    [
        'macro. delay count=3, reg=r10 ; wait\n\tmovea \\count, r0, \\reg\nw\\@:\tadd -1, \\reg\nendm.',
        ['macro.', DIRECTIVE], ['delay', 'entity.name.function.macro'], ['count', PARAM], ['=', OPERATOR], ['3', NUMBER],
        ['reg', PARAM], ['r10', REGISTER], ['; wait', 'comment'], ['\\count', PARAM], ['\\@', PARAM], ['add', MNEMONIC],
        ['endm.', DIRECTIVE],
    ],
];

const gnuRows = [
    ['# whole line', ['# whole line', 'comment.line.number-sign']],
    ['\tmov 5, r10 # x ; y', ['mov', MNEMONIC], ['5', NUMBER], ['r10', REGISTER], ['# x ; y', 'comment']],
    ['/* one\n two */ nop', ['/* one', 'comment.block'], [' two */', 'comment.block'], ['nop', MNEMONIC]],
    ['_start: .L1: 1: halt', ['_start', LABEL], ['.L1', LABEL], ['1', 'entity.name.function.label.local'], ['halt', MNEMONIC]],
    ['nop; x: br 1b', ['nop', MNEMONIC], [';', 'punctuation.separator.statement'], ['x', LABEL], ['br', MNEMONIC], ['1b', 'variable.other.label.local']],
    ['\tbnz 2f', ['2f', 'variable.other.label.local']],
    ['\t.section .vectors, "ax"', ['.section', DIRECTIVE], ['"ax"', STRING]],
    ['\t.word 0x10, 010, 0b11, 9', ['.word', DIRECTIVE], ['0x10', 'constant.numeric.hex'], ['010', 'constant.numeric.octal'], ['0b11', 'constant.numeric.binary'], ['9', 'constant.numeric.decimal']],
    ['\t.float 1.5; .2byte x', ['1.5', 'constant.numeric.float'], ['.2byte', DIRECTIVE]],
    ['\t.byte \';, \'#, \'\\n\'', ["';", 'constant.character'], ["'#", 'constant.character'], ["'\\n'", 'constant.character']],
    ['\t.asciz "a\\"b\\t#"', ['.asciz', DIRECTIVE], ['"a', STRING], ['\\"', ESCAPE], ['\\t', ESCAPE], ['#', '!comment']],
    ['\tmovea lo(x), r6, r6; ld.w sdaoff(y)[gp], r7', ['lo', 'support.function'], ['sdaoff', 'support.function'], ['gp', REGISTER]],
    ['\t.hword hi0(x), zdaoff(y), tdaoff (z)', ['hi0', 'support.function'], ['zdaoff', 'support.function'], ['tdaoff', 'support.function']],
    ['\tLDSR r0, PSW; brkret; di', ['LDSR', MNEMONIC], ['PSW', SYSTEM], ['brkret', MNEMONIC], ['di', '!keyword']],
    ['\t.equ WRAM, 0x05000000', ['.equ', DIRECTIVE], ['WRAM', 'variable.other.constant']],
    ['size = . - _start', ['size', 'variable.other.constant'], ['=', OPERATOR], ['.', 'variable.language.location'], ['-', OPERATOR]],
    ['\tjr . + 4 << 1 != 2', ['<<', OPERATOR], ['!=', OPERATOR]],
    ['#include "vb.h"', ['#include', 'keyword.control.directive.preprocessor']],
    [
        '\t.macro la reg, addr:req, n=4 # load\n\tmovhi hi(\\addr), r0, \\reg\n\t.endm',
        ['.macro', DIRECTIVE], ['la', 'entity.name.function.macro'], ['reg', PARAM], ['addr', PARAM], ['req', 'storage.modifier'],
        ['n', PARAM], ['4', NUMBER], ['# load', 'comment'], ['\\addr', PARAM], ['\\reg', PARAM], ['.endm', DIRECTIVE],
    ],
];

test('the default language', async () => {
    for (const row of defaultRows) await checkRow('source.v810', row);
});

test('GNU syntax', async () => {
    for (const row of gnuRows) await checkRow('source.v810-gnu', row);
});

#!/usr/bin/env node
// Runs every sample script of window_document_samples as JavaScript, the way the web view runs
// it in the page, with stand-ins for the page's four functions: each script must call its own
// function once, with exactly the document parsed as JSON, and the hostile texts must arrive
// unchanged (each byte that was not UTF-8 as one U+FFFD).
//
// Usage: node check_scripts.js <window_document_samples program>
'use strict';
const assert = require('assert');
const childProcess = require('child_process');
const fs = require('fs');
const os = require('os');
const path = require('path');
const vm = require('vm');

const HOSTILE = [
  'quote " backslash \\ slash / lt < gt > amp & </script><!-- -->',
  'line\nfeed\rreturn\ttab NUL\0 unit\x1f DEL\x7f end',
  'separators \u2028 and \u2029, no-break\u00a0space, mark \ufeff',
  'emoji \u{1F600} accents \u00e9\u00fc \u65e5\u672c',
  "${x} `back` '); alert(1); //",
  'bad \ufffd \ufffd \ufffd\ufffd \ufffd\ufffd\ufffd end',
];

// Where the sample program put each hostile text: [sample, path to the value, text].
const PLACES = [
  ['render-busy', ['note'], HOSTILE[0] + ' | ' + HOSTILE[4]],
  ['render-busy', ['apps', 0, 'status'], HOSTILE[1]],
  ['render-busy', ['apps', 1, 'address'], HOSTILE[2]],
  ['render-busy', ['apps', 3, 'status'], HOSTILE[3]],
  ['render-busy', ['apps', 4, 'status'], HOSTILE[5]],
  ['render-busy', ['update', 'problem'], HOSTILE[5]],
  ['shelves', ['problem'], HOSTILE[2]],
  ['shelves', ['shelves', 0, 'problem'], HOSTILE[3]],
  ['shelves', ['shelves', 1, 'name'], HOSTILE[4]],
  ['shelves', ['shelves', 1, 'recipes', 2, 'problem'], HOSTILE[5]],
  ['outcome-refused', ['error'], HOSTILE[1] + HOSTILE[5]],
  ['made', ['file'], HOSTILE[3] + '\\apps\\wiki\\.env'],
  ['made', ['items', 0, 'value'], HOSTILE[0]],
  // A value of the settings file is shown as text: its bytes that are not UTF-8 as their escapes.
  ['made', ['items', 1, 'value'], 'bad \\xff \\xc3 \\xe2\\x82 \\xed\\xa0\\x80 end'],
];

const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zelk-documents-'));
try {
  childProcess.execFileSync(process.argv[2], [folder], {stdio: 'inherit'});
  const received = {};
  const names = fs.readdirSync(folder).filter((f) => f.endsWith('.js')).map((f) => f.slice(0, -3)).sort();
  assert.strictEqual(names.length, 10, 'sample scripts: ' + names.join(', '));
  for (const name of names) {
    const fn = name.split('-')[0];
    const script = fs.readFileSync(path.join(folder, name + '.js'), 'utf8');
    const documentText = fs.readFileSync(path.join(folder, name + '.json'), 'utf8');
    assert.strictEqual(script, fn + '(' + documentText + ')', name + ': the script is the call and nothing more');
    const calls = [];
    const page = {};
    for (const f of ['render', 'shelves', 'outcome', 'made']) page[f] = (arg) => calls.push([f, arg]);
    // The page's own script runs in a sandbox; nothing else is reachable from the sample.
    vm.runInNewContext(script, page, {filename: name + '.js'});
    assert.strictEqual(calls.length, 1, name + ': one call');
    assert.strictEqual(calls[0][0], fn, name + ': the function');
    // Compared as plain data: the sandbox's objects come from another realm.
    assert.deepStrictEqual(JSON.parse(JSON.stringify(calls[0][1])), JSON.parse(documentText), name + ': the document');
    received[name] = calls[0][1];
  }
  for (const [name, keys, text] of PLACES) {
    let value = received[name];
    for (const key of keys) value = value[key];
    assert.strictEqual(value, text, name + ' ' + keys.join('.'));
  }
  console.log(names.length + ' scripts run, ' + PLACES.length + ' hostile texts arrived unchanged');
} finally {
  fs.rmSync(folder, {recursive: true, force: true});
}

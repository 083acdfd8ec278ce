'use strict';
// What every case needs: a page that is closed afterwards, and the checks every case ends with.
const assert = require('node:assert/strict');
const nodeTest = require('node:test');
const harness = require('../harness');

// One pool of pages for the whole suite: the groups run at once and their cases wait here for a
// free page, so that a long case in one group does not leave the others idle.
const pages = Number(process.env.ZELK_PAGE_CONCURRENCY || 4);
let pagesOpen = 0;
const waitingForPage = [];

async function pageSlot() {
  if (pagesOpen < pages) {
    pagesOpen += 1;
    return;
  }
  await new Promise(resolve => waitingForPage.push(resolve));
}

function pageSlotFree() {
  const next = waitingForPage.shift();
  if (next) next();
  else pagesOpen -= 1;
}

/// Runs body(page) on a fresh page; afterwards the page must have asked for nothing outside
/// itself and thrown no script error.
async function withPage(options, body) {
  if (typeof options === 'function') {
    body = options;
    options = {};
  }
  await pageSlot();
  try {
    const page = await harness.openPage(options);
    try {
      await body(page);
      assert.deepEqual(page.foreignRequests, [], 'the page asked for something outside itself');
      assert.deepEqual(page.pageErrors, [], 'the page threw');
    } finally {
      await page.close();
    }
  } finally {
    pageSlotFree();
  }
}

/// A page past "ready" with these documents run in order (render-..., shelves-..., ...).
async function withDocuments(names, options, body) {
  if (typeof options === 'function') {
    body = options;
    options = {};
  }
  await withPage(options, async page => {
    for (const name of names) await page.send(name.split('-')[0], name);
    await page.take();
    await body(page);
  });
}

/// A group of cases; each case has a page (and a browser context) of its own, taken from the
/// suite's pool, so cases of every group run at once as far as the pool allows.
function describe(name, body) {
  return nodeTest.describe(name, { concurrency: true }, body);
}

module.exports = { assert, describe, harness, withPage, withDocuments };

'use strict';
// The elapsed time on a busy card, under a fake clock.
const { test } = require('node:test');
const { assert, describe, withDocuments } = require('./common');

function elapsed(page) {
  return page.page.evaluate(() => Object.fromEntries([...document.querySelectorAll('#cards .card')].map(card => {
    const node = card.querySelector('.elapsed');
    return [card.dataset.app, node === null ? null : node.textContent];
  })));
}

describe('elapsed time', () => {
  test('nothing for 5 seconds, then 0:05, 0:06 ... ; a render keeps counting', async () => {
    await withDocuments(['render-busy'], { clock: true }, async page => {
      await page.page.click('#view-store');
      const start = await elapsed(page);
      // Busy: n8n (stopping), Gitea (starting with a progress line), Ollama (starting by itself).
      assert.deepEqual(start, { 'n8n': '', 'gitea': '', 'open-webui': null, 'ollama': '', 'notes': null, 'wiki': null, 'pad': null });
      const seen = [];
      for (const step of [1000, 3000, 999, 1, 1000, 1000]) {
        await page.page.clock.runFor(step);
        seen.push((await elapsed(page)).gitea);
      }
      assert.deepEqual(seen, ['', '', '', '0:05', '0:06', '0:07']);
      await page.render('render-busy');
      assert.equal((await elapsed(page)).gitea, '0:07', 'a redraw keeps the start time');
      await page.page.clock.fastForward(83000);
      assert.equal((await elapsed(page)).gitea, '1:30');
      await page.page.clock.fastForward(637000);
      assert.equal((await elapsed(page)).gitea, '12:07');
    });
  });

  test('a change of the wall clock does not move the elapsed time', async () => {
    await withDocuments(['render-busy'], { clock: true }, async page => {
      await page.page.click('#view-store');
      await page.page.clock.runFor(6000);
      assert.equal((await elapsed(page)).gitea, '0:06');
      const seen = [];
      // An hour ahead (a time zone or summer time set by hand), then a day back (a clock synced).
      for (const wall of ['2026-03-02T11:10:07Z', '2026-03-01T10:10:08Z']) {
        await page.page.clock.setSystemTime(new Date(wall));
        await page.page.clock.runFor(1000);
        await page.render('render-busy');
        seen.push((await elapsed(page)).gitea);
      }
      assert.deepEqual(seen, ['0:07', '0:08']);
    });
  });

  test('an app that is no longer busy forgets its start; busy again counts anew', async () => {
    await withDocuments(['render-busy'], { clock: true }, async page => {
      await page.page.click('#view-store');
      await page.page.clock.runFor(20000);
      assert.equal((await elapsed(page)).gitea, '0:20');
      await page.render('render-calm');
      assert.deepEqual(Object.values(await elapsed(page)), [null, null, null, null, null, null, null]);
      await page.page.clock.runFor(3000);
      await page.render('render-busy');
      assert.equal((await elapsed(page)).gitea, '');
      await page.page.clock.runFor(5000);
      assert.equal((await elapsed(page)).gitea, '0:05');
    });
  });
});

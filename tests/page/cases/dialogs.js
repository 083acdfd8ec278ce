'use strict';
// The confirm dialog before anything from a shelf is taken, and the passwords dialog.
const { test } = require('node:test');
const { assert, describe, harness, withDocuments } = require('./common');

function confirmLook(page) {
  return page.page.evaluate(() => {
    const dialog = document.getElementById('confirm');
    return {
      open: dialog.open,
      modal: dialog.matches(':modal'),
      title: document.getElementById('confirm-title').textContent,
      origin: document.getElementById('confirm-origin').textContent,
      framed: document.getElementById('confirm-origin').classList.contains('warn'),
      effect: document.getElementById('confirm-effect').textContent,
      details: [document.querySelector('#confirm-details summary').textContent, document.getElementById('confirm-details').open],
      shows: document.getElementById('confirm-shows').textContent,
      yes: document.getElementById('confirm-yes').textContent,
      focused: document.activeElement.id,
    };
  });
}

const installEffect = 'The Zelk downloads the app, starts it and opens it in your browser. The first start can take a few minutes.';
const takeEffect = "It takes the place of the recipe on your Zelk. The next start makes the app's container anew; its data stays.";

describe('confirm dialog', () => {
  const cases = [
    { name: 'installing an offer from a course shelf', shelf: 0, recipe: 0, open: page => page.card('kanban').locator('button').click(),
      title: 'Install Kanban board?', framed: true, effect: installEffect, yes: 'Install and open\u2192', word: 'shelf-install:' },
    { name: 'installing an offer from the Zelk\'s own shelf', shelf: 1, recipe: 1, open: page => page.card('sketch').locator('button').click(),
      title: 'Install Sketch?', framed: false, effect: installEffect, yes: 'Install and open\u2192', word: 'shelf-install:' },
    { name: 'taking a changed recipe', shelf: 0, recipe: 2,
      open: page => page.page.getByRole('button', { name: "Take the shelf's recipe" }).click(),
      title: "Take the shelf's recipe for Pad?", framed: true, effect: takeEffect, yes: 'Take it\u2192', word: 'shelf-take:' },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withDocuments(['render-installed', 'shelves-offers'], async page => {
        await page.page.click('#view-store');
        const shelf = harness.documentValue('shelves-offers').shelves[c.shelf];
        const recipe = shelf.recipes[c.recipe];
        await c.open(page);
        const origin = recipe.own ? recipe.trust
          : 'From the shelf \u201c' + shelf.name + '\u201d at ' + recipe.from + '. ' + recipe.trust;
        assert.deepEqual(await confirmLook(page), {
          open: true, modal: true, title: c.title, origin, framed: c.framed, effect: c.effect,
          details: ['What it runs', false], shows: recipe.shows, yes: c.yes, focused: 'confirm-yes',
        });
        // "Not now" and Escape close it and post nothing.
        await page.page.click('#confirm-no');
        assert.equal((await confirmLook(page)).open, false);
        await c.open(page);
        await page.page.keyboard.press('Escape');
        assert.equal((await confirmLook(page)).open, false);
        assert.deepEqual(await page.take(), []);
        // Yes posts the word once, however quickly it is pressed again.
        await c.open(page);
        await page.page.evaluate(() => {
          const yes = document.getElementById('confirm-yes');
          yes.click();
          yes.click();
        });
        assert.equal((await confirmLook(page)).open, false);
        assert.deepEqual(await page.take(), [c.word + recipe.address]);
      });
    });
  }

  test('the backdrop is dimmed and the dialog is at most 540 wide, 48 less than the window', async () => {
    for (const [width, expected] of [[1120, 540], [560, 512]]) {
      await withDocuments(['render-installed', 'shelves-offers'], { viewport: { width, height: 700 } }, async page => {
        await page.page.click('#view-store');
        await page.card('kanban').locator('button').click();
        const look = await page.page.evaluate(() => ({
          width: document.getElementById('confirm').getBoundingClientRect().width,
          backdrop: getComputedStyle(document.getElementById('confirm'), '::backdrop').backgroundColor,
        }));
        assert.deepEqual(look, { width: expected, backdrop: 'rgba(16, 20, 17, 0.55)' });
      });
    }
  });
});

describe('passwords dialog', () => {
  test('shows each password in a read-only field, with the file it is kept in', async () => {
    await withDocuments(['render-installed', 'made-items'], async page => {
      const doc = harness.documentValue('made-items');
      const look = await page.page.evaluate(() => ({
        open: document.getElementById('made').open,
        title: document.getElementById('made-title').textContent,
        text: document.getElementById('made-text').textContent,
        fields: [...document.querySelectorAll('#made-fields label')].map(label => {
          const input = label.querySelector('input');
          return [label.querySelector('span').textContent, input.value, input.readOnly, input.spellcheck];
        }),
        focused: document.activeElement.id,
      }));
      assert.deepEqual(look, {
        open: true,
        title: 'Passwords of ' + doc.name,
        text: 'The Zelk made these when it first started the app. The app\'s description says which one you sign in ' +
          'with. They are kept in ' + doc.file + ' on this computer and nowhere else.',
        fields: doc.items.map(item => [item.key, item.value, true, false]),
        focused: 'made-close',
      });
      assert.ok(doc.items.length > 0);
      await page.page.locator('#made-fields input').first().focus();
      const selected = await page.page.evaluate(() => {
        const input = document.activeElement;
        return [input.selectionStart, input.selectionEnd, input.value.length];
      });
      assert.deepEqual(selected, [0, doc.items[0].value.length, doc.items[0].value.length]);
      await page.page.click('#made-close');
      assert.equal(await page.page.evaluate(() => document.getElementById('made').open), false);
      assert.deepEqual(await page.take(), []);
    });
  });

  test('with nothing made yet it says so', async () => {
    await withDocuments(['render-installed', 'made-empty'], async page => {
      assert.equal(await page.text('#made-text'), 'Nothing yet. The Zelk makes them when the app starts for the first time.');
      assert.equal(await page.page.locator('#made-fields input').count(), 0);
      assert.equal(await page.text('#made-title'), 'Passwords of ' + harness.documentValue('made-empty').name);
      // A second made document replaces the first.
      await page.made('made-items');
      assert.equal(await page.page.locator('#made-fields input').count(), harness.documentValue('made-items').items.length);
    });
  });
});

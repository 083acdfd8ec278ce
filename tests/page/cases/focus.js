'use strict';
// The keyboard keeps its place across redraws, and after a dialog closes.
const { test } = require('node:test');
const { assert, describe, withDocuments } = require('./common');

describe('focus keeping', () => {
  // Focus a card button, run documents, and see where the focus is.
  const cases = [
    { name: 'a redraw keeps the focus on the same button of the same card',
      focus: ['n8n', 'stop'], docs: ['render-installed'], expected: { app: 'n8n', action: 'stop' } },
    { name: 'a link keeps its focus too',
      focus: ['notes', 'passwords'], docs: ['render-installed', 'render-installed'], expected: { app: 'notes', action: 'passwords' } },
    { name: 'Stop disabled while open is enabled: the focus moves to the primary button',
      focus: ['n8n', 'stop'], docs: ['render-calm'], expected: { app: 'n8n', action: 'open' } },
    { name: 'both disabled: the card itself keeps the focus',
      focus: ['n8n', 'stop'], docs: ['render-busy'], expected: { card: 'n8n' } },
    { name: 'after a render with both disabled, the next one focuses the primary button',
      focus: ['n8n', 'stop'], docs: ['render-busy', 'render-calm'], expected: { app: 'n8n', action: 'open' } },
    { name: 'a link that goes away gives the focus to the primary button',
      focus: ['gitea', 'remove'], docs: ['render-calm'], expected: { app: 'gitea', action: 'open' } },
    { name: 'a link gone during a busy render takes the focus again when it comes back',
      focus: ['n8n', 'backup'], docs: ['render-busy', 'render-installed'], expected: { app: 'n8n', action: 'backup' } },
    { name: 'the primary button of a card that starts: the card, then the button again',
      focus: ['gitea', 'open'], docs: ['render-busy', 'render-calm'], expected: { app: 'gitea', action: 'open' } },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withDocuments(['render-installed'], async page => {
        await page.page.click('#view-store');
        await page.card(c.focus[0]).locator(`button[data-action="${c.focus[1]}"]`).focus();
        for (const doc of c.docs) await page.render(doc);
        assert.deepEqual(await page.focused(), c.expected);
      });
    });
  }

  test('Enter on "Install and open": the card keeps the focus through the start; Enter again installs nothing, ' +
    'Space leaves the page where it is', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      await page.card('open-webui').locator('button[data-action="open"]').focus();
      await page.page.keyboard.press('Enter');
      assert.deepEqual(await page.take(), ['open:open-webui']);
      // A render with every progress line; every button of the card is disabled meanwhile.
      for (let line = 0; line < 2; line += 1) {
        await page.render('render-installing');
        assert.deepEqual(await page.focused(), { card: 'open-webui' });
        await page.page.keyboard.press('Enter');
        assert.deepEqual(await page.take(), []);
        const scrolled = await page.scrollSettled();
        await page.page.keyboard.press('Space');
        await page.page.keyboard.press('Shift+Space');
        assert.equal(await page.scrollSettled(), scrolled, 'the card stays in view');
        assert.deepEqual(await page.take(), []);
      }
      // The next Tab goes on from the card, not from the top of the page.
      await page.page.keyboard.press('Tab');
      assert.deepEqual(await page.focused(), { app: 'open-webui', action: 'first' });
      await page.render('render-installing');
      assert.deepEqual(await page.focused(), { app: 'open-webui', action: 'first' });
    });
  });

  test('a redraw puts the focus back without scrolling the page', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      await page.card('gitea').locator('button[data-action="first"]').click();
      assert.deepEqual(await page.take(), ['first:gitea']);
      // The wheel takes the page down to the section for adding an app, far below the card.
      const box = await page.page.locator('#view-title').boundingBox();
      await page.page.mouse.move(box.x + 10, box.y + 10);
      await page.page.mouse.wheel(0, 3000);
      await page.page.waitForFunction(() => document.getElementById('add-title').getBoundingClientRect().top < innerHeight);
      const before = await page.scrollSettled();
      assert.ok(before > 1000, 'the wheel scrolled the page down');
      await page.render('render-installed');
      assert.deepEqual(await page.focused(), { app: 'gitea', action: 'first' }, 'the focus is kept');
      assert.equal(await page.scrollSettled(), before, 'the page stays where the wheel took it');
    });
  });

  test('a pointer press outside every card forgets the focused card', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.card('n8n').locator('button[data-action="stop"]').focus();
      await page.page.click('#view-lead');
      await page.render('render-installed');
      assert.equal(await page.focused(), null);
    });
  });

  test('focus on a side button is left alone by a redraw', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.card('n8n').locator('button[data-action="stop"]').focus();
      await page.page.keyboard.press('Shift+Tab');
      await page.page.focus('#refresh');
      await page.render('render-installed');
      assert.deepEqual(await page.focused(), { id: 'refresh' });
    });
  });

  test('after the confirm dialog closes, the focus returns to the offer card, redrawn meanwhile', async () => {
    await withDocuments(['render-installed', 'shelves-offers'], async page => {
      await page.page.click('#view-store');
      await page.card('sketch').locator('button').focus();
      await page.page.keyboard.press('Enter');
      assert.deepEqual(await page.focused(), { id: 'confirm-yes' });
      await page.render('render-installed');
      await page.shelves('shelves-offers');
      assert.deepEqual(await page.focused(), { id: 'confirm-yes' }, 'a redraw leaves the dialog\'s focus alone');
      await page.page.keyboard.press('Escape');
      await page.focusOutsideDialogs();
      assert.deepEqual(await page.focused(), { app: 'sketch', action: 'open' });
      // And after "yes", once the word is posted.
      await page.page.keyboard.press('Enter');
      await page.render('render-installed');
      await page.page.keyboard.press('Enter');
      await page.focusOutsideDialogs();
      assert.deepEqual(await page.focused(), { app: 'sketch', action: 'open' });
      assert.deepEqual(await page.take(), ['shelf-install:https://zelk.app/shelf/sketch.yaml']);
    });
  });

  test('after the passwords dialog closes, the focus returns to the card\'s "Passwords" link', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.card('notes').locator('button[data-action="passwords"]').focus();
      await page.page.keyboard.press('Enter');
      assert.deepEqual(await page.take(), ['passwords:notes']);
      await page.made('made-items');
      await page.render('render-installed');
      assert.deepEqual(await page.focused(), { id: 'made-close' });
      await page.page.keyboard.press('Enter');
      await page.focusOutsideDialogs();
      assert.deepEqual(await page.focused(), { app: 'notes', action: 'passwords' });
    });
  });
});

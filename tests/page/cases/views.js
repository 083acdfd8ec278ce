'use strict';
// Which view shows: chosen once, at the first known state, and for good by a view button.
const { test } = require('node:test');
const { assert, describe, withDocuments, withPage } = require('./common');

async function shownView(page) {
  return page.page.evaluate(() => ({
    title: document.getElementById('view-title').textContent,
    lead: document.getElementById('view-lead').textContent,
    active: [...document.querySelectorAll('.views button')].filter(b => b.classList.contains('active') &&
      b.getAttribute('aria-pressed') === 'true').map(b => b.textContent),
  }));
}

const installedView = {
  title: 'Installed Apps',
  lead: 'The local tools already prepared on this computer.',
  active: ['Installed Apps'],
};
const storeView = {
  title: 'App Store',
  lead: 'Tools the Zelk can install and run on this computer, each with a fixed version. A card says where an app comes from.',
  active: ['App Store'],
};

describe('views', () => {
  test('before the first render the page shows its initial texts and nothing data-driven', async () => {
    await withPage(async page => {
      const initial = await page.page.evaluate(() => ({
        title: document.getElementById('view-title').textContent,
        version: document.getElementById('version').textContent,
        state: document.getElementById('state-title').textContent,
        figures: [document.getElementById('running-count').textContent, document.getElementById('installed-count').textContent],
        cards: document.getElementById('cards').childElementCount,
        hidden: ['setup', 'advanced-toggle', 'advanced', 'update-banner', 'shelf-bar', 'shelves-section', 'add-section',
          'preview'].filter(id => document.getElementById(id).hidden),
        footer: [...document.querySelectorAll('footer span')].map(s => s.textContent),
        brand: document.querySelector('.brand-name').textContent,
        views: document.querySelector('nav').getAttribute('aria-label'),
      }));
      assert.deepEqual(initial, {
        title: 'Installed Apps',
        version: '',
        state: 'Reading the state ...',
        figures: ['0', '0'],
        cards: 0,
        hidden: ['setup', 'advanced-toggle', 'advanced', 'update-banner', 'shelf-bar', 'shelves-section', 'add-section',
          'preview'],
        footer: ['Valdroven AI Zelk / local only', 'Closing this window stops nothing'],
        brand: 'Valdroven AI Zelk',
        views: 'Views',
      });
    });
  });

  test('an element marked hidden is never shown, whatever its class sets', async () => {
    await withDocuments(['render-installed'], async page => {
      const hiddenOnes = await page.page.evaluate(() => [...document.querySelectorAll('[hidden]')].map(node => {
        const hidden = getComputedStyle(node).display;
        node.hidden = false;
        const shown = getComputedStyle(node).display;
        node.hidden = true;
        return { id: node.id, hidden, shown };
      }));
      // Among them, ones whose class lays them out as a flex box.
      const flexible = hiddenOnes.filter(node => node.shown === 'flex').map(node => node.id);
      for (const id of ['setup', 'update-banner', 'advanced']) assert.ok(flexible.includes(id), id);
      assert.deepEqual(hiddenOnes.filter(node => node.hidden !== 'none'), []);
      for (const id of ['setup', 'update-banner', 'advanced']) assert.equal(await page.visible('#' + id), false, id);
    });
  });

  // Documents in order, and the view shown after each.
  const cases = [
    { name: 'unknown state: installed view with "Reading the state ..." and no choice made',
      steps: [['render-first', installedView, 'Reading the state ...']] },
    { name: 'unknown, then known with nothing installed: the store',
      steps: [['render-first', installedView, 'Reading the state ...'], ['render-none-installed', storeView, null]] },
    { name: 'unknown, then known with installed apps: installed',
      steps: [['render-first', installedView, null], ['render-installed', installedView, null]] },
    { name: 'the choice stays when apps get installed later',
      steps: [['render-none-installed', storeView, null], ['render-installed', storeView, null]] },
    { name: 'the choice stays when the apps go away later',
      steps: [['render-installed', installedView, null], ['render-none-installed', installedView,
        'Nothing is installed yet. Pick an app in the App Store.']] },
  ];
  for (const { name, steps } of cases) {
    test(name, async () => {
      await withPage(async page => {
        for (const [doc, expected, emptyBox] of steps) {
          await page.render(doc);
          assert.deepEqual(await shownView(page), expected, doc);
          if (emptyBox !== null) assert.equal(await page.text('#cards .empty p'), emptyBox);
        }
      });
    });
  }

  test('a view button sets the view for good, also before the state is known', async () => {
    await withDocuments(['render-first'], async page => {
      await page.page.click('#view-store');
      assert.deepEqual(await shownView(page), storeView);
      await page.render('render-installed');
      assert.deepEqual(await shownView(page), storeView);
      await page.page.click('#view-installed');
      await page.render('render-none-installed');
      assert.deepEqual(await shownView(page), installedView);
      assert.deepEqual(await page.posted(), [], 'a view button posts nothing');
    });
  });

  test('"Open the App Store" in an empty installed view chooses the store', async () => {
    await withDocuments(['render-installed', 'render-none-installed'], async page => {
      assert.equal(await page.visible('#open-store'), true);
      await page.page.click('#open-store');
      assert.deepEqual(await shownView(page), storeView);
      await page.render('render-none-installed');
      assert.deepEqual(await shownView(page), storeView);
    });
  });

  test('the summary row and the side figures count the apps of the view', async () => {
    await withDocuments(['render-installed'], async page => {
      const summary = () => page.page.evaluate(() => [...document.querySelectorAll('#summary > span')].map(s =>
        [s.querySelector('b').textContent, s.textContent]));
      // n8n runs; Gitea, Notes and Pad are installed and do not run.
      assert.deepEqual(await summary(), [['1', '1 running'], ['3', '3 not running'], ['4', '4 installed apps']]);
      assert.deepEqual([await page.text('#running-count'), await page.text('#installed-count')], ['1', '4']);
      await page.page.click('#view-store');
      assert.deepEqual(await summary(), [['7', '7 apps'], ['4', '4 installed']]);
      await page.shelves('shelves-offers');
      assert.deepEqual(await summary(), [['10', '10 apps'], ['4', '4 installed']]);
    });
  });
});

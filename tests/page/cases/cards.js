'use strict';
// App cards and offer cards: accents, glyphs, tags, buttons, links and the words they post.
const { test } = require('node:test');
const { assert, describe, harness, withDocuments } = require('./common');

const accents = ['coral', 'gold', 'green', 'violet', 'blue'];

// The links of a card, by the document's flags, in their fixed order.
const linkRules = [
  [a => a.reviewed, 'First steps', 'first', "Opens the website's page with a first task for this app, in your browser."],
  [a => a.lesson !== '', 'Lesson', 'lesson', "Opens the curriculum's lesson for this app, in your browser."],
  [a => a.canModel, 'Get the recommended model', 'model',
    'Fetches the language model llama3.2:3b into Ollama, about 2 GB. Starts Ollama first if it is not running.'],
  [a => a.passwords, 'Passwords', 'passwords', 'Shows the passwords the Zelk made for this app when it first started.'],
  [a => a.canBackup, 'Back up', 'backup', 'Copies the app\'s data and passwords into the folder \u201cValdroven AI Zelk ' +
    'backups\u201d in your user folder. A running app is stopped for the copy and started again.'],
  [a => a.canRemove, 'Remove', 'remove', 'Removes the container. Data and settings stay.'],
  [a => a.canForget, 'Take out of the list', 'forget', 'Takes this added app out of the list. Its data is not touched.'],
];

describe('cards', () => {
  test('accents follow the position among all apps, so a card keeps its colour in both views', async () => {
    await withDocuments(['render-installed'], async page => {
      const doc = harness.documentValue('render-installed');
      const installed = await page.cards();
      assert.deepEqual(installed.map(c => [c.app, c.accent]),
        doc.apps.map((a, i) => [a.id, accents[i % 5]]).filter(([id]) => doc.apps.find(a => a.id === id).installed));
      assert.deepEqual(installed.map(c => c.app), ['n8n', 'gitea', 'notes', 'pad']);
      await page.page.click('#view-store');
      const all = await page.cards();
      assert.deepEqual(all.map(c => c.accent), ['coral', 'gold', 'green', 'violet', 'blue', 'coral', 'gold']);
      const glyphColour = await page.page.evaluate(() => [...document.querySelectorAll('#cards .glyph')].map(g =>
        getComputedStyle(g).backgroundColor));
      assert.equal(glyphColour[0], glyphColour[5], 'the sixth card takes the first accent again');
      assert.equal(new Set(glyphColour.slice(0, 5)).size, 5, 'five accents differ');
    });
  });

  test('glyphs are the first two letters or digits of the name, in upper case', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      assert.deepEqual((await page.cards()).map(c => [c.name, c.glyph]), [
        ['n8n', 'N8'], ['Gitea', 'GI'], ['Open WebUI', 'OP'], ['Ollama', 'OL'], ['Notes', 'NO'], ['Wiki café', 'WI'],
        ['Pad', 'PA']]);
    });
    await withDocuments(['render-hostile'], async page => {
      assert.deepEqual((await page.cards()).map(c => c.glyph), ['SC', 'IM', 'BO', 'FO', 'SU']);
    });
  });

  test('tags: category, origin, uses and helpers, with their hover texts', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      const fromFile = 'Added from a file on this computer. Nobody has reviewed it.';
      const helpers = 'Containers this app brings along, such as a database. Only the app reaches them.';
      const own = "Fetched from the Zelk's own shelf at zelk.app. The Zelk team tries every recipe before it is put there.";
      const course = 'Fetched from course.example.org. The Zelk team did not review it.';
      assert.deepEqual((await page.cards()).map(c => [c.app, c.tags, c.tagHovers]), [
        ['n8n', ['Automation'], ['']],
        ['gitea', ['Git server'], ['']],
        ['open-webui', ['AI workspace', 'Uses Ollama'], ['', '']],
        ['ollama', ['Local models'], ['']],
        ['notes', ['Writing', 'Not reviewed'], ['', fromFile]],
        ['wiki', ['Knowledge', 'Zelk shelf', '3 helpers'], ['', own, helpers]],
        ['pad', ['Writing', 'From course.example.org', '1 helper'], ['', course, helpers]],
      ]);
      const warned = await page.page.evaluate(() => [...document.querySelectorAll('#cards .tag.warn')].map(t => t.textContent));
      assert.deepEqual(warned, ['Not reviewed', 'From course.example.org']);
    });
  });

  test('the primary button, Stop, and their disabled states', async () => {
    await withDocuments(['render-busy'], async page => {
      await page.page.click('#view-store');
      const byApp = Object.fromEntries((await page.cards()).map(c => [c.app, c.buttons]));
      assert.deepEqual(byApp, {
        'n8n': [
          // Busy, so not "ready": the open label, not the address.
          { action: 'open', text: 'Open\u2192', label: 'Open, n8n', disabled: true },
          { action: 'stop', text: 'Stop', label: 'Stop n8n', disabled: true }],
        'gitea': [
          { action: 'open', text: 'Start and open\u2192', label: 'Start and open, Gitea', disabled: true },
          { action: 'stop', text: 'Stop', label: 'Stop Gitea', disabled: true }],
        'open-webui': [
          { action: 'open', text: 'Install and open\u2192', label: 'Install and open, Open WebUI', disabled: false }],
        'ollama': [
          { action: 'open', text: 'Start and open\u2192', label: 'Start and open, Ollama', disabled: false },
          { action: 'stop', text: 'Stop', label: 'Stop Ollama', disabled: false }],
        'notes': [
          { action: 'open', text: 'Start and open\u2192', label: 'Start and open, Notes', disabled: false },
          { action: 'stop', text: 'Stop', label: 'Stop Notes', disabled: true }],
        'wiki': [
          { action: 'open', text: 'Install and open\u2192', label: 'Install and open, Wiki café', disabled: false }],
        'pad': [
          { action: 'open', text: 'Start and open\u2192', label: 'Start and open, Pad', disabled: false },
          { action: 'stop', text: 'Stop', label: 'Stop Pad', disabled: false }],
      });
    });
    await withDocuments(['render-calm'], async page => {
      const gitea = (await page.cards()).find(c => c.app === 'gitea');
      assert.deepEqual(gitea.buttons[0],
        { action: 'open', text: 'Open 127.0.0.1:33009\u2197', label: 'Open 127.0.0.1:33009, Gitea', disabled: false });
    });
  });

  test('state lines: the status, and a dot by tone', async () => {
    await withDocuments(['render-busy'], async page => {
      await page.page.click('#view-store');
      const doc = harness.documentValue('render-busy');
      const cards = await page.cards();
      assert.deepEqual(cards.map(c => c.status), doc.apps.map(a => a.status));
      assert.equal(cards.find(c => c.app === 'gitea').status, 'Fetching docker.gitea.com/gitea:1.24.2: 120 MB of 310 MB');
      assert.equal(cards.find(c => c.app === 'n8n').status, 'stopping ...');
      assert.deepEqual(cards.map(c => c.dot), doc.apps.map(a =>
        a.tone === 'ready' ? 'dot ready' : a.tone === 'busy' ? 'dot busy' : 'dot'));
      const pulse = await page.page.evaluate(() => {
        const dot = document.querySelector('#cards .dot.busy');
        const style = getComputedStyle(dot);
        return [style.animationName, style.animationDuration, style.animationIterationCount];
      });
      assert.deepEqual(pulse, ['pulse', '1s', 'infinite']);
    });
  });

  test('links follow the document\'s flags, in their order, with their hover texts and names', async () => {
    for (const name of ['render-installed', 'render-busy', 'render-none-installed']) {
      await withDocuments([name], async page => {
        await page.page.click('#view-store');
        const doc = harness.documentValue(name);
        const cards = await page.cards();
        const expected = doc.apps.map(app => linkRules.filter(([when]) => when(app)).map(([, label, word, hover]) => ({
          action: word, text: label, label: label + ', ' + app.name, hover })));
        assert.deepEqual(cards.map(c => c.links), expected, name);
        assert.deepEqual(cards.map(c => c.linksShown), expected.map(list => list.length > 0), name);
      });
    }
  });

  test('every card control posts its word and the app id', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      const controls = await page.page.evaluate(() => [...document.querySelectorAll('#cards .card button')]
        .filter(b => !b.disabled).map(b => [b.closest('.card').dataset.app, b.dataset.action]));
      assert.ok(controls.length >= 20);
      const words = [];
      for (const [app, action] of controls) {
        await page.card(app).locator(`button[data-action="${action}"]`).click();
        words.push(action + ':' + app);
      }
      assert.deepEqual(await page.take(), words);
      // Each kind of word appears.
      assert.deepEqual([...new Set(controls.map(c => c[1]))].sort(),
        ['backup', 'first', 'forget', 'lesson', 'model', 'open', 'passwords', 'remove', 'stop'].sort());
    });
  });
});

describe('offer cards', () => {
  test('offers are the new recipes of the shelves, the first shelf winning, none already an app', async () => {
    await withDocuments(['render-installed', 'shelves-offers'], async page => {
      await page.page.click('#view-store');
      const shelves = harness.documentValue('shelves-offers');
      const offers = (await page.cards()).filter(c => c.offer);
      assert.deepEqual(offers.map(c => [c.app, c.name, c.accent]), [
        ['kanban', 'Kanban board', 'green'], ['sketch', 'Sketch', 'violet'], ['quiz', 'Quiz maker', 'blue']]);
      const kanban = offers[0];
      assert.equal(kanban.status, 'on the shelf ' + shelves.shelves[0].name);
      assert.equal(kanban.dot, 'dot');
      assert.deepEqual(kanban.tags, ['Planning', 'From course.example.org', '2 helpers']);
      assert.equal(kanban.summary, 'Cards and columns for the tasks of a small team.');
      assert.deepEqual(kanban.buttons, [{ action: 'open', text: 'Install\u2192', label: 'Install, Kanban board', disabled: false }]);
      assert.deepEqual(kanban.links, []);
      assert.deepEqual(offers[1].tags, ['Drawing', 'Zelk shelf']);
      assert.equal(offers[1].status, 'on the shelf ' + shelves.shelves[1].name);
      // The offer of an id that is already an app (notes) shows only as that app.
      assert.deepEqual((await page.cards()).filter(c => c.app === 'notes').map(c => c.offer), [false]);
      // Installing asks first and posts nothing yet.
      await page.card('kanban').locator('button').click();
      assert.equal(await page.page.evaluate(() => document.getElementById('confirm').open), true);
      assert.deepEqual(await page.take(), []);
    });
  });

  test('offers show only in the store view', async () => {
    await withDocuments(['render-installed', 'shelves-offers'], async page => {
      assert.deepEqual((await page.cards()).filter(c => c.offer), []);
    });
  });
});

describe('a press and its release across a redraw', () => {
  // The pointer goes down on a control, a document comes (during an install one comes with every
  // progress line), and the pointer comes up on the same spot: the control acts, once.
  const cases = [
    { name: 'a card link, while the card turns busy', docs: ['render-installed'], redraw: ['render-busy'],
      control: page => page.card('gitea').locator('button[data-action="backup"]'), words: ['backup:gitea'] },
    { name: 'a card\'s primary button', docs: ['render-installed'], redraw: ['render-installed'],
      control: page => page.card('n8n').locator('button[data-action="open"]'), words: ['open:n8n'] },
    { name: 'a card\'s "Stop"', docs: ['render-installed'], redraw: ['render-installed', 'render-installed'],
      control: page => page.card('n8n').locator('button[data-action="stop"]'), words: ['stop:n8n'] },
    { name: 'a shelf\'s "Take this shelf out", across a shelves document', docs: ['render-installed', 'shelves-offers'],
      redraw: ['shelves-offers'], control: page => page.page.locator('.shelf .link').first(),
      words: ['shelf-forget:https://course.example.org/zelk/shelf.yaml'] },
  ];
  for (const c of cases) {
    test(c.name, async () => {
      await withDocuments(c.docs, async page => {
        await page.page.click('#view-store');
        await c.control(page).hover();
        await page.page.mouse.down();
        for (const name of c.redraw) await page.send(name.split('-')[0], name);
        await page.page.mouse.up();
        assert.deepEqual(await page.take(), c.words);
      });
    });
  }

  test('the document that came meanwhile is drawn once the pointer is up', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      await page.card('gitea').locator('button[data-action="backup"]').hover();
      await page.page.mouse.down();
      await page.render('render-busy');
      await page.page.mouse.up();
      const progress = harness.documentValue('render-busy').apps.find(a => a.id === 'gitea').status;
      await page.page.waitForFunction(text => [...document.querySelectorAll('#cards .card[data-app="gitea"] .status')]
        .some(node => node.textContent === text), progress);
      assert.deepEqual(await page.take(), ['backup:gitea']);
    });
  });

  test('released away from the control, or outside the window: nothing, and the document is drawn', async () => {
    for (const [x, y] of [[10, 10], [-40, 300]]) {
      await withDocuments(['render-installed'], async page => {
        await page.page.click('#view-store');
        await page.card('n8n').locator('button[data-action="open"]').hover();
        await page.page.mouse.down();
        await page.render('render-busy');
        await page.page.mouse.move(x, y, { steps: 4 });
        await page.page.mouse.up();
        await page.page.waitForFunction(() => document.querySelector('#cards .card[data-app="n8n"] .status')
          .textContent === 'stopping ...');
        assert.deepEqual(await page.take(), [], `released at ${x}, ${y}`);
      });
    }
  });

  test('the space bar held on a button across a redraw presses it once; Enter too', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.card('gitea').locator('button[data-action="backup"]').focus();
      await page.page.keyboard.down(' ');
      await page.render('render-installed');
      await page.page.keyboard.up(' ');
      assert.deepEqual(await page.take(), ['backup:gitea']);
      await page.page.keyboard.press('Enter');
      assert.deepEqual(await page.take(), ['backup:gitea']);
      assert.deepEqual(await page.focused(), { app: 'gitea', action: 'backup' });
    });
  });
});

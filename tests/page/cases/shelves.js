'use strict';
// The shelf bar, the Shelves section, and shelf requests: one at a time.
const { test } = require('node:test');
const { assert, describe, harness, withDocuments } = require('./common');

// A document of the builders as the program sends it: the shelves answering a request, or a
// render telling which shelf requests it has under way and waiting.
const answering = (name, word) => JSON.stringify({ ...harness.documentValue(name), answers: word });
const working = (name, work) => JSON.stringify({ ...harness.documentValue(name), shelfWork: work });

function waitingLine(page) {
  return page.page.evaluate(() => {
    const node = document.getElementById('shelf-waiting');
    return node.hidden ? null : node.textContent;
  });
}

function bar(page) {
  return page.page.evaluate(() => {
    const node = document.getElementById('shelf-bar');
    const button = document.getElementById('shelf-bar-button');
    return node.hidden ? null : {
      text: document.getElementById('shelf-bar-text').textContent,
      button: button.textContent,
      busy: button.getAttribute('aria-disabled'),
    };
  });
}

describe('shelf bar', () => {
  const before = 'It fetches the list only when you ask.';
  const cases = [
    [['render-none-installed'], { text: 'More apps are on the shelf this Zelk knows. ' + before, button: 'Show more apps', busy: 'false' }],
    [['render-three-shelves'], { text: 'More apps are on the 3 shelves this Zelk knows. ' + before, button: 'Show more apps', busy: 'false' }],
    [['render-no-shelves'], null],
    // Without Notes among the apps, the shelf's Notes is an offer too.
    [['render-no-shelves', 'shelves-offers'], { text: 'From the shelves: 4 apps to install, 2 already on your Zelk. ' +
      '2 entries could not be used; see Shelves below.', button: 'Look again', busy: 'false' }],
    [['render-installed', 'shelves-offers'], { text: 'From the shelves: 3 apps to install, 2 already on your Zelk. ' +
      '2 entries could not be used; see Shelves below.', button: 'Look again', busy: 'false' }],
    [['render-hostile', 'shelves-hostile'], { text: 'From the shelves: 1 app to install, 1 already on your Zelk. ' +
      '1 entry could not be used; see Shelves below.', button: 'Look again', busy: 'false' }],
  ];
  for (const [docs, expected] of cases) {
    test(docs.join(' + '), async () => {
      await withDocuments(docs, async page => {
        await page.page.click('#view-store');
        assert.deepEqual(await bar(page), expected);
      });
    });
  }

  test('the bar shows in the store view only', async () => {
    await withDocuments(['render-installed'], async page => {
      assert.equal(await bar(page), null);
      assert.equal(await page.visible('#shelves-section'), false);
      assert.equal(await page.visible('#add-section'), false);
      await page.page.click('#view-store');
      assert.notEqual(await bar(page), null);
      assert.equal(await page.visible('#shelves-section'), true);
      assert.equal(await page.visible('#add-section'), true);
    });
  });
});

describe('shelf requests', () => {
  test('"Show more apps" and "Look again" post "shelves" once while the shelves are fetched', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await page.page.click('#shelf-bar-button');
      assert.deepEqual(await bar(page), { text: 'Fetching the shelves ...', button: 'Fetching ...', busy: 'true' });
      // Marked disabled for assistive technology only: a click still arrives and is ignored.
      await page.page.click('#shelf-bar-button', { force: true });
      assert.deepEqual(await page.take(), ['shelves']);
      await page.render('render-none-installed');
      assert.equal((await bar(page)).button, 'Fetching ...', 'a render keeps the request under way');
      await page.shelves('shelves-offers');
      assert.equal((await bar(page)).button, 'Look again');
      await page.page.evaluate(() => {
        document.getElementById('shelf-bar-button').click();
        document.getElementById('shelf-bar-button').click();
      });
      assert.deepEqual(await page.take(), ['shelves']);
    });
  });

  test('a shelf added or taken out while the shelves are fetched is posted at once and waits its turn in the ' +
    'program; the page posts nothing by itself; text typed since stays', async () => {
    await withDocuments(['render-none-installed'], async page => {
      const field = () => page.page.inputValue('#shelf-address');
      const course = harness.documentValue('shelves-offers').shelves[0];
      const b = 'shelf-add:https://b.example.org/shelf.yaml';
      const c = 'shelf-add:https://c.example.org/shelf.yaml';
      await page.page.click('#shelf-bar-button');
      await page.page.click('#shelf-address');
      await page.page.keyboard.type('https://b.example.org/shelf.yaml');
      await page.page.keyboard.press('Enter');
      assert.deepEqual(await page.take(), ['shelves', b]);
      assert.equal(await waitingLine(page),
        'Fetching the shelves ...\nWaiting its turn: adding https://b.example.org/shelf.yaml');
      // The next address is typed while that one waits.
      await page.page.keyboard.press('Control+A');
      await page.page.keyboard.type('https://c.example.org/shelf.yaml');
      await page.render(working('render-none-installed', { working: 'shelves', waiting: [b] }));
      await page.shelves(answering('shelves-offers', 'shelves'));
      assert.deepEqual(await page.take(), [], 'the program starts the waiting one; the page posts nothing');
      assert.equal(await field(), 'https://c.example.org/shelf.yaml', 'the fetch\'s answer leaves the typed text');
      await page.render(working('render-none-installed', { working: b, waiting: [] }));
      assert.equal(await waitingLine(page), 'Fetching the shelves ...');
      await page.shelves(answering('shelves-offers', b));
      assert.equal(await field(), 'https://c.example.org/shelf.yaml', 'the answer to b leaves the text typed after it');
      await page.render('render-none-installed');
      assert.equal(await waitingLine(page), null);
      // Now c goes, and a shelf is taken out while it is fetched.
      await page.page.click('#shelf-add');
      await page.page.getByRole('button', { name: 'Take this shelf out, ' + course.name, exact: false }).click();
      assert.deepEqual(await page.take(), [c, 'shelf-forget:' + course.address]);
      assert.equal(await waitingLine(page), 'Fetching the shelves ...\nWaiting its turn: taking out ' + course.address);
      await page.shelves(answering('shelves-offers', c));
      assert.equal(await field(), '', 'the answer to c empties the field that still holds c');
      await page.shelves(answering('shelves-offers', 'shelf-forget:' + course.address));
      await page.render('render-none-installed');
      assert.deepEqual([await waitingLine(page), (await bar(page)).button, await page.take()],
        [null, 'Look again', []]);
    });
  });

  test('a page opened again shows the shelf requests the program has under way and waiting', async () => {
    const work = { working: 'shelf-add:https://b.example.org/shelf.yaml',
      waiting: ['shelf-forget:https://a.example.org/shelf.yaml'] };
    await withDocuments([], async page => {
      await page.render(working('render-none-installed', work));
      await page.page.click('#view-store');
      assert.equal(await waitingLine(page), 'Fetching the shelves ...\nWaiting its turn: taking out ' +
        'https://a.example.org/shelf.yaml');
      assert.equal((await bar(page)).button, 'Fetching ...');
      // Asked for again, neither is posted twice.
      await page.page.fill('#shelf-address', 'https://b.example.org/shelf.yaml');
      await page.page.click('#shelf-add');
      assert.deepEqual(await page.take(), []);
    });
  });

  const addCases = [
    ['', null],
    ['   \t ', null],
    ['  https://course.example.org/zelk/shelf.yaml \n', 'shelf-add:https://course.example.org/zelk/shelf.yaml'],
    ['https://host.example.org:8443/a:b/shelf.yaml?x=1', 'shelf-add:https://host.example.org:8443/a:b/shelf.yaml?x=1'],
  ];
  for (const [typed, word] of addCases) {
    test('"Add this shelf" with ' + JSON.stringify(typed), async () => {
      await withDocuments(['render-none-installed'], async page => {
        await page.page.fill('#shelf-address', typed);
        await page.page.click('#shelf-add');
        if (word === null) {
          assert.equal(await page.text('#shelf-error'), "Type or paste a shelf's address first.");
          assert.deepEqual(await page.take(), []);
          assert.equal((await bar(page)).button, 'Show more apps', 'no request is under way');
        } else {
          assert.equal(await page.text('#shelf-error'), '');
          assert.deepEqual(await page.take(), [word]);
        }
      });
    });
  }

  test('Enter in the address field adds the shelf too', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await page.page.fill('#shelf-address', 'https://a.example.org/s.yaml');
      await page.page.press('#shelf-address', 'Enter');
      assert.deepEqual(await page.take(), ['shelf-add:https://a.example.org/s.yaml']);
    });
  });

  test('an answer without a problem empties the field; one with a problem shows it and keeps the field', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await page.page.fill('#shelf-address', 'https://a.example.org/s.yaml');
      await page.page.click('#shelf-add');
      await page.shelves(answering('shelves-problem', 'shelf-add:https://a.example.org/s.yaml'));
      const problem = harness.documentValue('shelves-problem').problem;
      assert.equal(await page.text('#shelf-error'), problem);
      assert.equal(await page.page.inputValue('#shelf-address'), 'https://a.example.org/s.yaml');
      await page.page.click('#shelf-add');
      assert.equal(await page.text('#shelf-error'), '', 'a new request clears the error line');
      await page.shelves(answering('shelves-offers', 'shelf-add:https://a.example.org/s.yaml'));
      assert.equal(await page.text('#shelf-error'), '');
      assert.equal(await page.page.inputValue('#shelf-address'), '');
      assert.deepEqual(await page.take(), ['shelf-add:https://a.example.org/s.yaml', 'shelf-add:https://a.example.org/s.yaml']);
    });
  });
});

describe('Shelves section', () => {
  test('lists each shelf with its address, its count or problem, and rows for changed and refused recipes', async () => {
    await withDocuments(['render-installed', 'shelves-offers'], async page => {
      await page.page.click('#view-store');
      const doc = harness.documentValue('shelves-offers');
      const list = await page.page.evaluate(() => [...document.querySelectorAll('#shelf-list > li')].map(li => ({
        name: li.querySelector('.shelf-name').textContent,
        address: li.querySelector('.address').textContent,
        out: [li.querySelector('.shelf-head button').textContent, li.querySelector('.shelf-head button').title],
        outName: li.querySelector('.shelf-head button').getAttribute('aria-label'),
        line: li.querySelector(':scope > .shelf-line').textContent,
        problem: li.querySelector(':scope > .shelf-line').classList.contains('problem'),
        rows: [...li.querySelectorAll('.shelf-row')].map(row => [...row.children].map(c => c.textContent)),
      })));
      const out = ['Take this shelf out', 'The apps you installed from it stay.'];
      // A screen reader's list of buttons says which shelf each link takes out.
      const outName = shelf => 'Take this shelf out, ' + (shelf.name === null ? '' : shelf.name + ', ') + shelf.address;
      assert.deepEqual(list, [
        { name: 'Course shelf', address: doc.shelves[0].address, out, outName: outName(doc.shelves[0]),
          line: '5 apps. The ones not on your Zelk yet are among the cards above.', problem: false,
          rows: [['Pad', "Take the shelf's recipe", 'The shelf has another recipe for it than your Zelk.'],
            ['broken.yaml', 'Not usable here: Line 3: a tab is not allowed here; indent with spaces.']] },
        { name: "The Zelk's shelf", address: doc.shelves[1].address, out, outName: outName(doc.shelves[1]),
          line: '3 apps. The ones not on your Zelk yet are among the cards above.', problem: false, rows: [] },
        { name: 'A shelf that could not be read', address: doc.shelves[2].address, out, outName: outName(doc.shelves[2]),
          line: doc.shelves[2].problem, problem: true, rows: [] },
      ]);
      const colours = await page.page.evaluate(() => [...document.querySelectorAll('#shelf-list .problem')].map(p =>
        [getComputedStyle(p).color, getComputedStyle(p).userSelect]));
      const danger = await page.colour('--danger-text');
      assert.deepEqual(colours, [[danger, 'text'], [danger, 'text']]);
      await page.page.getByRole('button', { name: outName(doc.shelves[2]), exact: true }).click();
      assert.deepEqual(await page.take(), ['shelf-forget:' + doc.shelves[2].address]);
    });
  });
});

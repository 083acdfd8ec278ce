'use strict';
// The document frame: what it declares, that it asks the network for nothing, "ready" once,
// and that texts written by strangers stay texts.
const { test } = require('node:test');
const fs = require('node:fs');
const os = require('node:os');

const path = require('node:path');
const { assert, describe, harness, withDocuments, withPage } = require('./common');

describe('frame', () => {
  test('declares its language, character set, title and the content policy', async () => {
    await withPage(async page => {
      const frame = await page.page.evaluate(() => ({
        lang: document.documentElement.lang,
        charset: document.characterSet,
        title: document.title,
        policy: document.querySelector('meta[http-equiv="Content-Security-Policy"]').content,
        styles: document.querySelectorAll('style').length,
        scripts: document.querySelectorAll('script').length,
        outside: document.querySelectorAll('link, img, iframe, object, embed, script[src], [src]').length,
        functions: ['render', 'shelves', 'outcome', 'made'].map(name => typeof window[name]),
      }));
      assert.deepEqual(frame, {
        lang: 'en',
        charset: 'UTF-8',
        title: 'Valdroven AI Zelk',
        policy: "default-src 'none'; style-src 'unsafe-inline'; script-src 'unsafe-inline'",
        styles: 1,
        scripts: 1,
        outside: 0,
        functions: ['function', 'function', 'function', 'function'],
      });
    });
  });

  test('the page file keeps CRLF line ends throughout', () => {
    const bytes = fs.readFileSync(path.join(process.env.ZELK_SOURCE_DIR || path.resolve(__dirname, '../../..'), 'src', 'page.html'));
    const text = bytes.toString('latin1');
    const lineFeeds = (text.match(/\n/g) || []).length;
    const pairs = (text.match(/\r\n/g) || []).length;
    assert.ok(lineFeeds > 100);
    assert.equal(pairs, lineFeeds, 'a line ends without a carriage return');
  });

  test('the page file\'s lines are at most 120 characters long', () => {
    const file = path.join(process.env.ZELK_SOURCE_DIR || path.resolve(__dirname, '../../..'), 'src', 'page.html');
    // Save the content policy: the window program's own test finds that element whole, on one line.
    const policy = '<meta http-equiv="Content-Security-Policy" content="default-src \'none\'; ' +
      'style-src \'unsafe-inline\'; script-src \'unsafe-inline\'">';
    const long = fs.readFileSync(file, 'utf8').split(/\r?\n/).map((line, i) => [i + 1, [...line].length, line])
      .filter(([, length, line]) => length > 120 && line !== policy).map(([number, length]) => [number, length]);
    assert.deepEqual(long, [], 'lines (number, length) longer than 120 characters');
  });

  test('posts "ready" exactly once, and nothing else, when it has loaded', async () => {
    await withPage(async page => {
      await page.page.waitForTimeout(300);
      assert.deepEqual(await page.posted(), ['ready']);
    });
  });

  test('asks the network for nothing while it runs, and its policy refuses every attempt', async () => {
    await withPage(async page => {
      for (const name of ['render-installed', 'shelves-offers', 'outcome-preview', 'made-items', 'render-hostile',
        'shelves-hostile', 'render-update-problem']) {
        await page.send(name.split('-')[0], name);
      }
      await page.page.keyboard.press('Escape');
      const attempts = await page.page.evaluate(async () => {
        const refused = [];
        document.addEventListener('securitypolicyviolation', event => refused.push(event.effectiveDirective));
        const fetched = await fetch('http://127.0.0.1:9/x').then(() => 'fetched', () => 'refused');
        const image = new Image();
        image.src = 'http://127.0.0.1:9/x.png';
        document.body.append(image);
        await new Promise(resolve => setTimeout(resolve, 200));
        image.remove();
        return { fetched, refused };
      });
      assert.equal(attempts.fetched, 'refused');
      assert.deepEqual(attempts.refused.sort(), ['connect-src', 'img-src']);
      for (const [url, reason] of page.failedRequests) {
        assert.match(url, /^http:\/\/127\.0\.0\.1:9\//);
        assert.match(reason, /csp/i, url);
      }
      // withPage checks that no request reached the network layer at all.
    });
  });

  test('shows every text a stranger wrote as text, never as markup', async () => {
    await withDocuments(['render-hostile'], async page => {
      const doc = harness.documentValue('render-hostile');
      await page.page.click('#view-store');
      const cards = await page.cards();
      assert.deepEqual(cards.map(c => c.name), doc.apps.map(a => a.name));
      assert.deepEqual(cards.map(c => c.summary), doc.apps.map(a => a.summary));
      assert.deepEqual(cards.map(c => c.status), doc.apps.map(a => a.status));
      assert.deepEqual(cards.map(c => c.tags[0]), doc.apps.map(a => a.category));
      assert.deepEqual(cards.map(c => c.tags[1]), doc.apps.map(a => 'From ' + a.from));
      assert.equal(await page.text('#state-note'), doc.note);
      assert.equal(await page.text('#update-title'), 'Version ' + doc.update.version + ' of the Zelk is out.');
      assert.equal(await page.text('#update-text'), doc.update.problem);
      assert.ok(doc.apps.some(a => a.summary.includes('\u2028')), 'the documents carry a line separator');
      await page.shelves('shelves-hostile');
      const shelfDoc = harness.documentValue('shelves-hostile');
      assert.equal(await page.text('.shelf-name'), shelfDoc.shelves[0].name);
      assert.equal(await page.text('.shelf .address'), shelfDoc.shelves[0].address);
      await page.page.click('#cards .card.offer button[data-action="open"]');
      assert.equal(await page.text('#confirm-title'), 'Install ' + shelfDoc.shelves[0].recipes[0].name + '?');
      const markup = await page.page.evaluate(() => ({
        images: document.querySelectorAll('img').length,
        scripts: document.querySelectorAll('script').length,
        italics: document.querySelectorAll('i').length,
        bold: [...document.querySelectorAll('b')].filter(b => b.closest('#summary') === null).length,
        textsWithElements: [...document.querySelectorAll('.card-name, .card-summary, .status, .tag, .shelf-name, ' +
          '.address, .shelf-line, #confirm-title, #confirm-origin, #state-note, #update-text, #update-title')]
          .filter(node => node.childElementCount > 0).length,
      }));
      assert.deepEqual(markup, { images: 0, scripts: 1, italics: 0, bold: 0, textsWithElements: 0 },
        'a text became an element');
      await page.page.keyboard.press('Escape');
      await page.page.waitForTimeout(100);
      assert.deepEqual(await page.posted(), [], 'markup in a text ran');
    });
  });

  test('shows every text of the outcome and made documents as text, never as markup', async () => {
    await withDocuments(['render-none-installed'], async page => {
      const markup = () => page.page.evaluate(() => ({
        images: document.querySelectorAll('img').length,
        scripts: document.querySelectorAll('script').length,
        bold: document.querySelectorAll('b:not(#summary b)').length,
        italics: document.querySelectorAll('i').length,
        textsWithElements: [...document.querySelectorAll('#preview-shows, #preview-warning, #add-error, #add-done, ' +
          '#made-title, #made-text, #made-fields span')].filter(node => node.childElementCount > 0).length,
      }));
      const none = { images: 0, scripts: 1, bold: 0, italics: 0, textsWithElements: 0 };
      await page.page.click('#view-store');
      const preview = harness.documentValue('outcome-hostile-preview');
      await page.page.fill('#recipe-text', 'services: {}\n');
      await page.page.click('#check');
      await page.outcome('outcome-hostile-preview');
      assert.equal(await page.text('#preview-shows'), preview.shows);
      assert.ok(preview.shows.includes(preview.name) && preview.name.includes('<'), 'the name, with markup, is shown');
      assert.equal(await page.visible('#preview-replaces'), true);
      assert.deepEqual(await markup(), none, 'a preview text became an element');
      await page.page.click('#add');
      await page.outcome('outcome-hostile-add');
      assert.equal(await page.text('#add-done'), harness.documentValue('outcome-hostile-add').name + ' is in the list now.');
      await page.page.fill('#recipe-text', 'services: {}\n');
      await page.page.click('#check');
      await page.outcome('outcome-hostile-refused');
      assert.equal(await page.text('#add-error'), harness.documentValue('outcome-hostile-refused').error);
      assert.deepEqual(await markup(), none, 'an outcome text became an element');

      await page.made('made-hostile');
      const made = harness.documentValue('made-hostile');
      const look = await page.page.evaluate(() => ({
        title: document.getElementById('made-title').textContent,
        text: document.getElementById('made-text').textContent,
        fields: [...document.querySelectorAll('#made-fields label')].map(label =>
          [label.querySelector('span').textContent, label.querySelector('input').value]),
      }));
      assert.deepEqual(look, {
        title: 'Passwords of ' + made.name,
        text: 'The Zelk made these when it first started the app. The app\'s description says which one you sign in ' +
          'with. They are kept in ' + made.file + ' on this computer and nowhere else.',
        fields: made.items.map(item => [item.key, item.value]),
      });
      assert.deepEqual(await markup(), none, 'a made text became an element');
      await page.page.keyboard.press('Escape');
      assert.deepEqual(await page.take(), ['preview:services: {}\n', 'add:services: {}\n', 'preview:services: {}\n'],
        'markup in a text ran');
    });
  });

  test('a file dragged onto the page is refused everywhere but on the file chooser', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      const seen = await page.page.evaluate(() => ['#cards .card button', '#view-title', '#state-note', '#recipe-text',
        '#shelf-address', '#recipe-file'].map(selector => {
        const target = document.querySelector(selector);
        const look = [selector];
        for (const type of ['dragenter', 'dragover', 'drop']) {
          const data = new DataTransfer();
          data.items.add(new File(['services: {}\n'], 'app.yaml', { type: 'text/plain' }));
          // A made-up drag keeps its drop effect at "none" whatever the page sets; this one
          // remembers what the page sets, starting from what a file drag offers.
          let effect = 'copy';
          Object.defineProperty(data, 'dropEffect', { get: () => effect, set: value => { effect = value; } });
          const event = new DragEvent(type, { bubbles: true, cancelable: true, dataTransfer: data });
          target.dispatchEvent(event);
          look.push(type + (event.defaultPrevented ? ' refused ' : ' left to the browser ') + data.dropEffect);
        }
        return look;
      }));
      const refused = ['dragenter refused none', 'dragover refused none', 'drop refused none'];
      assert.deepEqual(seen, [
        ['#cards .card button', ...refused], ['#view-title', ...refused], ['#state-note', ...refused],
        ['#recipe-text', ...refused], ['#shelf-address', ...refused],
        ['#recipe-file', 'dragenter left to the browser copy', 'dragover left to the browser copy',
          'drop left to the browser copy'],
      ]);
      assert.deepEqual(await page.take(), []);
    });
  });

  test('a file dragged from the desktop onto the file chooser is read and checked', async () => {
    const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zelk-page-drop-'));
    try {
      const file = path.join(folder, 'app.yaml');
      fs.writeFileSync(file, 'services:\n  app:\n    image: localhost/app:1\n');
      await withDocuments(['render-installed'], async page => {
        await page.page.click('#view-store');
        await page.page.locator('#recipe-file').scrollIntoViewIfNeeded();
        const box = await page.page.locator('#recipe-file').boundingBox();
        // The browser's own drag from outside the page, as the desktop starts one.
        const browser = await page.page.context().newCDPSession(page.page);
        const data = { items: [], files: [file], dragOperationsMask: 1 };
        for (const type of ['dragEnter', 'dragOver', 'drop']) {
          await browser.send('Input.dispatchDragEvent', { type, x: box.x + box.width / 2, y: box.y + box.height / 2, data });
        }
        await page.page.waitForFunction(() => window.__posted.length > 0);
        assert.deepEqual(await page.take(), ['preview:' + fs.readFileSync(file, 'utf8')]);
      });
    } finally {
      fs.rmSync(folder, { recursive: true, force: true });
    }
  });

  test('a 40-character name without spaces and long texts stay inside their card', async () => {
    await withDocuments(['render-hostile'], async page => {
      await page.page.click('#view-store');
      const overflow = await page.page.evaluate(() => {
        const grid = document.getElementById('cards').getBoundingClientRect();
        const problems = [];
        for (const card of document.querySelectorAll('#cards .card')) {
          const box = card.getBoundingClientRect();
          if (box.right > grid.right + 0.5 || box.left < grid.left - 0.5) problems.push('card ' + card.dataset.app);
          for (const node of card.querySelectorAll('*')) {
            const inner = node.getBoundingClientRect();
            if (inner.width > 0 && inner.right > box.right + 0.5) problems.push(node.className + ' of ' + card.dataset.app);
          }
        }
        if (document.scrollingElement.scrollWidth > window.innerWidth) problems.push('the page scrolls sideways');
        return problems;
      });
      assert.deepEqual(overflow, []);
    });
  });
});

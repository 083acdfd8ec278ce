'use strict';
// The side panel, the Advanced block with Podman Desktop, and the update banner.
const { test } = require('node:test');
const { assert, describe, harness, withDocuments } = require('./common');

function sidePanel(page) {
  return page.page.evaluate(() => {
    const shown = id => !document.getElementById(id).hidden;
    return {
      dot: document.getElementById('state-dot').className,
      title: document.getElementById('state-title').textContent,
      note: document.getElementById('state-note').textContent,
      version: document.getElementById('version').textContent,
      setup: shown('setup'),
      toggle: shown('advanced-toggle'),
      terminal: document.getElementById('terminal').textContent,
      desktop: shown('desktop') ? document.getElementById('desktop').textContent : null,
      desktopNote: shown('desktop-note'),
    };
  });
}

describe('side panel', () => {
  const cases = [
    ['render-first', { dot: 'dot ', title: 'Reading the state ...', setup: false, toggle: true,
      terminal: 'Open a Podman terminal', desktop: 'Get Podman Desktop', desktopNote: true }],
    ['render-installed', { dot: 'dot ok', title: 'Local apps can run', setup: false, toggle: true,
      terminal: 'Open a Podman terminal', desktop: 'Open Podman Desktop', desktopNote: true }],
    ['render-cannot-run', { dot: 'dot bad', title: 'Local apps cannot run yet', setup: true, toggle: true,
      terminal: 'Open a Docker terminal', desktop: null, desktopNote: false }],
  ];
  for (const [name, expected] of cases) {
    test('state of the runtime: ' + name, async () => {
      await withDocuments([name], async page => {
        const doc = harness.documentValue(name);
        assert.deepEqual(await sidePanel(page), { ...expected, note: doc.note, version: doc.version });
      });
    });
  }

  for (const width of [1120, 700]) {
    test(`a note of two lines shows as two lines, inside the panel, ${width} px wide`, async () => {
      await withDocuments(['render-two-line-note'], { viewport: { width, height: 760 } }, async page => {
        const doc = harness.documentValue('render-two-line-note');
        assert.equal(doc.note.split('\n').length, 2);
        const note = await page.page.evaluate(() => {
          const node = document.getElementById('state-note');
          const panel = node.closest('.panel').getBoundingClientRect();
          const box = node.getBoundingClientRect();
          return {
            text: node.textContent,
            shown: node.innerText,
            inside: box.left >= panel.left && box.right <= panel.right && node.scrollWidth <= node.clientWidth,
          };
        });
        assert.deepEqual(note, { text: doc.note, shown: doc.note, inside: true });
      });
    });
  }

  test('the state dot takes the tokens\' colours: green, the danger colour, grey', async () => {
    await withDocuments([], async page => {
      const colour = () => page.page.evaluate(() => getComputedStyle(document.getElementById('state-dot')).backgroundColor);
      await page.render('render-first');
      assert.equal(await colour(), 'rgb(165, 172, 164)');
      await page.render('render-installed');
      assert.equal(await colour(), await page.colour('--green'));
      await page.render('render-cannot-run');
      assert.equal(await colour(), await page.colour('--danger'));
    });
  });

  test('each side button posts its word', async () => {
    await withDocuments(['render-cannot-run'], async page => {
      await page.page.click('#advanced-toggle');
      const words = [];
      for (const [label, word] of [['Refresh', 'refresh'], ['Open the data folder', 'data'], ['Set up Podman', 'setup'],
        ['Look for a newer version', 'update-look'], ['Open a Docker terminal', 'terminal']]) {
        await page.page.getByRole('button', { name: label, exact: true }).click();
        words.push(word);
      }
      assert.deepEqual(await page.take(), words);
    });
  });

  test('the Advanced toggle flips the block and its sign', async () => {
    await withDocuments(['render-installed'], async page => {
      const look = () => page.page.evaluate(() => ({
        sign: document.getElementById('advanced-sign').textContent,
        expanded: document.getElementById('advanced-toggle').getAttribute('aria-expanded'),
        open: !document.getElementById('advanced').hidden,
        label: document.getElementById('advanced-toggle').textContent.replace(/[+\u2212]$/, ''),
      }));
      assert.deepEqual(await look(), { sign: '+', expanded: 'false', open: false, label: 'Advanced' });
      await page.page.click('#advanced-toggle');
      assert.deepEqual(await look(), { sign: '\u2212', expanded: 'true', open: true, label: 'Advanced' });
      await page.render('render-installed');
      assert.deepEqual((await look()).open, true, 'a render keeps the block open');
      await page.page.click('#advanced-toggle');
      assert.deepEqual(await look(), { sign: '+', expanded: 'false', open: false, label: 'Advanced' });
      assert.deepEqual(await page.take(), []);
    });
  });

  test('"Open Podman Desktop" posts "desktop"', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#advanced-toggle');
      await page.page.click('#desktop');
      assert.deepEqual(await page.take(), ['desktop']);
      assert.equal(await page.visible('#question'), false);
    });
  });

  test('"Get Podman Desktop" asks first: "Install it" posts "desktop-get", "Not now" posts nothing', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await page.page.click('#advanced-toggle');
      assert.equal(await page.text('#desktop'), 'Get Podman Desktop');
      await page.page.click('#desktop');
      assert.equal(await page.visible('#question'), true);
      assert.equal(await page.text('#question-text'), 'Install Podman Desktop? It is a download of about 150 MB. ' +
        "Windows' own package manager installs it in a window you can watch. This accepts the terms of the package " +
        'lists and of Podman Desktop for you.');
      assert.equal(await page.text('#question-yes'), 'Install it');
      await page.render('render-none-installed');
      assert.equal(await page.visible('#question'), true, 'a render keeps the question');
      await page.page.click('#question-no');
      assert.equal(await page.visible('#question'), false);
      assert.deepEqual(await page.take(), []);
      await page.page.click('#desktop');
      await page.page.click('#question-yes');
      assert.equal(await page.visible('#question'), false);
      assert.deepEqual(await page.take(), ['desktop-get']);
      // A render without the offer drops the question.
      await page.page.click('#desktop');
      await page.render('render-cannot-run');
      await page.render('render-none-installed');
      assert.equal(await page.visible('#question'), false);
      assert.equal(await page.words('#desktop-note'), 'Podman Desktop shows the containers, images, volumes and logs ' +
        'behind your apps. It is a program of its own from the makers of Podman. The Zelk works without it.');
    });
  });
});

describe('update banner', () => {
  const cases = [
    ['render-installed', null],
    ['render-update', { text: 'Updating takes a few seconds. Your apps keep running and their data stays.',
      problem: false, button: 'Update now', disabled: false }],
    ['render-update-busy', { text: 'Fetching it and putting it in place. The window closes and comes back by itself.',
      problem: false, button: 'Updating ...', disabled: true }],
    ['render-update-problem', { text: null, problem: true, button: 'Try again', disabled: false }],
  ];
  for (const [name, expected] of cases) {
    test(name, async () => {
      await withDocuments([name], async page => {
        const doc = harness.documentValue(name);
        const banner = await page.page.evaluate(() => {
          const text = document.getElementById('update-text');
          const button = document.getElementById('update');
          return document.getElementById('update-banner').hidden ? null : {
            title: document.getElementById('update-title').textContent,
            text: text.textContent,
            problem: text.classList.contains('problem'),
            colour: getComputedStyle(text).color,
            selectable: getComputedStyle(text).userSelect,
            button: document.getElementById('update-label').textContent,
            sign: button.querySelector('.sign').textContent,
            disabled: button.disabled,
          };
        });
        if (expected === null) {
          assert.equal(banner, null);
          return;
        }
        assert.equal(banner.title, 'Version ' + doc.update.version + ' of the Zelk is out.');
        assert.equal(banner.text, expected.text === null ? doc.update.problem : expected.text);
        assert.equal(banner.problem, expected.problem);
        assert.equal(banner.button, expected.button);
        assert.equal(banner.sign, '\u2192');
        assert.equal(banner.disabled, expected.disabled);
        if (expected.problem) {
          assert.equal(banner.colour, await page.colour('--danger-text'), 'the problem is in the danger colour');
          assert.equal(banner.selectable, 'text');
        }
        await page.page.click('#update', { force: true });
        assert.deepEqual(await page.take(), expected.disabled ? [] : ['update']);
      });
    });
  }
});

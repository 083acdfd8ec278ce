'use strict';
// Colour tokens in both schemes, the mark, the layout and its breakpoint, the context menu,
// and the screenshots kept as test artefacts.
const { test } = require('node:test');
const fs = require('node:fs');
const path = require('node:path');

const { assert, describe, harness, withDocuments } = require('./common');

const tokens = {
  '--ink': ['#202620', '#edf1eb'], '--muted': ['#687168', '#9fa99f'], '--surface': ['#f4f5f1', '#101411'],
  '--card': ['#ffffff', '#171c18'], '--subtle': ['#eef1eb', '#202720'], '--line': ['#d9ded6', '#2d352e'],
  '--line-strong': ['#c2cac0', '#424d43'], '--brand': ['#637b64', '#94aa90'], '--brand-dark': ['#3f5842', '#b4c7b0'],
  '--action': ['#3f5842', '#526d57'], '--brand-soft': ['#e3eae1', '#263127'], '--danger': ['#a85847', '#d18470'],
  '--warning': ['#a77732', '#c79a52'], '--disabled': ['#e7eae5', '#272e28'], '--blue': ['#6678a4', '#91a5d1'],
  '--coral': ['#b96f5d', '#dc8b76'], '--gold': ['#a8823c', '#c9a45b'], '--violet': ['#766a95', '#aa98cd'],
  '--green': ['#537d62', '#82ad8e'],
};

function rgb(hex) {
  const n = parseInt(hex.slice(1), 16);
  return `rgb(${n >> 16}, ${(n >> 8) & 255}, ${n & 255})`;
}

/// The colour `share` of the way from one token's colour to another's, as the screen shows it.
function between(from, to, share) {
  const [a, b] = [from, to].map(hex => parseInt(hex.slice(1), 16));
  const channel = shift => Math.round(((a >> shift) & 255) * (1 - share) + ((b >> shift) & 255) * share);
  return `rgb(${channel(16)}, ${channel(8)}, ${channel(0)})`;
}

describe('colour schemes', () => {
  for (const [scheme, column] of [['light', 0], ['dark', 1]]) {
    test(scheme + ' tokens, and the surfaces that use them', async () => {
      await withDocuments(['render-installed'], { colorScheme: scheme }, async page => {
        const values = {};
        for (const name of Object.keys(tokens)) values[name] = await page.token(name);
        assert.deepEqual(values, Object.fromEntries(Object.entries(tokens).map(([n, v]) => [n, v[column]])));
        const used = await page.page.evaluate(() => {
          const style = node => getComputedStyle(typeof node === 'string' ? document.querySelector(node) : node);
          // A mixed colour computes to color(srgb ...): read it as the pixel it paints.
          const pen = document.createElement('canvas').getContext('2d', { willReadFrequently: true });
          const painted = colour => {
            pen.fillStyle = colour;
            pen.fillRect(0, 0, 1, 1);
            const [r, g, b] = pen.getImageData(0, 0, 1, 1).data;
            return `rgb(${r}, ${g}, ${b})`;
          };
          return {
            scheme: style(':root').colorScheme,
            meta: document.querySelector('meta[name="color-scheme"]').content,
            body: [style('body').backgroundColor, style('body').color],
            card: style('#cards .card').backgroundColor,
            primary: [style('#cards .card .primary').backgroundColor, style('#cards .card .primary').color],
            disabled: [style('#cards .card .secondary:disabled').backgroundColor,
              painted(style('#cards .card .secondary:disabled').color)],
            square: style('.mark .mark-square').fill,
            figure: [style('.mark .mark-figure').stroke, style('.mark .mark-figure').fill, style('.mark .mark-figure').strokeWidth,
              style('.mark .mark-figure').strokeLinecap, style('.mark .mark-figure').strokeLinejoin],
            dot: style('.mark .mark-dot').fill,
          };
        });
        const t = name => rgb(tokens[name][column]);
        assert.deepEqual(used, {
          scheme: 'light dark',
          meta: 'light dark',
          body: [t('--surface'), t('--ink')],
          card: t('--card'),
          primary: [t('--action'), 'rgb(255, 255, 255)'],
          // The muted colour a fifth of the way to the ink: 4.5:1 on the disabled ground.
          disabled: [t('--disabled'), between(tokens['--muted'][column], tokens['--ink'][column], 0.2)],
          square: t('--ink'),
          figure: [t('--card'), 'none', '2.25px', 'round', 'round'],
          dot: t('--brand'),
        });
      });
    });
  }

  test('the mark: a 36 x 36 drawing shown at 34 x 34', async () => {
    await withDocuments([], async page => {
      const mark = await page.page.evaluate(() => {
        const svg = document.querySelector('.mark');
        const box = svg.getBoundingClientRect();
        const rect = svg.querySelector('rect');
        const circle = svg.querySelector('circle');
        return {
          viewBox: svg.getAttribute('viewBox'), size: [box.width, box.height],
          rect: ['x', 'y', 'width', 'height', 'rx'].map(a => rect.getAttribute(a)),
          path: svg.querySelector('path').getAttribute('d'),
          circle: ['cx', 'cy', 'r'].map(a => circle.getAttribute(a)),
        };
      });
      assert.deepEqual(mark, {
        viewBox: '0 0 36 36', size: [34, 34], rect: ['1.5', '1.5', '33', '33', '9'],
        path: 'M9 25V12m18 13V12M9 21h18M12 21c1-5 4-8 6-8s5 3 6 8', circle: ['18', '11', '2.25'],
      });
    });
  });
});

// Every kind of button, as the page shows it with the documents of render-every-button: how to
// bring it on the screen, and whether it is a primary one.
const buttonKinds = [
  ['view button', '#view-installed'], ['active view button', '#view-store'],
  ['side button', '#refresh'], ['"Set up Podman"', '#setup', 'primary'], ['Advanced toggle', '#advanced-toggle'],
  ['side button in the Advanced block', '#terminal'], ['Podman Desktop button', '#desktop'],
  ['the question\'s yes', '#question-yes', 'primary'], ['the question\'s "Not now"', '#question-no'],
  ['the update banner\'s button', '#update', 'primary'],
  ['a card\'s primary button', '#cards .card[data-app="n8n"] button[data-action="open"]', 'primary'],
  ['a card\'s "Stop"', '#cards .card[data-app="n8n"] button[data-action="stop"]'],
  ['a card\'s link', '#cards .card[data-app="n8n"] button[data-action="first"]'],
  ['the shelf bar\'s button', '#shelf-bar-button'], ['a shelf\'s link', '#shelf-list .link'],
  ['"Add this shelf"', '#shelf-add'], ['"Choose a file"', '.file-pick'], ['"Check it"', '#check'],
  ['"Add to my Zelk"', '#add', 'primary'], ['"Cancel"', '#add-cancel'],
];
const dialogButtonKinds = [
  ['the confirm dialog\'s yes', '#confirm-yes', 'primary'], ['the confirm dialog\'s "Not now"', '#confirm-no'],
];

/// Puts in the page a function that reads the colours of a control as the screen shows them:
/// its text (or that of a pseudo-element such as the placeholder), and what lies behind it (its
/// own background over those of its ancestors, through a brightness filter if it has one), with
/// the contrast ratio between the two.
function addColourReader(page) {
  return page.page.evaluate(() => {
    const parse = text => {
      let m = /^rgba?\(([\d.]+), ([\d.]+), ([\d.]+)(?:, ([\d.]+))?\)$/.exec(text);
      if (m) return [+m[1], +m[2], +m[3], m[4] === undefined ? 1 : +m[4]];
      m = /^color\(srgb ([\d.]+) ([\d.]+) ([\d.]+)(?: \/ ([\d.]+))?\)$/.exec(text);
      if (m) return [m[1] * 255, m[2] * 255, m[3] * 255, m[4] === undefined ? 1 : +m[4]];
      throw new Error('a colour this test cannot read: ' + text);
    };
    const over = (top, below) => [0, 1, 2].map(i => top[i] * top[3] + below[i] * (1 - top[3]));
    const luminance = colour => {
      const [r, g, b] = colour.map(v => {
        const c = v / 255;
        return c <= 0.03928 ? c / 12.92 : ((c + 0.055) / 1.055) ** 2.4;
      });
      return 0.2126 * r + 0.7152 * g + 0.0722 * b;
    };
    window.__shownColours = (node, pseudo) => {
      const chain = [];
      for (let n = node; n !== null; n = n.parentElement) chain.unshift(n);
      let behind = [255, 255, 255];
      let brightness = 1;
      for (const n of chain) {
        const style = getComputedStyle(n);
        behind = over(parse(style.backgroundColor), behind);
        if (style.filter !== 'none') {
          const m = /^brightness\(([\d.]+)\)$/.exec(style.filter);
          if (!m) throw new Error('a filter this test cannot follow: ' + style.filter);
          brightness *= +m[1];
        }
        if (style.opacity !== '1') throw new Error('an opacity this test cannot follow: ' + style.opacity);
      }
      const lit = colour => colour.map(v => Math.min(255, v * brightness));
      const text = lit(over(parse(getComputedStyle(node, pseudo).color), behind));
      behind = lit(behind);
      const [hi, lo] = [luminance(text), luminance(behind)].sort((x, y) => y - x);
      return { text, behind: behind.map(Math.round).join(','), ratio: (hi + 0.05) / (lo + 0.05) };
    };
  });
}

/// Reads the controls in every state a pointer or the keyboard puts them in, with the real
/// pointer for hovering and pressing. Returns the states whose label is below 4.5:1, and the
/// background of each control under the pointer.
async function statesOf(page, kinds) {
  const problems = [];
  const hovered = new Map();
  const check = (name, state, look) => {
    if (!(look.ratio >= 4.5)) problems.push(`${name} ${state}: ${look.ratio.toFixed(2)}:1`);
  };
  await page.page.mouse.move(2, 2);
  // Without the pointer: as drawn, focused, disabled (controls that can be).
  const still = await page.page.evaluate(selectors => selectors.map(selector => {
    const node = document.querySelector(selector);
    const looks = { normal: window.__shownColours(node) };
    node.focus();
    looks.focused = window.__shownColours(node);
    node.blur();
    if (node instanceof HTMLButtonElement) {
      node.disabled = true;
      looks.disabled = window.__shownColours(node);
      node.disabled = false;
    }
    return looks;
  }), kinds.map(k => k[1]));
  kinds.forEach(([name], i) => {
    for (const [state, look] of Object.entries(still[i])) check(name, state, look);
  });
  const readUnder = (selector, disable) => page.page.evaluate(([selector, disable]) => {
    const node = document.querySelector(selector);
    const look = window.__shownColours(node);
    if (!disable || !(node instanceof HTMLButtonElement)) return [look];
    node.disabled = true;
    const disabled = window.__shownColours(node);
    node.disabled = false;
    return [look, disabled];
  }, [selector, disable]);
  for (const [name, selector] of kinds) {
    await page.page.locator(selector).first().hover();
    const [under, disabledUnder] = await readUnder(selector, true);
    check(name, 'under the pointer', under);
    if (disabledUnder) check(name, 'disabled under the pointer', disabledUnder);
    hovered.set(name, under.behind);
    await page.page.mouse.down();
    check(name, 'pressed', (await readUnder(selector, false))[0]);
    // Released away from it: pressing acts on nothing.
    await page.page.mouse.move(2, 2);
    await page.page.mouse.up();
  }
  return { problems, hovered };
}

describe('buttons under the pointer', () => {
  for (const scheme of ['light', 'dark']) {
    test(`every kind of button keeps a readable label in every state, ${scheme}`, async () => {
      await withDocuments(['render-every-button', 'shelves-offers'], { colorScheme: scheme }, async page => {
        await page.page.click('#view-store');
        await page.page.click('#advanced-toggle');
        await page.page.click('#desktop');
        await page.page.fill('#recipe-text', 'services: {}\n');
        await page.page.click('#check');
        await page.outcome('outcome-preview');
        await addColourReader(page);
        const main = await statesOf(page, buttonKinds);
        await page.card('kanban').locator('button').click();
        const dialog = await statesOf(page, dialogButtonKinds);
        assert.deepEqual([...main.problems, ...dialog.problems], [], 'labels below 4.5:1');
        // A primary button stays primary under the pointer: all of them look alike there.
        const hovered = new Map([...main.hovered, ...dialog.hovered]);
        const card = hovered.get('a card\'s primary button');
        for (const [name, , primary] of [...buttonKinds, ...dialogButtonKinds]) {
          if (primary) assert.equal(hovered.get(name), card, name + ' under the pointer');
        }
      });
    });
  }
});

// Every kind of text the page shows, by a selector that picks it out; the walk below measures
// every text it finds, and this table makes sure it met each kind at least once. "placeholder"
// marks a field's placeholder, shown while the field is empty.
const textKinds = [
  ['the version', '#version'], ['the panel\'s label', '.eyebrow'], ['the state title', '#state-title'],
  ['the note', '#state-note'], ['a figure label', '.figure-label'], ['a figure', '.figure-number'],
  ['the Podman Desktop note', '#desktop-note'], ['the question', '#question-text'],
  ['the update banner\'s title', '#update-title'], ['the update banner\'s text', '#update-text:not(.problem)'],
  ['the update banner\'s problem', '#update-text.problem'], ['"Private and local"', '.private span'],
  ['the view title', '#view-title'], ['the view lead', '#view-lead'], ['a summary word', '.summary-item'],
  ['a summary number', '.summary-item b'], ['the shelf bar\'s text', '#shelf-bar-text'], ['a glyph', '.glyph'],
  ['a category tag', '.tag.category'], ['a warning tag', '.tag.warn'], ['a plain tag', '.tag:not(.category, .warn)'],
  ['a card\'s name', '.card-name'], ['a card\'s summary', '.card-summary'], ['a card\'s state', '.status'],
  ['the elapsed time', '.elapsed'], ['a card\'s link', '.card-links .link'], ['the empty box', '.empty p'],
  ['a section title', '.section h2'], ['a section\'s text', '.section-text'], ['a shelf\'s name', '.shelf-name'],
  ['a shelf\'s address', '.shelf .address'], ['a shelf\'s line', '.shelf-line:not(.problem)'],
  ['a shelf\'s problem', '.shelf-line.problem'], ['a shelf\'s recipe', '.shelf-row-name'],
  ['a shelf\'s link', '.shelf .link'], ['a field\'s label', '.field-label'], ['a password', '.made-field input'],
  ['a field\'s placeholder', 'input, textarea', 'placeholder'], ['a typed text', 'input, textarea'],
  ['the shelf error', '#shelf-error'], ['the recipe error', '#add-error'], ['the done line', '#add-done'],
  ['the preview', '#preview-shows'], ['the warning line', '.warning-line strong, #preview-warning'],
  ['the replaces paragraph', '#preview-replaces'], ['the footer', '.foot span'],
  ['a dialog\'s title', 'dialog h2'], ['the origin line', '#confirm-origin:not(.warn)'],
  ['the warned origin line', '#confirm-origin.warn'], ['the effect line', '#confirm-effect'],
  ['"What it runs"', '#confirm summary'], ['what it runs', '#confirm-shows'], ['the passwords\' text', '#made-text'],
  ['a password\'s name', '.made-field span'],
];

/// Marks every text the page shows now (only those of the open dialog while one is open): each
/// element that holds a text of its own, and each text field (its text, or its placeholder when
/// empty). Names each by the first kind it is of, else by its words.
function markTexts(page) {
  return page.page.evaluate(kinds => {
    const root = document.querySelector('dialog[open]') || document.body;
    // Not inside a closed disclosure either, whose content is laid out but not shown.
    const shown = node => node.checkVisibility({ visibilityProperty: true });
    const nodes = new Set();
    const walk = document.createTreeWalker(root, NodeFilter.SHOW_TEXT);
    for (let text = walk.nextNode(); text !== null; text = walk.nextNode()) {
      if (text.data.trim() !== '' && shown(text.parentElement)) nodes.add(text.parentElement);
    }
    for (const field of root.querySelectorAll('input[type="text"], textarea')) if (shown(field)) nodes.add(field);
    window.__texts = [...nodes].map(node => {
      const placeholder = node.matches('input, textarea') && node.value === '';
      const kind = kinds.find(([, selector, what]) =>
        node.matches(selector) && (what === 'placeholder') === placeholder);
      const words = placeholder ? node.placeholder : node.value ?? node.textContent;
      return { node, pseudo: placeholder ? '::placeholder' : undefined,
        name: kind ? kind[0] : JSON.stringify(words.trim().slice(0, 40)) };
    });
    return window.__texts.map(text => text.name);
  }, textKinds);
}

/// Measures every text of the page as it is now: at rest, with the focus on it or on the
/// control it belongs to, and under the real pointer (once for each kind of text with the same
/// colours at rest). Adds the names met to `seen.names`, and the texts below 4.5:1, with the
/// first scene that showed them, to `problems`.
async function textsOf(page, scene, seen, problems) {
  const names = await markTexts(page);
  for (const name of names) seen.names.add(name);
  const check = (name, state, look) => {
    const problem = `${name} ${state}: ${look.ratio.toFixed(2)}:1`;
    if (!(look.ratio >= 4.5) && !problems.has(problem)) problems.set(problem, scene);
  };
  await page.page.mouse.move(2, 2);
  const still = await page.page.evaluate(() => window.__texts.map(({ node, pseudo }) => {
    const looks = { 'at rest': window.__shownColours(node, pseudo) };
    const control = node.closest('button, input, textarea, summary, [tabindex]');
    if (control !== null) {
      control.focus();
      looks.focused = window.__shownColours(node, pseudo);
      control.blur();
    }
    return looks;
  }));
  still.forEach((looks, i) => {
    for (const [state, look] of Object.entries(looks)) check(names[i], state, look);
  });
  for (const [i, name] of names.entries()) {
    const rest = still[i]['at rest'];
    const key = [name, ...rest.text.map(Math.round), rest.behind].join(' ');
    if (seen.hovered.has(key)) continue;
    seen.hovered.add(key);
    const point = await page.page.evaluate(i => {
      const { node } = window.__texts[i];
      node.scrollIntoView({ block: 'center' });
      const box = node.getClientRects()[0];
      return { x: box.left + box.width / 2, y: box.top + box.height / 2 };
    }, i);
    await page.page.mouse.move(point.x, point.y);
    const look = await page.page.evaluate(i => {
      const { node, pseudo } = window.__texts[i];
      return { hovered: node.matches(':hover'), ...window.__shownColours(node, pseudo) };
    }, i);
    assert.equal(look.hovered, true, `${scene}: ${name} is under the pointer`);
    check(name, 'under the pointer', look);
  }
  await page.page.mouse.move(2, 2);
}

describe('texts', () => {
  for (const scheme of ['light', 'dark']) {
    test(`every text the page shows is readable, at rest, focused and under the pointer, ${scheme}`, async () => {
      await withDocuments(['render-showcase', 'shelves-showcase'], { colorScheme: scheme, clock: true }, async page => {
        await addColourReader(page);
        const seen = { names: new Set(), hovered: new Set() };
        const problems = new Map();
        const measure = scene => textsOf(page, scene, seen, problems);
        // The showcase in the store view, with the Advanced block open, the elapsed time of the
        // busy card, both error lines and the fields' placeholders.
        await page.page.click('#view-store');
        await page.page.click('#advanced-toggle');
        await page.page.click('#shelf-add');
        await page.page.click('#check');
        await page.page.clock.runFor(6000);
        await measure('the showcase');
        // The confirm dialogs, for a course's shelf and for the Zelk's own, with what it runs.
        await page.card('longword').locator('button').click();
        await page.page.click('#confirm summary');
        await measure('installing from a course\'s shelf');
        await page.page.click('#confirm-no');
        await page.card('kanban').locator('button').click();
        await measure('installing from the Zelk\'s shelf');
        await page.page.click('#confirm-no');
        await page.made('made-items');
        await measure('the passwords');
        await page.page.click('#made-close');
        // Shelves with a problem, a changed and a refused recipe; typed fields; a preview.
        await page.shelves('shelves-offers');
        await page.page.fill('#shelf-address', 'https://shelf.example.org/apps.yaml');
        await page.page.fill('#recipe-text', 'services: {}\n');
        await page.page.click('#check');
        await page.outcome('outcome-preview-replaces');
        await measure('a recipe checked');
        await page.outcome('outcome-add');
        await measure('a recipe added');
        // The update banner, and the Podman Desktop question; the banner with a problem.
        await page.render('render-every-button');
        await page.page.click('#desktop');
        await measure('a newer version');
        await page.render('render-update-problem');
        await measure('an update that failed');
        await page.render('render-none-installed');
        await page.page.click('#view-installed');
        await measure('nothing installed');
        assert.deepEqual([...problems].map(([problem, scene]) => `${problem} (${scene})`), [], 'texts below 4.5:1');
        assert.deepEqual(textKinds.map(([name]) => name).filter(name => !seen.names.has(name)), [],
          'kinds of text not met');
      });
    });
  }
});

function layout(page) {
  return page.page.evaluate(() => {
    const box = id => document.querySelector(id).getBoundingClientRect();
    const side = document.querySelector('.side');
    const style = getComputedStyle(side);
    const grid = getComputedStyle(document.getElementById('cards')).gridTemplateColumns.split(' ');
    const card = box('#cards .card');
    return {
      sideBesideMain: box('.side').right <= box('.main').left,
      sideWidth: box('.side').width,
      gap: box('.main').left - box('.side').right,
      sticky: style.position,
      sideColumns: style.display === 'grid' ? style.gridTemplateColumns.split(' ').length : 1,
      version: getComputedStyle(document.getElementById('version')).display !== 'none',
      cardColumns: grid.length,
      narrowestColumn: Math.min(...grid.map(parseFloat)),
      cardHeight: card.height,
      title: parseFloat(getComputedStyle(document.getElementById('view-title')).fontSize),
      sideways: document.scrollingElement.scrollWidth > window.innerWidth,
    };
  });
}

describe('layout', () => {
  test('wide windows: the side column 228 wide, 28 from the main one, sticking to the top', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      const look = await layout(page);
      assert.equal(look.sideBesideMain, true);
      assert.equal(look.sideWidth, 228);
      assert.equal(look.gap, 28);
      assert.equal(look.sticky, 'sticky');
      assert.equal(look.version, true);
      assert.ok(look.narrowestColumn >= 264, 'card columns are at least 264 wide');
      assert.ok(look.cardHeight >= 236, 'cards are at least 236 high');
      assert.ok(Math.abs(look.title - 1120 * 0.046) < 0.01, 'the title is 4.6 % of the window width');
      assert.equal(look.sideways, false);
    });
  });

  for (const [width, narrow] of [[761, false], [760, true], [560, true]]) {
    test(`the breakpoint at 760: ${width} px is ${narrow ? 'one column' : 'two columns'}`, async () => {
      await withDocuments(['render-installed'], { viewport: { width, height: 700 } }, async page => {
        const look = await layout(page);
        assert.equal(look.sideBesideMain, !narrow);
        assert.equal(look.sticky, narrow ? 'static' : 'sticky');
        assert.equal(look.sideColumns, narrow ? 2 : 1);
        assert.equal(look.version, !narrow);
        assert.ok(Math.abs(look.title - Math.max(34, width * 0.046)) < 0.01, 'the title is 4.6 % of the width, 34 at least');
        assert.equal(look.sideways, false);
      });
    });
  }

  test('the title grows with the window up to 52', async () => {
    await withDocuments(['render-installed'], { viewport: { width: 1600, height: 900 } }, async page => {
      assert.equal((await layout(page)).title, 52);
    });
  });

  test('the context menu is kept for text fields only', async () => {
    await withDocuments(['render-installed'], async page => {
      await page.page.click('#view-store');
      const prevented = await page.page.evaluate(() => ['#cards .card', '#view-title', '#refresh', '#recipe-text',
        '#shelf-address'].map(selector => {
        const event = new MouseEvent('contextmenu', { bubbles: true, cancelable: true });
        document.querySelector(selector).dispatchEvent(event);
        return event.defaultPrevented;
      }));
      assert.deepEqual(prevented, [true, true, true, false, false]);
    });
  });

  test('text is not selectable by default; recipe texts, fields, addresses and errors are', async () => {
    await withDocuments(['render-installed', 'shelves-offers'], async page => {
      await page.page.click('#view-store');
      const selectable = await page.page.evaluate(() => ['#view-title', '#cards .card-name', '#recipe-text',
        '#shelf-address', '#shelf-list .address', '#shelf-list .problem', '#preview-shows', '#add-error', '#confirm-shows']
        .map(selector => getComputedStyle(document.querySelector(selector)).userSelect));
      assert.deepEqual(selectable, ['none', 'none', 'text', 'text', 'text', 'text', 'text', 'text', 'text']);
    });
  });
});

describe('screenshots under the pointer', () => {
  // What a user points at most: the button that makes the apps run at all, a card's primary
  // button, a side button, a card's link and the update banner's button.
  const targets = [
    ['setup', '#setup'], ['card-primary', '#cards .card[data-app="gitea"] button[data-action="open"]'],
    ['side-button', '#refresh'], ['link', '#cards .card[data-app="gitea"] button[data-action="backup"]'],
    ['update', '#update'],
  ];
  for (const scheme of ['light', 'dark']) {
    for (const width of [1120, 700]) {
      test(`${scheme}, ${width} px wide`, async () => {
        await withDocuments(['render-every-button', 'shelves-showcase'], { colorScheme: scheme, viewport: { width, height: 760 } },
          async page => {
            await page.page.click('#view-store');
            for (const [name, selector] of targets) {
              const control = page.page.locator(selector).first();
              await control.hover();
              const look = await control.evaluate(node => ({
                hovered: node.matches(':hover'),
                cut: node.scrollWidth > node.clientWidth + 1 || node.scrollHeight > node.clientHeight + 1,
                sideways: document.scrollingElement.scrollWidth > window.innerWidth,
              }));
              assert.deepEqual(look, { hovered: true, cut: false, sideways: false }, name);
              fs.mkdirSync(path.join(harness.artefactsDir, 'hover'), { recursive: true });
              await page.page.screenshot({ path: path.join(harness.artefactsDir, 'hover', `${scheme}-${width}-${name}.png`) });
            }
            await page.page.mouse.move(2, 2);
            assert.deepEqual(await page.take(), []);
          });
      });
    }
  }
});

describe('screenshots', () => {
  test('texts strangers wrote, at 700 x 760', async () => {
    await withDocuments(['render-hostile', 'shelves-hostile'], { viewport: { width: 700, height: 760 } },
      async page => {
        await page.page.click('#view-store');
        await page.page.fill('#recipe-text', 'services:\n\tapp:\n');
        await page.page.click('#check');
        await page.outcome('outcome-preview-refused');
        assert.equal((await layout(page)).sideways, false);
        await page.screenshot('page-strangers-700x760');
      });
  });


  // Four apps (running, starting with a progress line, not installed, added from a file), a
  // shelf with offers, and the whole text of a failure as the note (two lines, the second long
  // with words longer than the panel is wide), in the store view; light and dark; wide and narrow.
  for (const scheme of ['light', 'dark']) {
    for (const [width, height] of [[1120, 760], [700, 760]]) {
      test(`${scheme}, ${width} x ${height}`, async () => {
        await withDocuments(['render-showcase', 'shelves-showcase'], { colorScheme: scheme, viewport: { width, height } },
          async page => {
            await page.page.click('#view-store');
            await page.page.click('#advanced-toggle');
            await page.page.mouse.move(0, 0);
            const cards = await page.cards();
            assert.deepEqual(cards.map(c => [c.app, c.offer]), [['n8n', false], ['gitea', false], ['open-webui', false],
              ['notes', false], ['kanban', true], ['sketch', true], ['longword', true]]);
            const look = await layout(page);
            assert.equal(look.sideways, false);
            const cut = await page.page.evaluate(() => [...document.querySelectorAll(
              '.card-name, .card-summary, .status, .tag, .actions button, .view-title, .shelf-bar-text')]
              .filter(node => node.scrollWidth > node.clientWidth + 1).map(node => node.textContent));
            assert.deepEqual(cut, [], 'a text is cut');
            const doc = harness.documentValue('render-showcase');
            assert.ok(doc.note.split('\n')[1].length > 200, 'the note\'s second line is long');
            const note = await page.page.evaluate(() => {
              const node = document.getElementById('state-note');
              const panel = node.closest('.panel').getBoundingClientRect();
              const box = node.getBoundingClientRect();
              const style = getComputedStyle(node);
              return {
                shown: node.innerText,
                inside: box.left >= panel.left && box.right <= panel.right && box.bottom <= panel.bottom,
                cut: node.scrollWidth > node.clientWidth || node.scrollHeight > node.clientHeight,
                wrapped: box.height > 4 * parseFloat(style.lineHeight),
                // Readable: as large as the other small texts of the panel.
                size: parseFloat(style.fontSize),
              };
            });
            assert.deepEqual(note, { shown: doc.note, inside: true, cut: false, wrapped: true, size: 13 });
            const file = await page.screenshot(`page-${scheme}-${width}x${height}`);
            await page.page.screenshot({ path: file.replace(/\.png$/, '-window.png') });
            await page.card('kanban').locator('button').click();
            await page.page.screenshot({ path: file.replace(/\.png$/, '-confirm.png') });
          });
      });
    }
  }
});

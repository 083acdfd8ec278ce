'use strict';
// Adding an app from a file: the page's own checks, the preview and the add.
const { test } = require('node:test');
const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');

const { assert, describe, harness, withDocuments } = require('./common');

const recipe = 'services:\n  notes:\n    image: docker.io/example/notes:1.4.2\nx-zelk:\n  id: notes\n';

function addLook(page) {
  return page.page.evaluate(() => ({
    error: document.getElementById('add-error').textContent,
    done: document.getElementById('add-done').textContent,
    preview: !document.getElementById('preview').hidden,
    text: document.getElementById('recipe-text').value,
  }));
}

async function storeWithAdd(page) {
  await page.page.click('#view-store');
}

/// A recipe text typed in and "Check it" pressed: the program answers with an outcome.
async function checked(page, text) {
  await storeWithAdd(page);
  await page.page.fill('#recipe-text', text);
  await page.page.click('#check');
}

describe('add from a file', () => {
  const large = 64 * 1024;
  const typed = [
    ['nothing', '', 'Choose a file or paste a recipe first.'],
    ['white space only', ' \n\t \n', 'Choose a file or paste a recipe first.'],
    ['65,536 UTF-16 units', 'a'.repeat(large), null],
    ['65,537 UTF-16 units', 'a'.repeat(large + 1), 'This is too large to be a recipe.'],
    ['32,768 emoji (65,536 units)', '\u{1F98A}'.repeat(large / 2), null],
    ['32,769 emoji (65,538 units)', '\u{1F98A}'.repeat(large / 2 + 1), 'This is too large to be a recipe.'],
    ['a recipe', recipe, null],
  ];
  for (const [name, text, error] of typed) {
    test('"Check it" with ' + name, async () => {
      await withDocuments(['render-none-installed'], async page => {
        await page.page.locator('#recipe-text').evaluate((node, value) => {
          node.value = value;
          node.dispatchEvent(new Event('input'));
        }, text);
        await page.page.click('#check');
        const look = await addLook(page);
        const words = await page.take();
        if (error === null) {
          assert.equal(look.error, '');
          assert.equal(words.length, 1);
          assert.ok(words[0] === 'preview:' + text, 'the text is posted exactly');
        } else {
          assert.equal(look.error, error);
          assert.deepEqual(words, []);
        }
        assert.equal(look.preview, false);
      });
    });
  }

  const files = [
    ['a recipe file', Buffer.from(recipe.replace(/\n/g, '\r\n')), null],
    ['a file of 65,536 bytes', Buffer.alloc(large, 'b'), null],
    ['a file of 65,537 bytes', Buffer.alloc(large + 1, 'b'), 'This is too large to be a recipe.'],
    ['a file of 65,537 bytes that is 21,846 characters', Buffer.from('\u20ac'.repeat(21845) + 'bb'),
      'This is too large to be a recipe.'],
  ];
  for (const [name, buffer, error] of files) {
    test('choosing ' + name, async () => {
      await withDocuments(['render-none-installed'], async page => {
        await page.page.setInputFiles('#recipe-file', { name: 'app.yaml', mimeType: 'text/plain', buffer });
        if (error === null) await page.page.waitForFunction(() => window.__posted.length > 0);
        const look = await addLook(page);
        const words = await page.take();
        if (error === null) {
          // A text box holds its lines with line feeds only; what is posted is the file's text.
          assert.equal(look.text, buffer.toString('utf8').replace(/\r\n/g, '\n'), 'the file is put in the text box');
          assert.equal(words.length, 1);
          assert.ok(words[0] === 'preview:' + buffer.toString('utf8'), 'the file is posted exactly, line ends kept');
        } else {
          assert.equal(look.error, error);
          assert.equal(look.text, '');
          assert.deepEqual(words, []);
        }
        assert.equal(await page.page.inputValue('#recipe-file'), '', 'the chooser is reset');
      });
    });
  }

  // Chosen with a second chooser the page does not listen to, so that the file can change or go
  // away before the page's own chooser hands it over and the page reads it.
  for (const [what, spoil] of [['changed', file => fs.writeFileSync(file, recipe + '# more\n')],
    ['removed', file => fs.rmSync(file)]]) {
    test(`a chosen file that cannot be read (${what} meanwhile): its name and what to do on the error line`, async () => {
      const folder = fs.mkdtempSync(path.join(os.tmpdir(), 'zelk-page-file-'));
      try {
        await withDocuments(['render-none-installed'], async page => {
          await storeWithAdd(page);
          await page.page.fill('#recipe-text', recipe);
          await page.page.click('#check');
          await page.outcome('outcome-preview');
          const file = path.join(folder, 'my notes.yaml');
          fs.writeFileSync(file, recipe);
          await page.page.evaluate(() => {
            const probe = document.createElement('input');
            probe.type = 'file';
            probe.id = 'probe';
            probe.hidden = true;
            document.body.append(probe);
          });
          await page.page.setInputFiles('#probe', file);
          // The browser notes the file's size and time when the page first asks for them; a
          // read fails when the file no longer matches that note.
          assert.equal(await page.page.evaluate(() => document.getElementById('probe').files[0].size), recipe.length);
          spoil(file);
          await page.page.evaluate(() => {
            const chooser = document.getElementById('recipe-file');
            chooser.files = document.getElementById('probe').files;
            chooser.dispatchEvent(new Event('change'));
          });
          await page.page.waitForFunction(() => document.getElementById('add-error').textContent !== '');
          assert.deepEqual(await addLook(page), {
            error: 'my notes.yaml could not be read. Choose it again, or paste its text below.',
            done: '', preview: false, text: recipe,
          });
          assert.deepEqual(await page.take(), ['preview:' + recipe]);
          assert.equal(await page.page.inputValue('#recipe-file'), '', 'the chooser is reset');
        });
      } finally {
        fs.rmSync(folder, { recursive: true, force: true });
      }
    });
  }

  test('a preview, then "Add to my Zelk" posts exactly the previewed text', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await storeWithAdd(page);
      await page.page.fill('#recipe-text', recipe);
      await page.page.click('#check');
      await page.outcome('outcome-preview');
      const doc = harness.documentValue('outcome-preview');
      const preview = await page.page.evaluate(() => ({
        shows: document.getElementById('preview-shows').textContent,
        warning: document.querySelector('.warning-line').textContent,
        bold: document.querySelector('.warning-line strong').textContent,
        replaces: !document.getElementById('preview-replaces').hidden,
        buttons: [...document.querySelectorAll('#preview button')].map(b => b.textContent),
      }));
      assert.deepEqual(preview, {
        shows: doc.shows,
        warning: 'Not reviewed. It runs a program from the image named above: add it only if you trust who gave it to you.',
        bold: 'Not reviewed.',
        replaces: false,
        buttons: ['+Add to my Zelk', 'Cancel'],
      });
      assert.equal((await addLook(page)).preview, true);
      await page.page.click('#add');
      assert.deepEqual(await page.take(), ['preview:' + recipe, 'add:' + recipe]);
      await page.outcome('outcome-add');
      assert.deepEqual(await addLook(page), { error: '', done: 'Notes is in the list now.', preview: false, text: '' });
    });
  });

  test('an outcome that comes after the text was changed shows nothing', async () => {
    for (const name of ['outcome-preview', 'outcome-preview-refused']) {
      await withDocuments(['render-none-installed'], async page => {
        await checked(page, recipe);
        await page.page.locator('#recipe-text').press('End');
        await page.page.keyboard.type('#');
        await page.outcome(name);
        assert.deepEqual(await addLook(page), { error: '', done: '', preview: false, text: recipe + '#' }, name);
        await page.page.evaluate(() => document.getElementById('add').click());
        assert.deepEqual(await page.take(), ['preview:' + recipe], name);
      });
    }
  });

  test('only the outcome of the latest check shows, for the text that was checked', async () => {
    await withDocuments(['render-none-installed'], async page => {
      const second = recipe + '# the second\n';
      await checked(page, recipe);
      await page.page.fill('#recipe-text', second);
      await page.page.click('#check');
      await page.outcome('outcome-preview');
      assert.equal((await addLook(page)).preview, false, 'the first check\'s outcome shows nothing');
      await page.outcome('outcome-preview');
      assert.equal((await addLook(page)).preview, true, 'the second check\'s outcome shows');
      await page.page.click('#add');
      assert.deepEqual(await page.take(), ['preview:' + recipe, 'preview:' + second, 'add:' + second]);
    });
  });

  test('"Add to my Zelk" after the text was edited posts nothing', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await storeWithAdd(page);
      await page.page.fill('#recipe-text', recipe);
      await page.page.click('#check');
      await page.outcome('outcome-preview');
      await page.take();
      await page.page.locator('#recipe-text').press('End');
      await page.page.keyboard.type('#');
      assert.equal((await addLook(page)).preview, false, 'typing hides the preview');
      await page.page.evaluate(() => document.getElementById('add').click());
      assert.deepEqual(await page.take(), []);
    });
  });

  test('"Cancel" hides the preview and forgets it', async () => {
    await withDocuments(['render-none-installed'], async page => {
      await storeWithAdd(page);
      await page.page.fill('#recipe-text', recipe);
      await page.page.click('#check');
      await page.outcome('outcome-preview-replaces');
      assert.equal(await page.visible('#preview-replaces'), true);
      assert.equal(await page.words('#preview-replaces'), 'It replaces the recipe with the same id that you added ' +
        'before. The next start makes the container anew; its data stays.');
      await page.page.click('#add-cancel');
      assert.equal((await addLook(page)).preview, false);
      await page.page.evaluate(() => document.getElementById('add').click());
      assert.deepEqual(await page.take(), ['preview:' + recipe]);
    });
  });

  test('a refused preview or add shows the program\'s message and hides the preview', async () => {
    for (const [name, adding] of [['outcome-preview-refused', false], ['outcome-add-refused', true],
      ['outcome-too-large', false]]) {
      await withDocuments(['render-none-installed'], async page => {
        await checked(page, recipe);
        if (adding) {
          await page.outcome('outcome-preview');
          await page.page.click('#add');
        }
        await page.outcome(name);
        const doc = harness.documentValue(name);
        assert.equal(doc.ok, false);
        assert.deepEqual(await addLook(page), { error: doc.error, done: '', preview: false, text: recipe }, name);
        const colour = await page.page.evaluate(() => getComputedStyle(document.getElementById('add-error')).color);
        assert.equal(colour, await page.colour('--danger-text'));
      });
    }
  });

  test('a warning without the leading sentence is shown unchanged', async () => {
    await withDocuments(['render-none-installed'], async page => {
      const doc = harness.documentValue('outcome-preview');
      doc.warning = 'Someone else wrote this warning.';
      await checked(page, recipe);
      await page.outcome(JSON.stringify(doc));
      assert.equal(await page.text('#preview-warning'), 'Someone else wrote this warning.');
    });
  });

  test('typing clears the error and done lines', async () => {
    await withDocuments(['render-none-installed', 'outcome-add'], async page => {
      await storeWithAdd(page);
      assert.equal((await addLook(page)).done, 'Notes is in the list now.');
      await page.page.click('#check');
      assert.equal((await addLook(page)).error, 'Choose a file or paste a recipe first.');
      await page.page.locator('#recipe-text').type('x');
      assert.deepEqual(await addLook(page), { error: '', done: '', preview: false, text: 'x' });
    });
  });
});

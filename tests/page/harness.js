'use strict';
// Drives the window program's page in Debian's Chromium. One browser serves every test; each
// test gets a fresh page. The page is served from a made-up address (an init script, which
// puts in the stub for the program's IPC channel, runs only on a navigation), and every other
// request is aborted and counted: the page must never ask the network for anything.

const fs = require('node:fs');
const os = require('node:os');
const path = require('node:path');
const { execFileSync } = require('node:child_process');
const { chromium } = require('playwright-core');

const pageAddress = 'http://zelk-page.invalid/';
const here = __dirname;
const sourceDir = process.env.ZELK_SOURCE_DIR || path.resolve(here, '..', '..');
const pageFile = path.join(sourceDir, 'src', 'page.html');
const artefactsDir = process.env.ZELK_PAGE_ARTEFACTS || path.join(os.tmpdir(), 'zelk-page-artefacts');
const documentsDir = path.join(artefactsDir, 'documents');

const chromiumFlags = [
  '--headless', '--no-sandbox', '--disable-gpu', '--disable-quic', '--no-first-run',
  '--disable-background-networking', '--disable-component-update', '--disable-sync',
];

let browser = null;
const pageHtml = fs.readFileSync(pageFile);

/// Writes the documents with the program's builders (page_documents), afresh for every run.
function writeDocuments() {
  const program = process.env.ZELK_PAGE_DOCUMENTS_PROGRAM;
  if (!program) throw new Error('ZELK_PAGE_DOCUMENTS_PROGRAM names no program (run the tests through ctest)');
  fs.rmSync(documentsDir, { recursive: true, force: true });
  execFileSync(program, [documentsDir], { stdio: 'inherit' });
}

async function startBrowser() {
  // Playwright starts Chromium with a fresh profile folder of its own and removes it at the end.
  browser = await chromium.launch({
    executablePath: process.env.ZELK_CHROMIUM || '/usr/bin/chromium',
    headless: true,
    args: chromiumFlags,
  });
}

async function stopBrowser() {
  if (browser !== null) await browser.close();
  browser = null;
}

/// The text of a document the C++ builders wrote for a scenario.
function documentText(name) {
  return fs.readFileSync(path.join(documentsDir, name + '.json'), 'utf8');
}

/// A document parsed, for tests that derive what they expect from it.
function documentValue(name) {
  return JSON.parse(documentText(name));
}

class ZelkPage {
  constructor(page) {
    this.page = page;
    this.foreignRequests = [];
    this.failedRequests = [];
    this.pageErrors = [];
  }

  /// Every word the page posted so far, in order.
  async posted() {
    return this.page.evaluate(() => window.__posted.slice());
  }

  /// The words posted since the last call of `take`.
  async take() {
    return this.page.evaluate(() => window.__posted.splice(0));
  }

  /// Runs "<fn>(<document>)" in the page, as the program does, with a document from the
  /// builders (by scenario name) or a literal document text.
  async send(fn, name) {
    const text = name.startsWith('{') ? name : documentText(name);
    await this.page.evaluate(fn + '(' + text + ')');
  }

  render(name) { return this.send('render', name); }
  shelves(name) { return this.send('shelves', name); }
  outcome(name) { return this.send('outcome', name); }
  made(name) { return this.send('made', name); }

  /// The text of the element, as the DOM holds it.
  text(selector) {
    return this.page.locator(selector).first().evaluate(node => node.textContent);
  }

  /// The text of the element as the markup's white space shows it: runs of blanks and line
  /// ends as one blank (a long text of the page's own is wrapped over several lines).
  async words(selector) {
    return (await this.text(selector)).replace(/[ \t\r\n]+/g, ' ').trim();
  }

  /// Whether the element is in the layout (not hidden by itself or an ancestor).
  visible(selector) {
    return this.page.locator(selector).first().isVisible();
  }

  /// A card's facts as the user would read them.
  cards() {
    return this.page.evaluate(() => [...document.querySelectorAll('#cards .card')].map(card => ({
      app: card.dataset.app,
      accent: card.dataset.accent,
      offer: card.classList.contains('offer'),
      glyph: card.querySelector('.glyph').textContent,
      tags: [...card.querySelectorAll('.tag')].map(t => t.textContent),
      tagHovers: [...card.querySelectorAll('.tag')].map(t => t.title),
      name: card.querySelector('.card-name').textContent,
      summary: card.querySelector('.card-summary').textContent,
      status: card.querySelector('.status').textContent,
      dot: card.querySelector('.card-state .dot').className,
      buttons: [...card.querySelectorAll('.actions button')].map(b => ({
        action: b.dataset.action,
        text: b.textContent,
        label: b.getAttribute('aria-label'),
        disabled: b.disabled,
      })),
      links: [...card.querySelectorAll('.card-links button')].map(b => ({
        action: b.dataset.action,
        text: b.textContent,
        label: b.getAttribute('aria-label'),
        hover: b.title,
      })),
      linksShown: card.querySelector('.card-links') !== null && !card.querySelector('.card-links').hidden,
    })));
  }

  /// The card of an app or offer id.
  card(id) {
    return this.page.locator(`#cards .card[data-app="${id}"]`);
  }

  /// What has the keyboard focus: the card's app id and the button's action, a card itself, or
  /// the element's id.
  focused() {
    return this.page.evaluate(() => {
      const node = document.activeElement;
      if (node === null || node === document.body) return null;
      const card = node.closest('.card');
      if (card === node) return { card: card.dataset.app };
      if (card !== null) return { app: card.dataset.app, action: node.dataset.action };
      return { id: node.id };
    });
  }

  /// Waits until the focus is on an element outside the dialogs. A dialog that closes lets go
  /// of its focus over a few turns: its button may keep the focus for a moment, then the body
  /// has it, and then the page puts it back where it belongs.
  focusOutsideDialogs() {
    return this.page.waitForFunction(() => {
      const node = document.activeElement;
      return node !== null && node !== document.body && node.closest('dialog') === null;
    });
  }

  /// A CSS custom property of the root as the page resolves it.
  token(name) {
    return this.page.evaluate(n => getComputedStyle(document.documentElement).getPropertyValue(n).trim(), name);
  }

  /// A colour token as the page paints it, a mixed one included (the probe computes it).
  colour(name) {
    return this.page.evaluate(n => {
      const probe = document.createElement('span');
      probe.style.color = `var(${n})`;
      document.body.append(probe);
      const value = getComputedStyle(probe).color;
      probe.remove();
      return value;
    }, name);
  }

  /// The page's scroll position once it has stopped moving (the wheel may scroll smoothly):
  /// the same for a few frames in a row.
  async scrollSettled() {
    await this.page.waitForFunction(() => new Promise(resolve => {
      const start = window.scrollY;
      let frames = 0;
      const step = () => {
        if (window.scrollY !== start) return resolve(false);
        if (++frames === 5) return resolve(true);
        requestAnimationFrame(step);
      };
      requestAnimationFrame(step);
    }));
    return this.page.evaluate(() => window.scrollY);
  }

  async screenshot(name) {
    fs.mkdirSync(artefactsDir, { recursive: true });
    const file = path.join(artefactsDir, name + '.png');
    // The whole page as a window that tall would show it (a full-page capture of a shorter
    // window leaves the sticky side panel wherever the capture scrolled to).
    const size = this.page.viewportSize();
    const height = await this.page.evaluate(() => document.documentElement.scrollHeight);
    await this.page.setViewportSize({ width: size.width, height: Math.max(height, size.height) });
    await this.page.screenshot({ path: file });
    await this.page.setViewportSize(size);
    return file;
  }

  async close() {
    await this.page.context().close();
  }
}

/// A fresh page with the stub IPC channel, loaded and past its "ready".
/// options: viewport {width, height}, colorScheme 'light'|'dark', clock (install a fake clock
/// before the page's script runs), ipc (a function taking each posted word, for the bridge).
async function openPage(options = {}) {
  // A context of its own for every page: a fake clock and everything else stay with it.
  const context = await browser.newContext({ viewport: options.viewport || { width: 1120, height: 760 } });
  const page = await context.newPage();
  // Generous: a busy machine runs several browsers and test programs at once.
  page.setDefaultTimeout(15000);
  const zelk = new ZelkPage(page);
  page.on('pageerror', error => zelk.pageErrors.push(String(error)));
  await page.emulateMedia({ colorScheme: options.colorScheme || 'light' });
  if (options.clock) {
    // Time stands still until a test moves it, so the page's one-second timer ticks on whole
    // seconds after the documents came. The installed clock runs until it is paused, and on a
    // busy machine seconds pass between the two calls: the pause is well ahead of the start.
    await page.clock.install({ time: new Date('2026-03-02T10:00:00Z') });
    await page.clock.pauseAt(new Date('2026-03-02T10:10:00Z'));
  }
  if (options.ipc) await page.exposeFunction('__zelkPost', options.ipc);
  await page.addInitScript(forward => {
    window.__posted = [];
    window.ipc = {
      postMessage(word) {
        window.__posted.push(String(word));
        if (forward && window.__zelkPost) window.__zelkPost(String(word));
      },
    };
  }, Boolean(options.ipc));
  await page.route('**/*', route => {
    const url = route.request().url();
    if (url === pageAddress) {
      return route.fulfill({ status: 200, contentType: 'text/html; charset=utf-8', body: pageHtml });
    }
    zelk.foreignRequests.push(url);
    return route.abort('blockedbyclient');
  });
  // A request the page's own policy blocks never reaches the route above; one that got past
  // both would show here.
  page.on('requestfailed', request => {
    zelk.failedRequests.push([request.url(), request.failure() ? request.failure().errorText : '']);
  });
  page.on('requestfinished', request => {
    if (request.url() !== pageAddress) zelk.foreignRequests.push(request.url());
  });
  page.on('websocket', ws => zelk.foreignRequests.push(ws.url()));
  await page.goto(pageAddress);
  return zelk;
}

module.exports = {
  writeDocuments, startBrowser, stopBrowser, openPage, documentText, documentValue, pageAddress, artefactsDir,
};

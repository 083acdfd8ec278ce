'use strict';
// The page and the program together: the real loop with its worker threads and the fake
// runtime program (page_bridge) behind the real page in Chromium. Scripts the loop runs go
// into the page; words the page posts go back into the loop. The user presses
// "Install and open" on an app's card and watches it until it runs.
const { before, after, test } = require('node:test');
const assert = require('node:assert/strict');
const { spawn } = require('node:child_process');
const readline = require('node:readline');
const harness = require('./harness');

before(async () => { await harness.startBrowser(); });
after(async () => { await harness.stopBrowser(); });

class Bridge {
  constructor() {
    this.child = spawn(process.env.ZELK_PAGE_BRIDGE_PROGRAM, [process.env.ZELK_FAKE_PODMAN],
      { stdio: ['pipe', 'pipe', 'inherit'] });
    this.page = null;
    this.opened = [];
    this.scripts = 0;
    this.failures = [];
    this.waiting = [];  // scripts that came before the page had loaded, run in order once it has
    this.chain = Promise.resolve();
    this.ended = new Promise(resolve => this.child.on('exit', code => resolve(code)));
    this.started = new Promise(resolve => { this.onStarted = resolve; });
    readline.createInterface({ input: this.child.stdout }).on('line', line => this.line(line));
  }

  line(line) {
    if (line === 'started') {
      this.onStarted();
    } else if (line.startsWith('opened ')) {
      this.opened.push(line.slice(7));
    } else if (line.startsWith('script ')) {
      const script = JSON.parse(line.slice(7));
      if (this.page === null) {
        this.waiting.push(script);
      } else {
        this.run(script);
      }
    }
  }

  // Scripts run one after another, in the order the loop ran them, as in the web view.
  run(script) {
    this.scripts += 1;
    this.chain = this.chain.then(() => this.page.page.evaluate(script)).catch(error => this.failures.push(String(error)));
  }

  send(line) {
    this.child.stdin.write(line + '\n');
  }

  post(word) {
    this.send('word ' + JSON.stringify(word));
  }

  attach(page) {
    this.page = page;
    for (const script of this.waiting.splice(0)) this.run(script);
  }
}

function flowCard(page) {
  return page.page.evaluate(() => {
    const card = [...document.querySelectorAll('#cards .card')].find(c => c.dataset.app === 'flow');
    if (!card) return null;
    const open = card.querySelector('button[data-action="open"]');
    return {
      status: card.querySelector('.status').textContent,
      dot: card.querySelector('.card-state .dot').className,
      open: open.textContent,
      disabled: open.disabled,
      label: open.getAttribute('aria-label'),
    };
  });
}

test('"Install and open" on an app card ends with the card showing the app running', async () => {
  const bridge = new Bridge();
  let page = null;
  try {
    await bridge.started;
    bridge.send('show');
    page = await harness.openPage({ ipc: word => bridge.post(word) });
    bridge.attach(page);

    // The first states read: nothing is installed, so the page chooses the App Store.
    await page.page.waitForFunction(() => document.getElementById('view-title').textContent === 'App Store', null,
      { timeout: 30000 });
    await page.page.waitForFunction(() => document.getElementById('state-title').textContent === 'Local apps can run');
    assert.deepEqual(await flowCard(page), {
      status: 'not installed', dot: 'dot', open: 'Install and open\u2192', disabled: false,
      label: 'Install and open, Flow',
    });

    // Every status line the card shows from now on.
    await page.page.evaluate(() => {
      window.__statuses = [];
      const note = () => {
        const card = [...document.querySelectorAll('#cards .card')].find(c => c.dataset.app === 'flow');
        const status = card ? card.querySelector('.status').textContent : null;
        if (status !== null && window.__statuses[window.__statuses.length - 1] !== status) window.__statuses.push(status);
      };
      new MutationObserver(note).observe(document.getElementById('cards'), { childList: true, subtree: true });
    });
    await page.page.getByRole('button', { name: 'Install and open, Flow' }).click();

    await page.page.waitForFunction(() => {
      const card = [...document.querySelectorAll('#cards .card')].find(c => c.dataset.app === 'flow');
      return card && card.querySelector('.status').textContent === 'running';
    }, null, { timeout: 60000 });
    await bridge.chain;
    const card = await flowCard(page);
    const address = bridge.opened[0];
    assert.match(address, /^http:\/\/127\.0\.0\.1:\d+\/$/);
    const short = address.slice('http://'.length, -1);
    assert.deepEqual(card, {
      status: 'running', dot: 'dot ready', open: 'Open ' + short + '\u2197', disabled: false,
      label: 'Open ' + short + ', Flow',
    });
    const port = short.split(':')[1];
    const statuses = await page.page.evaluate(() => window.__statuses);
    assert.deepEqual(statuses.filter(s => s !== 'starting ...'), [
      'Installing Flow\'s helper "db" with Podman ...',
      'Installing Flow with Podman ...',
      'Waiting for Flow to answer on port ' + port + ' ...',
      'Flow is ready: ' + address,
      'Opened ' + address,
      'running',
    ]);
    assert.deepEqual(bridge.opened, [address]);
    const words = await page.posted();
    assert.equal(words[0], 'ready');
    assert.deepEqual(words.filter(w => w !== 'ready'), ['open:flow']);
    // The side panel and the other controls follow the running app.
    assert.equal(await page.text('#running-count'), '1');
    assert.equal(await page.text('#installed-count'), '1');
    const stop = await page.page.getByRole('button', { name: 'Stop Flow' }).isEnabled();
    assert.equal(stop, true);
    assert.deepEqual(bridge.failures, []);
    assert.deepEqual(page.foreignRequests, []);
    assert.deepEqual(page.pageErrors, []);
    await page.screenshot('bridge-running');
  } finally {
    bridge.send('quit');
    assert.equal(await bridge.ended, 0);
    if (page !== null) await page.close();
  }
});

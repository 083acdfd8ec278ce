'use strict';
// The window program's page in Debian's Chromium: one browser for every case, a fresh page each.
const { after, before, describe } = require('node:test');
const harness = require('./harness');

before(async () => {
  harness.writeDocuments();
  await harness.startBrowser();
});
after(async () => { await harness.stopBrowser(); });

// The groups run at once; the pages they open come from one pool (cases/common.js).
describe('the page', { concurrency: true }, () => {
  require('./cases/frame');
  require('./cases/views');
  require('./cases/side');
  require('./cases/cards');
  require('./cases/shelves');
  require('./cases/dialogs');
  require('./cases/add');
  require('./cases/timing');
  require('./cases/focus');
  require('./cases/looks');
});

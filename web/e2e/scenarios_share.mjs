// Share to Screens against the real core: the operator starts sharing, a
// phone-sized follower opens the sheet's address, follows three GOs, filters
// to one department, rides out the server stopping and starting again, and
// nothing it sends can run the show.

import { call, until } from './operator.mjs';
import { fail } from './harness.mjs';

const shownNumber = (page) => page.evaluate(() => document.querySelector('.follow-number')?.textContent ?? null);
const lostBand = (page) => page.evaluate(() => document.querySelector('[data-testid="follow-lost"]')?.textContent ?? null);

export async function followerScreen(t, context) {
  const { page } = t;
  const port = 40000 + Math.floor(Math.random() * 20000);
  await call(page, 'setSettings', [{ followPort: port }]);
  const status = await call(page, 'setSharing', [true]);
  if (!status?.listening) throw fail(`sharing did not start: ${JSON.stringify(status)}`);
  const address = status.addresses.find((a) => a.startsWith('http://127.0.0.1:'));
  if (!address || !status.qr?.startsWith('<svg')) throw fail(`no loopback address or QR code: ${JSON.stringify(status)}`);

  const phone = await context.newPage();
  await phone.setViewportSize({ width: 390, height: 844 });
  await phone.goto(address);
  const before = await until(() => shownNumber(phone), 'the follower never showed a standby cue', 15000);
  for (let i = 0; i < 3; i++) await page.keyboard.press('Enter');
  await until(async () => (await shownNumber(phone)) !== before || undefined,
    async () => `the follower stayed on ${await shownNumber(phone)} after three GOs`);
  await phone.screenshot({ path: `${t.out}/page-e2e-follower-phone.png` });

  // One department: the big standby is the next cue of that kind.
  await phone.getByRole('button', { name: 'LFX', exact: true }).click();
  await until(() => phone.evaluate(() => document.querySelector('.follow-standby .caption, .caption')?.textContent === 'YOUR NEXT STANDBY' || undefined),
    'the LFX filter did not take');

  // Kept address, server away and back: the screen says so and comes back.
  await call(page, 'pinShareAddress', [true]);
  await call(page, 'setSharing', [false]);
  await until(() => lostBand(phone), 'the follower did not notice the server going away', 10000);
  await call(page, 'setSharing', [true]);
  await until(async () => (await lostBand(phone)) === null || undefined, 'the follower did not reconnect', 30000);

  // Nothing but the token opens it; nothing outside the page is served.
  const wrong = address.replace(/\/f\/[0-9a-f]+\//, `/f/${'0'.repeat(32)}/`);
  for (const [url, expected] of [[wrong, 403], [`${address}../../../etc/passwd`, 404], [`${address}x`, 404]]) {
    const got = (await context.request.get(url, { maxRedirects: 0 })).status();
    if (got !== expected) throw fail(`${url}: expected ${expected}, got ${got}`);
  }
  // A screen that tries to run the show is ignored, and the log says so.
  const fired = (await call(page, 'getState')).fired?.length;
  await phone.evaluate((ws) => new Promise((done) => {
    const socket = new WebSocket(ws);
    socket.onopen = () => { socket.send(JSON.stringify({ type: 'call', name: 'go' })); setTimeout(done, 300); };
  }), address.replace('http://', 'ws://') + 'ws');
  await until(async () => (await call(page, 'getLog')).some((e) => /tuntematon viesti ohitettu/.test(e.text)) || undefined,
    'the log did not say a screen sent something else');
  if ((await call(page, 'getState')).fired?.length !== fired) throw fail('a screen\'s message changed the run');
  await phone.close();
  await call(page, 'setSharing', [false]);
}

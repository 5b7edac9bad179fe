// SPDX-License-Identifier: GPL-3.0-or-later
// The office view in a real browser against a running service: a paced
// virtual null-modem, "tapeway-cli controller" as the machine on one end,
// "tapeway-cli serve" with its web server on the other. Logs in, drops a
// program on the line's card, sees it queued, sees the card say it is being
// sent while the machine reads it and then the transfer's outcome, checks
// that the machine got the exact bytes, switches to Chinese, and leaves
// screenshots of both languages in the build folder.
//
// node office_view.mjs CLI BUILD_DIR   (exit 0 pass, 1 fail, 77 skipped)
import { spawn, spawnSync } from 'node:child_process';
import fs from 'node:fs';
import os from 'node:os';
import path from 'node:path';
import { createRequire } from 'node:module';

const [cli, buildDir] = process.argv.slice(2);
const kSkip = 77;
const kLong = 90_000; // generous: the machine is loaded by other builds and tests
const children = [];
let workDir = '';

async function skip(why) {
  console.log(`skipped: ${why}`);
  await cleanup();
  process.exit(kSkip);
}

let page = null; // once the browser runs: a screenshot of what it showed when the test failed

async function fail(why) {
  console.error(`FAILED: ${why}`);
  if (page) {
    const shot = path.join(buildDir, 'office-failed.png');
    await Promise.race([page.screenshot({ path: shot, fullPage: true }).then(() => console.error(`the page as it was: ${shot}`)),
      new Promise((resolve) => setTimeout(resolve, 10000))]).catch(() => {});
  }
  for (const child of children)
    if (child.log)
      console.error(`--- ${child.label} ---\n${child.log.slice(-4000)}`);
  await cleanup();
  process.exit(1);
}

// Ends the processes this test started (each by its own handle), waits for
// them to go (the service removes its runtime files as it stops), then
// removes the test's folder.
async function cleanup() {
  const running = children.filter((child) => child.exitCode === null && child.signalCode === null);
  const gone = running.map((child) => new Promise((resolve) => {
    child.once('exit', resolve);
    const hard = setTimeout(() => child.kill('SIGKILL'), 15000);
    child.once('exit', () => clearTimeout(hard));
  }));
  for (const child of running.reverse())
    child.kill('SIGTERM');
  await Promise.all(gone);
  if (workDir && !process.env.TAPEWAY_KEEP_TEST_DIR) {
    try {
      fs.rmSync(workDir, { recursive: true, force: true });
    } catch (error) {
      console.error(`note: ${workDir} not removed: ${error.message}`);
    }
  }
}

// A child process whose stdout and stderr are kept (and matched) as text.
function start(label, args) {
  const child = spawn(cli, args, { stdio: ['ignore', 'pipe', 'pipe'], env: { ...process.env, LANG: 'C.UTF-8' } });
  child.label = label;
  child.log = '';
  child.out = '';
  child.stdout.on('data', (data) => { child.out += data; child.log += data; });
  child.stderr.on('data', (data) => { child.log += data; });
  children.push(child);
  return child;
}

// Polls test (plain or async) until it gives a true value, or rejects at the deadline.
async function waitFor(what, test, timeoutMs) {
  const deadline = Date.now() + timeoutMs;
  for (;;) {
    const value = await test();
    if (value)
      return value;
    if (Date.now() > deadline)
      throw new Error(`timed out waiting for ${what}`);
    await new Promise((resolve) => setTimeout(resolve, 100));
  }
}

async function expectQueue(locator, names) {
  await waitFor(`the queue to read ${names}`, async () => (await locator.allTextContents()).join() === names, kLong)
    .catch(async () => fail(`the queue reads ${(await locator.allTextContents()).join()}, not ${names}`));
}

if (!cli || !buildDir)
  await fail('usage: node office_view.mjs CLI BUILD_DIR');
if (!fs.existsSync(cli))
  await fail(`${cli} is not built`);
const require = createRequire(path.join(buildDir, 'web-test', 'package.json'));
let chromium;
try {
  ({ chromium } = require('playwright-core'));
} catch (error) {
  await skip(`playwright-core cannot be loaded from ${buildDir}/web-test: ${error.message}`);
}
if (!fs.existsSync('/usr/bin/chromium'))
  await skip('/usr/bin/chromium is not installed (apt-get install chromium)');
// A build without the web server has no "user" command: nothing to test.
const userHelp = spawnSync(cli, ['user', '--help'], { encoding: 'utf8' });
if (userHelp.status !== 0)
  await skip(`this tapeway-cli has no web server ("tapeway-cli user --help" answered ${userHelp.status}: ${(userHelp.stderr || '').trim().split('\n')[0]})`);

process.on('uncaughtException', (error) => fail(error.stack || String(error)));
process.on('unhandledRejection', (error) => fail(error && error.stack ? error.stack : String(error)));
for (const signal of ['SIGINT', 'SIGTERM'])
  process.on(signal, () => fail(`interrupted by ${signal}`));

workDir = fs.mkdtempSync(path.join(os.tmpdir(), 'tapeway-office-'));
const dir = (name) => path.join(workDir, name);
for (const name of ['out', 'machine', 'run', 'in', 'in/pending', 'lib'])
  fs.mkdirSync(dir(name), { mode: 0o700 });
// What a second machine punched, waiting for approval; the library's version of one.
fs.writeFileSync(dir('lib/O5.NC'), '%\nO5\nG0 X1.5\nM30\n%\n');
fs.writeFileSync(dir('in/pending/O5.NC'), '%\nO5\nG0 X2.75\nM30\n%\n');
fs.writeFileSync(dir('in/pending/O6.NC'), '%\nO6\nM30\n%\n');

// The machine's line: two linked pseudo-terminals, paced as a UART.
const modem = start('null-modem', ['null-modem', '--pace']);
const ports = await waitFor('the null-modem\'s two ports',
  () => { const lines = modem.out.split('\n').filter((line) => line.startsWith('/')); return lines.length >= 2 ? lines : null; }, kLong);

// One operator in the users file; the password on stdin's first line.
const added = spawnSync(cli, ['user', 'add', '--users', dir('users'), 'anna', '--role', 'operator'],
  { input: 'Secret-2026\n', encoding: 'utf8' });
if (added.status !== 0)
  await fail(`user add answered ${added.status}: ${added.stderr}`);

fs.writeFileSync(dir('lines.ini'), [
  '[HTTP]', 'Listen=127.0.0.1:0', `Users=${dir('users')}`, '',
  '[Lathe-3]', `Port=${ports[0]}`, 'Mode=send', 'Outbox=out', 'Baud=9600', '',
  // Its port is not there: the card tells the error, its folders still work.
  '[Mill-1]', 'Port=/dev/tapeway-test-no-such-port', 'Mode=receive', 'Inbox=in', 'Library=lib',
  'Approve=yes', '',
].join('\n'));
const serve = start('serve', ['serve', '--config', dir('lines.ini'), '--runtime-dir', dir('run'),
  '--journal', `sqlite:${dir('run/journal.sqlite')}`]);
const base = await waitFor('the service\'s "office view" line', () => {
  if (serve.exitCode !== null)
    fail(`serve ended with ${serve.exitCode}`);
  const found = serve.log.match(/office view: (https?:\/\/[^\s/]+\/)/) || serve.log.match(/(https?:\/\/127\.0\.0\.1:\d+\/)/);
  return found ? found[1] : null;
}, kLong);

// A program long enough that sending it at 9600 baud takes several seconds.
const blocks = ['%', 'O1234 (OFFICE VIEW TEST)'];
for (let n = 1; blocks.join('\n').length < 9000; ++n)
  blocks.push(`N${n * 10} G01 X${(n % 97) + 10}.250 Z-${(n % 41) + 1}.500 F0.2`);
blocks.push('M30', '%', '');
const program = blocks.join('\n');

const browser = await chromium.launch({ executablePath: '/usr/bin/chromium', args: ['--no-sandbox'] });
const context = await browser.newContext({ viewport: { width: 1280, height: 860 }, locale: 'en-GB' });
page = await context.newPage();
const pageErrors = [];
page.on('pageerror', (error) => pageErrors.push(error.message));
page.setDefaultTimeout(kLong);

await page.goto(base);
// Not logged in: the page shows its own form, not the browser's dialog.
await page.getByRole('heading', { name: 'Log in' }).waitFor();
await page.getByLabel('Name', { exact: true }).fill('anna');
await page.getByLabel('Password', { exact: true }).fill('wrong');
await page.getByRole('button', { name: 'Log in' }).click();
await page.getByText('The name or the password is wrong.').waitFor();
await page.getByLabel('Password', { exact: true }).fill('Secret-2026');
await page.getByRole('button', { name: 'Log in' }).click();
await page.getByText('Signed in as anna (operator)').waitFor();

const card = page.locator('article[data-line="Lathe-3"]');
await card.getByRole('heading', { name: 'Lathe-3', exact: true }).waitFor();
await card.getByText('Waiting', { exact: true }).waitFor();

// Dropped on the card as a file manager would drop it.
const dataTransfer = await page.evaluateHandle((text) => {
  const transfer = new DataTransfer();
  transfer.items.add(new File([text], 'O1234.NC', { type: 'text/plain' }));
  return transfer;
}, program);
await card.dispatchEvent('dragenter', { dataTransfer });
await card.dispatchEvent('drop', { dataTransfer });
await card.getByText('O1234.NC queued for Lathe-3').waitFor();
await card.getByRole('list').getByRole('link', { name: 'O1234.NC' }).waitFor();
await card.getByRole('button', { name: 'Remove O1234.NC' }).waitFor();
if (fs.readFileSync(dir('out/O1234.NC'), 'utf8') !== program)
  await fail('the outbox holds other bytes than the page dropped');

// The machine asks; the card follows the transfer live.
const machine = start('controller', ['controller', '--port', ports[1], 'receive', dir('machine'), '--count', '1']);
await card.getByText(/^Sending O1234\.NC \d+ %$/).waitFor();
await page.screenshot({ path: path.join(buildDir, 'office-sending.png'), fullPage: true });
await card.locator('[data-role="last"]').filter({ hasText: /sent O1234\.NC \(succeeded\)/ }).waitFor();
await card.getByText('Waiting', { exact: true }).waitFor();
await card.getByText('Nothing queued.').waitFor();
await waitFor('the machine to end', () => machine.exitCode !== null, kLong);
if (machine.exitCode !== 0)
  await fail(`the machine ended with ${machine.exitCode}`);
const got = fs.readdirSync(dir('machine'));
if (got.length !== 1 || fs.readFileSync(path.join(dir('machine'), got[0]), 'utf8') !== program)
  await fail(`the machine did not get the program as dropped: ${JSON.stringify(got)}`);

// The queue by keyboard: the picker, Move up, a replace that asks first, Remove.
const picker = card.locator('input[type="file"]');
await picker.setInputFiles([{ name: 'P1.NC', mimeType: 'text/plain', buffer: Buffer.from('%\nO0001\nM30\n%\n') },
  { name: 'P2.NC', mimeType: 'text/plain', buffer: Buffer.from('%\nO0002\nM30\n%\n') }]);
await card.getByText('P2.NC queued for Lathe-3').waitFor();
const queued = card.locator('ol.queue .queue-name');
await expectQueue(queued, 'P1.NC,P2.NC');
await card.getByRole('button', { name: 'Move P2.NC up' }).click();
await expectQueue(queued, 'P2.NC,P1.NC');
if (!fs.readFileSync(dir('out/.order'), 'utf8').includes('P2.NC'))
  await fail('the outbox keeps no order after Move up');
await picker.setInputFiles([{ name: 'P1.NC', mimeType: 'text/plain', buffer: Buffer.from('%\nO0001 (NEW)\nM30\n%\n') }]);
await page.getByText('P1.NC is already queued for Lathe-3. Replace it?').waitFor();
await page.getByRole('button', { name: 'Replace', exact: true }).click();
await card.getByText('P1.NC replaced in the queue of Lathe-3').waitFor();
if (!fs.readFileSync(dir('out/P1.NC'), 'utf8').includes('(NEW)'))
  await fail('the replaced program is not the new one');
await card.getByRole('button', { name: 'Remove P2.NC' }).click();
await page.getByRole('dialog').getByRole('button', { name: 'Remove P2.NC' }).click();
await expectQueue(queued, 'P1.NC');
if (fs.existsSync(dir('out/P2.NC')))
  await fail('a removed program is still in the outbox');

// The other machine's pending programs: the difference from the library's
// version, approval over it, and a rejection.
const mill = page.locator('article[data-line="Mill-1"]');
await mill.locator('summary').filter({ hasText: 'Folders of Mill-1' }).click();
await mill.getByRole('button', { name: 'Pending', exact: true }).click();
await mill.getByRole('button', { name: 'Show the difference of O5.NC' }).click();
const diff = page.locator('#diff');
await diff.getByText('G0 X2.75').waitFor();
await diff.getByText('G0 X1.5').waitFor();
await page.screenshot({ path: path.join(buildDir, 'office-diff.png'), fullPage: true });
await page.keyboard.press('Escape');
await mill.getByRole('button', { name: 'Approve O5.NC and replace the library\'s version' }).click();
await page.getByRole('dialog').getByRole('button', { name: 'Replace in library' }).click();
await waitFor('the library to hold the approved version',
  () => fs.readFileSync(dir('lib/O5.NC'), 'utf8').includes('X2.75'), kLong);
await mill.getByRole('button', { name: 'Reject O6.NC' }).click();
await page.getByRole('dialog').getByRole('button', { name: 'Reject', exact: true }).click();
await waitFor('O6.NC to leave pending/', () => !fs.existsSync(dir('in/pending/O6.NC')), kLong);
await mill.getByText('This folder is empty.').waitFor();

await page.screenshot({ path: path.join(buildDir, 'office-en.png'), fullPage: true });

// The journal has the transfer, newest first.
await page.getByRole('link', { name: 'Journal' }).click();
await page.locator('#journal-table tbody tr').filter({ hasText: 'O1234.NC' }).filter({ hasText: 'sent' }).first().waitFor();
await page.getByRole('link', { name: 'Lines' }).click();

// Chinese, remembered over a reload.
await page.getByLabel('Language').selectOption('zh');
await card.getByText('等待中', { exact: true }).waitFor();
await page.getByRole('heading', { name: '线路' }).waitFor();
await page.reload();
await page.locator('article[data-line="Lathe-3"]').getByText('等待中', { exact: true }).waitFor();
if ((await page.locator('html').getAttribute('lang')) !== 'zh-CN')
  await fail('the page does not say it is in Chinese after the reload');
await page.screenshot({ path: path.join(buildDir, 'office-zh.png'), fullPage: true });

if (pageErrors.length)
  await fail(`the page threw: ${pageErrors.join('; ')}`);
await browser.close();
console.log(`passed; screenshots in ${buildDir}/office-en.png and office-zh.png`);
await cleanup();
process.exit(0);

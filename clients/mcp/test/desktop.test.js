// The MCP server driven by the SDK's own client over stdio, on a headless desktop it starts
// itself with the act-form fixture application.
import assert from 'node:assert/strict';
import { existsSync } from 'node:fs';
import { resolve } from 'node:path';
import { fileURLToPath } from 'node:url';
import { after, before, describe, test } from 'node:test';
import { inflateSync } from 'node:zlib';

import { Client } from '@modelcontextprotocol/sdk/client/index.js';
import { StdioClientTransport } from '@modelcontextprotocol/sdk/client/stdio.js';
import { AjvJsonSchemaValidator } from '@modelcontextprotocol/sdk/validation/ajv';

const packageDir = resolve(fileURLToPath(new URL('..', import.meta.url)));
const buildDir = resolve(process.env.TAVREN_BUILD_DIR ?? resolve(packageDir, '..', '..', 'build'));
const serviceBinary = resolve(buildDir, 'bin', 'tavren-service');
const fixtureApp = resolve(buildDir, 'bin', 'tavren-fixture-act-form');
const haveBuild = existsSync(serviceBinary) && existsSync(fixtureApp);

/** @type {Client} */
let client;

/** @param {string} name @param {object} args */
async function call(name, args = {}) {
  return /** @type {any} */ (await client.callTool({ name, arguments: args }));
}

/** @param {any} result */
function textOf(result) {
  return result.content.filter((block) => block.type === 'text').map((block) => block.text).join('\n');
}

/** Tree rows back from read_tree's text. @param {string} text */
function rowsOf(text) {
  const row = /^(\S+) (\S+)(?: ("(?:[^"\\]|\\.)*"))?(?: \[(.*)\])? @(-?\d+),(-?\d+) (\d+)x(\d+)(?: \{(.*)\})?$/;
  return text.split('\n').slice(1).map((line) => {
    const m = row.exec(line);
    assert.ok(m, `unreadable tree row: ${line}`);
    return {
      path: m[1], role: m[2].split('/')[0], subrole: m[2].split('/')[1] ?? '', label: m[3] ? JSON.parse(m[3]) : '', value: m[4] ?? '',
      x: Number(m[5]), y: Number(m[6]), w: Number(m[7]), h: Number(m[8]), actions: m[9] ? m[9].split(',') : [],
    };
  });
}

/** Polls `probe` until it returns something truthy (bounded: the fixture starts asynchronously). */
async function eventually(probe, what, timeoutMs = 20000) {
  const end = Date.now() + timeoutMs;
  for (;;) {
    const value = await probe();
    if (value) return value;
    if (Date.now() > end) assert.fail(`timed out waiting for ${what}`);
    await new Promise((done) => setTimeout(done, 100));
  }
}

async function actWindow() {
  const windows = JSON.parse(textOf(await call('list_windows')));
  return windows.find((w) => w.title === 'Tavren Act' && w.onScreen);
}

/** @param {any} window */
async function treeRows(window) {
  const result = await call('read_tree', { window, maxElements: 100 });
  assert.ok(!result.isError, textOf(result));
  return rowsOf(textOf(result));
}

/** The readable text of the counter label. @param {any} window */
async function counterText(window) {
  const rows = await treeRows(window);
  return rows.find((row) => row.label.startsWith('Pressed'))?.label;
}

describe('tavren-mcp on a headless desktop', { skip: haveBuild ? false : `no build at ${buildDir}` }, () => {
  /** @type {any} */
  let window;

  before(async () => {
    const env = { ...process.env };
    delete env.DISPLAY;
    client = new Client({ name: 'tavren-test', version: '1.0.0' });
    await client.connect(new StdioClientTransport({
      command: process.execPath,
      args: [resolve(packageDir, 'bin', 'tavren-mcp.js'), '--service', serviceBinary, '--headless', '--', fixtureApp],
      env: /** @type {Record<string, string>} */ (env),
      stderr: 'inherit',
    }));
    window = await eventually(actWindow, 'the fixture window');
    await eventually(async () => (await counterText(window)) === 'Pressed 0', 'the fixture tree');
  });

  after(async () => {
    await client?.close();
  });

  test('initialize: server info, capabilities and the loop in the instructions', () => {
    assert.equal(client.getServerVersion()?.name, 'tavren');
    const capabilities = client.getServerCapabilities();
    assert.ok(capabilities?.tools && capabilities.logging);
    const instructions = client.getInstructions() ?? '';
    assert.match(instructions, /Observe/);
    assert.match(instructions, /w0\.3\.1/);
    assert.match(instructions, /STALE WINDOW/);
  });

  test('tools/list: valid schemas, and every acting tool takes the observed window', async () => {
    const { tools } = await client.listTools();
    const names = tools.map((tool) => tool.name);
    for (const name of ['list_apps', 'list_windows', 'read_tree', 'capture_window', 'perform_action', 'set_value',
      'select_text', 'click', 'press_key', 'scroll', 'type_text', 'bring_to_front', 'restore_front',
      'clipboard_snapshot', 'clipboard_restore']) {
      assert.ok(names.includes(name), `${name} listed`);
    }
    const validator = new AjvJsonSchemaValidator();
    for (const tool of tools) {
      assert.equal(tool.inputSchema.type, 'object', tool.name);
      assert.ok(tool.description && tool.description.length > 20, `${tool.name} described`);
      validator.getValidator(tool.inputSchema);  // throws on a schema that is not valid
    }
    const acting = ['perform_action', 'set_value', 'select_text', 'click', 'press_key', 'scroll', 'type_text', 'bring_to_front'];
    for (const name of acting) {
      const tool = tools.find((t) => t.name === name);
      assert.ok(tool?.inputSchema.required?.includes('window'), `${name} requires window`);
      const check = validator.getValidator(tool.inputSchema.properties.window);
      assert.ok(check(window).valid, `${name} accepts a list_windows record`);
    }
  });

  test('read_tree: rows with paths, roles, labels, frames and actions', async () => {
    const rows = await treeRows(window);
    assert.equal(rows[0].path, 'w0');
    assert.equal(rows[0].role, 'AXWindow');
    const button = rows.find((row) => row.label === 'Count');
    assert.ok(button, 'the Count button is read');
    assert.equal(button.role, 'AXButton');
    assert.match(button.path, /^w0(\.\d+)+$/);
    assert.ok(button.actions.includes('AXPress'));
    assert.ok(button.x >= window.x && button.y >= window.y && button.w > 0 && button.h > 0);
    const password = rows.find((row) => row.label === 'Password');
    assert.equal(password?.value, 'protected');
  });

  test('capture_window: an image block that decodes to the window\'s size', async () => {
    const jpeg = await call('capture_window', { window });
    assert.ok(!jpeg.isError, textOf(jpeg));
    const image = jpeg.content.find((block) => block.type === 'image');
    assert.equal(image.mimeType, 'image/jpeg');
    const bytes = Buffer.from(image.data, 'base64');
    assert.deepEqual([...bytes.subarray(0, 2)], [0xff, 0xd8]);
    const sof = bytes.indexOf(Buffer.from([0xff, 0xc0]));
    assert.ok(sof > 0, 'baseline frame header');
    assert.equal(bytes.readUInt16BE(sof + 5), window.h);
    assert.equal(bytes.readUInt16BE(sof + 7), window.w);

    const png = await call('capture_window', { window, format: 'png' });
    const pngImage = png.content.find((block) => block.type === 'image');
    assert.equal(pngImage.mimeType, 'image/png');
    const data = Buffer.from(pngImage.data, 'base64');
    assert.equal(data.subarray(1, 4).toString('latin1'), 'PNG');
    const width = data.readUInt32BE(16);
    const height = data.readUInt32BE(20);
    assert.deepEqual([width, height], [window.w, window.h]);
    const channels = { 2: 3, 6: 4 }[data[25]];
    const idat = [];
    for (let at = 8; at < data.length;) {
      const length = data.readUInt32BE(at);
      if (data.toString('latin1', at + 4, at + 8) === 'IDAT') idat.push(data.subarray(at + 8, at + 8 + length));
      at += 12 + length;
    }
    const pixels = inflateSync(Buffer.concat(idat));
    assert.equal(pixels.length, height * (1 + width * channels));
    assert.ok(new Set(pixels.subarray(0, 4096)).size > 2, 'the image has content');
  });

  test('click in the background window, verified through the tree; a stale window is refused', async () => {
    const rows = await treeRows(window);
    const button = rows.find((row) => row.label === 'Count');
    const before = await counterText(window);
    const presses = Number(before.split(' ')[1]);
    const at = { x: button.x + button.w / 2, y: button.y + button.h / 2 };

    const clicked = await call('click', { window, ...at });
    assert.ok(!clicked.isError, textOf(clicked));
    assert.equal(JSON.parse(textOf(clicked)).posted, true);
    await eventually(async () => (await counterText(window)) === `Pressed ${presses + 1}`, 'the press to show');

    const moved = { ...window, x: window.x + 5 };
    const stale = await call('click', { window: moved, ...at });
    assert.equal(stale.isError, true);
    assert.match(textOf(stale), /^STALE WINDOW: window \d+ of pid \d+/);
    const staleAction = await call('perform_action', { window: moved, path: button.path });
    assert.match(textOf(staleAction), /^STALE WINDOW/);
    const staleFront = await call('bring_to_front', { window: { ...window, w: window.w + 1 } });
    assert.match(textOf(staleFront), /^STALE WINDOW/);
    // Nothing reached the application: a fresh press counts exactly one more.
    const pressed = await call('perform_action', { window, path: button.path });
    assert.equal(JSON.parse(textOf(pressed)).status, 'ok');
    await eventually(async () => (await counterText(window)) === `Pressed ${presses + 2}`, 'the action to show');
  });

  test('set_value replaces an entry\'s text; a path that names nothing is reported', async () => {
    const rows = await treeRows(window);
    const entry = rows.find((row) => row.label === 'Greeting');
    const set = await call('set_value', { window, path: entry.path, value: 'Set through MCP' });
    assert.equal(JSON.parse(textOf(set)).status, 'ok');
    await eventually(async () => (await treeRows(window)).find((row) => row.path === entry.path)?.value === '"Set through MCP"',
      'the new value');
    const missing = await call('perform_action', { window, path: 'w0.99' });
    assert.equal(missing.isError, true);
    assert.match(textOf(missing), /^NOT FOUND/);
  });

  test('typing: refused until the window is in front, then typed at the caret; a key in the background', async () => {
    const rows = await treeRows(window);
    const entry = rows.find((row) => row.label === 'Greeting');
    const valueNow = async () => (await treeRows(window)).find((row) => row.path === entry.path)?.value;
    const set = await call('set_value', { window, path: entry.path, value: 'Typed' });
    assert.equal(JSON.parse(textOf(set)).status, 'ok');
    await eventually(async () => (await valueNow()) === '"Typed"', 'the starting value');

    const front = await call('bring_to_front', { window });
    assert.ok(!front.isError, textOf(front));
    assert.equal(JSON.parse(textOf(front)).front, true);
    const caret = await call('select_text', { window, path: entry.path, text: 'Typed', selectionType: 'cursor_after' });
    assert.equal(JSON.parse(textOf(caret)).status, 'ok');
    const typed = await call('type_text', { window, text: ' ünïcode' });
    assert.ok(!typed.isError, textOf(typed));
    await eventually(async () => (await valueNow()) === '"Typed ünïcode"', 'the typed text');

    const key = await call('press_key', { window, key: 'backspace' });
    assert.ok(!key.isError, textOf(key));
    await eventually(async () => (await valueNow()) === '"Typed ünïcod"', 'the key to act');
  });
});

// The tool table's rules against a scripted service: which tools are listed, how the observed
// window is checked and how refusals read. No desktop needed.
import assert from 'node:assert/strict';
import { describe, test } from 'node:test';

import { keyCodeOf, modifierFlags } from '../src/keys.js';
import { parseExportLine } from '../src/launch.js';
import { availableTools, callTool } from '../src/server.js';
import { TOOLS } from '../src/tools.js';

const window = { id: 4194311, pid: 321, x: 10, y: 20, w: 400, h: 300 };

/** A service that answers from a table and records what it was asked. */
function scriptedService(answers) {
  const calls = [];
  return {
    calls,
    async call(method, params = {}) {
      calls.push({ method, params });
      const answer = answers[method];
      if (answer === undefined) return { ok: false, error: `Unknown method ${method}` };
      return typeof answer === 'function' ? answer(params) : answer;
    },
  };
}

const tool = (name) => TOOLS.find((entry) => entry.name === name);

describe('tools listed', () => {
  test('tools whose method the service does not know are left out; other errors keep them', async () => {
    const service = scriptedService({
      watchApp: { ok: false, error: 'No matching running app' },
      startRecording: { ok: false, error: 'Missing recording id' },
    });
    const names = (await availableTools(service, TOOLS)).map((entry) => entry.name);
    assert.ok(names.includes('watch_app'));
    assert.ok(names.includes('start_recording') && names.includes('stop_recording'));
    assert.ok(!names.includes('display_status') && !names.includes('display_ensure'));
    assert.ok(names.includes('click') && names.includes('read_tree'));
    // One probe per method, none of them acting: stopRecording is known through startRecording.
    const probed = service.calls.map((c) => c.method).sort();
    assert.deepEqual(probed, ['remoteDisplayStatus', 'startRecording', 'watchApp']);
  });

  test('names are unique and every entry is described', () => {
    const names = TOOLS.map((entry) => entry.name);
    assert.equal(new Set(names).size, names.length);
    for (const entry of TOOLS) assert.ok(entry.description.length > 20, entry.name);
  });
});

describe('the observed window', () => {
  test('service-guarded tools send it as expectedWindow; a stale answer is a plain refusal', async () => {
    const service = scriptedService({ postMouse: { ok: true, result: { status: 'stale-window', posted: false, windowChanged: true } } });
    const result = await callTool(service, tool('click'), { window, x: 50, y: 60 });
    assert.equal(result.isError, true);
    assert.match(result.content[0].text, /^STALE WINDOW: window 4194311 of pid 321 .*Nothing was done/);
    assert.deepEqual(service.calls[0].params.expectedWindow, { windowId: 4194311, pid: 321, x: 10, y: 20, w: 400, h: 300 });
    assert.equal(service.calls[0].params.windowId, 4194311);
    assert.equal(service.calls[0].params.pid, 321);
  });

  test('client-guarded tools compare with the window list before acting', async () => {
    const moved = { ...window, x: 11 };
    const service = scriptedService({ windowCatalog: { ok: true, result: [moved] }, bringToFront: { ok: true, result: {} } });
    const stale = await callTool(service, tool('bring_to_front'), { window });
    assert.match(stale.content[0].text, /^STALE WINDOW/);
    assert.ok(!service.calls.some((c) => c.method === 'bringToFront'), 'nothing acted');

    const gone = scriptedService({ windowCatalog: { ok: true, result: [] } });
    assert.match((await callTool(gone, tool('bring_to_front'), { window })).content[0].text, /^STALE WINDOW/);

    const owner = scriptedService({ windowCatalog: { ok: true, result: [{ ...window, pid: 999 }] } });
    assert.match((await callTool(owner, tool('bring_to_front'), { window })).content[0].text, /^STALE WINDOW/);
  });

  test('typing is refused while another application is in front', async () => {
    const service = scriptedService({
      windowCatalog: { ok: true, result: [window] },
      frontmostApp: { ok: true, result: { pid: 77, bundleId: 'other', name: 'Other' } },
      remoteDesktopInput: { ok: true, result: { posted: true } },
    });
    const refused = await callTool(service, tool('type_text'), { window, text: 'hello' });
    assert.match(refused.content[0].text, /^NOT IN FRONT/);
    assert.ok(!service.calls.some((c) => c.method === 'remoteDesktopInput'));

    const front = scriptedService({
      windowCatalog: { ok: true, result: [window] },
      frontmostApp: { ok: true, result: { pid: 321 } },
      remoteDesktopInput: { ok: true, result: { posted: true } },
    });
    const typed = await callTool(front, tool('type_text'), { window, text: 'hello' });
    assert.ok(!typed.isError);
    assert.deepEqual(front.calls.at(-1), { method: 'remoteDesktopInput', params: { type: 'text', text: 'hello' } });
  });

  test('a missing or malformed window is refused without asking the service', async () => {
    const service = scriptedService({});
    assert.match((await callTool(service, tool('click'), { x: 1, y: 2 })).content[0].text, /^Missing argument window/);
    assert.match((await callTool(service, tool('click'), { window: { id: 1 }, x: 1, y: 2 })).content[0].text, /window record/);
    assert.match((await callTool(service, tool('click'), { window: { ...window, x: 'NaN' }, x: 1, y: 2 })).content[0].text, /window record/);
    assert.equal(service.calls.length, 0);
  });
});

describe('results', () => {
  test('service errors and unknown element paths read plainly', async () => {
    const failing = scriptedService({ performAXAction: { ok: false, error: 'No matching running app' } });
    const failed = await callTool(failing, tool('perform_action'), { window, path: 'w0' });
    assert.deepEqual(failed, { content: [{ type: 'text', text: 'No matching running app' }], isError: true });
    const missing = scriptedService({ performAXAction: { ok: true, result: { status: 'not-found' } } });
    assert.match((await callTool(missing, tool('perform_action'), { window, path: 'w0.9' })).content[0].text, /^NOT FOUND: .*"w0.9"/);
  });

  test('a capture is an image block, sized to the window unless asked', async () => {
    const service = scriptedService({ captureWindow: { ok: true, result: { dataBase64: 'AAAA', width: 200, height: 150, mediaType: 'image/jpeg' } } });
    const result = await callTool(service, tool('capture_window'), { window });
    assert.deepEqual(result.content[0], { type: 'image', data: 'AAAA', mimeType: 'image/jpeg' });
    assert.match(result.content[1].text, /screen point \(10 \+ px\*2\.0000, 20 \+ py\*2\.0000\)/);
    assert.deepEqual(service.calls[0].params, { windowId: 4194311, maxWidth: 400, guiCapture: false });
  });

  test('list_windows narrows to one application through the window-server view', async () => {
    const service = scriptedService({ windowServerWindows: { ok: true, result: { windows: [window] } } });
    const result = await callTool(service, tool('list_windows'), { pid: 321 });
    assert.deepEqual(JSON.parse(result.content[0].text), [window]);
    assert.equal(service.calls[0].method, 'windowServerWindows');
  });

  test('keys and modifiers by name; unknown ones are refused', async () => {
    assert.equal(keyCodeOf('Return'), 36);
    assert.equal(keyCodeOf('enter'), 36);
    assert.equal(keyCodeOf('a'), 0);
    assert.equal(keyCodeOf('F12'), 111);
    assert.equal(keyCodeOf('hyper'), null);
    assert.deepEqual(modifierFlags(['shift', 'control']), { flags: 0x60000 });
    assert.deepEqual(modifierFlags(['meta']), { unknown: 'meta' });
    const service = scriptedService({});
    assert.match((await callTool(service, tool('press_key'), { window, key: 'hyper' })).content[0].text, /^Unknown key/);
    assert.equal(service.calls.length, 0);
  });
});

test('the desktop\'s export lines are read as a shell would', () => {
  assert.deepEqual(parseExportLine("export DISPLAY=':7'"), ['DISPLAY', ':7']);
  assert.deepEqual(parseExportLine("export X='it'\\''s here'"), ['X', "it's here"]);
  assert.deepEqual(parseExportLine("export EMPTY=''"), ['EMPTY', '']);
  assert.equal(parseExportLine('DISPLAY=:7'), null);
  assert.equal(parseExportLine("export X='unterminated"), null);
});
